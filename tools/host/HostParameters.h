#pragma once
// The host parameters 1..9 of a device, as the host hands them to the driver's Open: read from a
// "key=value" per line file (as 'zephrin-host probe' writes it) and from --param N=TEXT options.
#include <map>
#include <string>
#include <vector>

namespace zephrin::host {

class HostParameters {
 public:
  static constexpr unsigned kCount = 9;

  // Lines "N=TEXT" with N from 1 to 9; blank lines and lines starting with '#' are skipped. False
  // (with a message) when the file cannot be read or a line is not of that form.
  bool LoadFile(const std::string& path, std::string* error);
  // "N=TEXT"; false (with a message) when it is not of that form.
  bool Set(const std::string& assignment, std::string* error);
  // The file (when one is named), then the --param assignments over it; false (with a message) at
  // the first that fails.
  bool Load(const std::string& path, const std::vector<std::string>& assignments, std::string* error);

  bool Has(unsigned number) const { return values_.count(number) != 0; }
  std::string Get(unsigned number) const;
  void Put(unsigned number, const std::string& text) { values_[number] = text; }
  // Parameters 1..kCount as the device source hands them out: an absent one is "(none)".
  std::string ForHost(unsigned number) const;

 private:
  std::map<unsigned, std::string> values_;
};

}  // namespace zephrin::host
