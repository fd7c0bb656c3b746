#pragma once
// Runs an action that should fail and hands back the error it raised, so a
// test can check the error's text and fields; empty when nothing was raised.

#include <optional>
#include <utility>

namespace pelorix::test {

template <typename E, typename F>
std::optional<E> Raised(F&& action) {
  try {
    std::forward<F>(action)();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace pelorix::test
