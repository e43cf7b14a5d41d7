#include "HostParameters.h"

#include <fstream>

namespace zephrin::host {

namespace {
bool ParseNumber(const std::string& text, unsigned* number) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '9') return false;
  *number = static_cast<unsigned>(text[0] - '0');
  return true;
}
}  // namespace

bool HostParameters::Set(const std::string& assignment, std::string* error) {
  const size_t equals = assignment.find('=');
  unsigned number = 0;
  if (equals == std::string::npos || !ParseNumber(assignment.substr(0, equals), &number)) {
    *error = "host parameter '" + assignment + "' is not N=TEXT with N from 1 to 9";
    return false;
  }
  values_[number] = assignment.substr(equals + 1);
  return true;
}

bool HostParameters::LoadFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read host parameter file '" + path + "'";
    return false;
  }
  std::string line;
  for (unsigned lineNumber = 1; std::getline(in, line); ++lineNumber) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!Set(line, error)) {
      *error = path + ":" + std::to_string(lineNumber) + ": " + *error;
      return false;
    }
  }
  return true;
}

bool HostParameters::Load(const std::string& path, const std::vector<std::string>& assignments, std::string* error) {
  if (!path.empty() && !LoadFile(path, error)) return false;
  for (const std::string& assignment : assignments)
    if (!Set(assignment, error)) return false;
  return true;
}

std::string HostParameters::Get(unsigned number) const {
  auto it = values_.find(number);
  return it == values_.end() ? std::string() : it->second;
}

std::string HostParameters::ForHost(unsigned number) const {
  auto it = values_.find(number);
  return it == values_.end() || it->second.empty() ? std::string("(none)") : it->second;
}

}  // namespace zephrin::host
