#include "app/args.h"

namespace pelorix {

ArgParser& ArgParser::Option(const std::string& name, std::optional<std::string>* value) {
  options_[name] = value;
  return *this;
}

ArgParser& ArgParser::Switch(const std::string& name, bool* value) {
  switches_[name] = value;
  return *this;
}

ArgParser& ArgParser::Positionals(std::vector<std::string>* values, int min, int max) {
  positionals_ = values;
  minPositionals_ = min;
  maxPositionals_ = max;
  return *this;
}

void ArgParser::Parse() {
  std::vector<std::string> positional;
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args_.size(); ++i) {
    const std::string& a = args_[i];
    if (!onlyPositional && a == "--") {
      onlyPositional = true;
      continue;
    }
    if (!onlyPositional && a.size() > 1 && a[0] == '-') {
      std::string name = a, value;
      bool hasValue = false;
      if (auto eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        hasValue = true;
      }
      if (auto it = switches_.find(name); it != switches_.end() && !hasValue) {
        *it->second = true;
        continue;
      }
      if (auto it = options_.find(name); it != options_.end()) {
        if (!hasValue) {
          if (i + 1 >= args_.size())
            throw UsageError("option " + name + " needs a value");
          value = args_[++i];
        }
        *it->second = value;
        continue;
      }
      throw UsageError("unknown option: " + a);
    }
    positional.push_back(a);
  }
  int count = static_cast<int>(positional.size());
  if (!positionals_ && count > 0)
    throw UsageError("unexpected argument: " + positional[0]);
  if (positionals_) {
    if (maxPositionals_ >= 0 && count > maxPositionals_) {
      throw UsageError("unexpected argument: " +
                       positional[static_cast<std::size_t>(maxPositionals_)]);
    }
    if (count < minPositionals_)
      throw UsageError("missing argument");
    *positionals_ = std::move(positional);
  }
}

}  // namespace pelorix
