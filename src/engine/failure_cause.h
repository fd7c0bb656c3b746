#pragma once
// Why an account failed, in plain words for the event log: the server's
// "-ERR" text, the socket error's description, the read time-out, the
// certificate or TLS problem.

#include <exception>
#include <string>
#include <string_view>

namespace pelorix {

std::string FailureCause(const std::exception& failure);
// user "@" server " 失败原因: " cause (the account named, so that the same
// cause of two accounts gives two lines).
std::string FailureCauseLine(std::string_view user, std::string_view server,
                             const std::exception& failure);

}  // namespace pelorix
