#include "engine/ordered_jobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pelorix {
namespace {

TEST(OrderedJobs, RunInOrderWithinTheBoundsAndEveryOneBeforeTheEnd) {
  std::vector<int> done;
  std::atomic<int> queuedMost{0};
  {
    // Room for three jobs of 10 bytes; the 100-byte ones travel alone.
    TOrderedJobs jobs(3, 30);
    std::atomic<int> posted{0};
    for (int i = 0; i < 200; ++i) {
      const std::size_t bytes = i % 50 == 7 ? 100 : 10;
      jobs.Post(
          [&, i] {
            queuedMost = std::max(queuedMost.load(), posted.load() - i - 1);
            if (i % 40 == 0)
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
            done.push_back(i);
          },
          bytes);
      ++posted;
    }
    // The last ones are still queued when the owner goes.
  }
  ASSERT_EQ(done.size(), 200u);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(done[static_cast<std::size_t>(i)], i);
  EXPECT_LE(queuedMost.load(), 3);
}

TEST(OrderedJobs, AFailureIsRaisedOnceAndTheJobsBehindItStillRun) {
  std::vector<std::string> done;  // outlives the jobs that fill it
  TOrderedJobs jobs;
  // Raised by the next Post or by Wait, whichever comes after it ran.
  int raised = 0;
  auto call = [&](const std::function<void()>& f) {
    try {
      f();
    } catch (const std::runtime_error&) {
      ++raised;
    }
  };
  call([&] { jobs.Post([&] { done.push_back("a"); }, 1); });
  call([&] { jobs.Post([] { throw std::runtime_error("disk full"); }, 1); });
  call([&] { jobs.Post([&] { done.push_back("c"); }, 1); });
  call([&] { jobs.Wait(); });
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(done, (std::vector<std::string>{"a", "c"}));
  jobs.Post([&] { done.push_back("d"); }, 1);
  EXPECT_NO_THROW(jobs.Wait());
  EXPECT_EQ(done.back(), "d");
}

}  // namespace
}  // namespace pelorix
