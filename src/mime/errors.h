#pragma once
// Protocol-layer failures. Workers catch them by these types; their texts
// are the system's own English messages.

#include <stdexcept>
#include <string>

namespace pelorix {

class EPelorixError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A mail-level failure ("Unknown Message Part Type.", an unknown POP3 status).
class EMailError : public EPelorixError {
 public:
  using EPelorixError::EPelorixError;
};

// A malformed address ("@ Outside address").
class EEmailParseError : public EMailError {
 public:
  using EMailError::EMailError;
};

}  // namespace pelorix
