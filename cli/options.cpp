#include "cli/options.h"

namespace nuvarin::cli {

Options::Options(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                 const std::set<std::string>& flags) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2);
      std::string value;
      bool hasValue = false;
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        hasValue = true;
      }
      if (valueOptions.count(name)) {
        if (!hasValue) {
          if (i + 1 >= args.size()) {
            error_ = "--" + name + " needs a value";
            return;
          }
          value = args[++i];
        }
        values_[name] = value;
      } else if (flags.count(name) && !hasValue) {
        flagsSeen_.insert(name);
      } else {
        error_ = "unknown option " + a;
        return;
      }
    } else {
      positional_.push_back(a);
    }
  }
}

bool Options::has(const std::string& name) const { return flagsSeen_.count(name) || values_.count(name); }

std::string Options::value(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

}  // namespace nuvarin::cli
