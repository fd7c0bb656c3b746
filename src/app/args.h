#pragma once
// A small command-line parser: named options with values, switches and
// positional arguments. Anything unknown is a usage error (exit status 2).

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelorix {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ArgParser {
 public:
  explicit ArgParser(std::vector<std::string> args) : args_(std::move(args)) {}

  // "--name VALUE" or "--name=VALUE".
  ArgParser& Option(const std::string& name, std::optional<std::string>* value);
  // "--name" without a value.
  ArgParser& Switch(const std::string& name, bool* value);
  // Positional arguments: at least `min`, at most `max` (-1: no limit).
  ArgParser& Positionals(std::vector<std::string>* values, int min, int max);

  // Throws UsageError naming the first unknown option or surplus argument.
  void Parse();

 private:
  std::vector<std::string> args_;
  std::map<std::string, std::optional<std::string>*> options_;
  std::map<std::string, bool*> switches_;
  std::vector<std::string>* positionals_ = nullptr;
  int minPositionals_ = 0;
  int maxPositionals_ = 0;
};

}  // namespace pelorix
