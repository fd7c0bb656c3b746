#pragma once
// The Windows Sockets error numbers and texts that the protocol layer's
// messages keep, mapped from the POSIX errors of this platform.

#include <string>

namespace pelorix {

// Windows Sockets number for an errno value (unknown values: 10000 + errno).
int WinsockCode(int err);

// Standard description of a Windows Sockets error number.
std::string WinsockText(int code);

// Windows Sockets number for a getaddrinfo() failure (EAI_*).
int ResolverCode(int gaiError);

// Raises ESocketError for an errno value.
[[noreturn]] void RaiseSocketError(int err);

// Raises ESocketError for a Windows Sockets number.
[[noreturn]] void RaiseWinsockError(int code);

}  // namespace pelorix
