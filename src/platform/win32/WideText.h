#pragma once
// The system speaks UTF-16; the seam speaks UTF-8.
#include <string>

namespace norvale::platform::wide {

std::string ToUtf8(const wchar_t* text, size_t length);
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }
// Empty for text that is not UTF-8.
std::wstring FromUtf8(const std::string& text);
// A module's full file name, empty when it cannot be read (null: the executable).
std::wstring ModuleFileName(void* module);

}  // namespace norvale::platform::wide
