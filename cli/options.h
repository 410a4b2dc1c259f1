// A small parser for `nuvarin` words: positional arguments, flags and
// options with a value ("--to DIR" or "--to=DIR").
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

namespace nuvarin::cli {

class Options {
 public:
  // valueOptions take a value; flags do not. Anything else starting with "--"
  // is an error.
  Options(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
          const std::set<std::string>& flags);
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::vector<std::string>& positional() const { return positional_; }
  bool has(const std::string& name) const;
  std::string value(const std::string& name, const std::string& fallback = "") const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flagsSeen_;
  std::string error_;
};

}  // namespace nuvarin::cli
