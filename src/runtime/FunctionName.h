#pragma once

#include <cstddef>
#include <string_view>

namespace norvale {

// The qualified name of the function a log line comes from ("norvale::CRTPReceiver::Start"), read from
// the compiler's signature text, so a line's prefix follows the code when a function is renamed or
// moved. Lambdas give the function they are written in.
class FunctionName {
 public:
  explicit constexpr FunctionName(std::string_view signature) {
    // "void norvale::X::F(int)", "std::pair<int, int> norvale::X::G()", "norvale::X::F()::<lambda()>",
    // "auto norvale::(anonymous namespace)::X::F()::(anonymous class)::operator()() const": the name
    // ends at the first parenthesis that opens a parameter list and starts after the last space
    // outside template arguments and parentheses.
    size_t end = signature.find('(');
    while (end != std::string_view::npos && signature.substr(end + 1, 9) == "anonymous")
      end = signature.find('(', end + 1);
    std::string_view name = signature.substr(0, end);
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < name.size(); ++i) {
      if (name[i] == '<' || name[i] == '(') ++depth;
      if (name[i] == '>' || name[i] == ')') --depth;
      if (name[i] == ' ' && depth == 0) start = i + 1;
    }
    name = name.substr(start);
    const size_t length = name.size() < kCapacity - 1 ? name.size() : kCapacity - 1;
    for (size_t i = 0; i < length; ++i) text_[i] = name[i];
    text_[length] = '\0';
  }

  constexpr const char* c_str() const { return text_; }

 private:
  static constexpr size_t kCapacity = 128;
  char text_[kCapacity] = {};
};

}  // namespace norvale

// The calling function's qualified name as a C string, valid until the end of the full expression
// (the log call it is an argument of).
#define ZEPHRIN_FUNCTION (::norvale::FunctionName(__PRETTY_FUNCTION__).c_str())
