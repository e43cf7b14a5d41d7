#include "platform/win32/WideText.h"

#include "platform/win32/Cancellation.h"

namespace norvale::platform::wide {

std::string ToUtf8(const wchar_t* text, size_t length) {
  if (!text || length == 0 || length > 0x7FFFFFFF) return {};
  const int wideLength = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wideLength, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return {};
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), n);
  return out;
}

std::wstring ModuleFileName(void* module) {
  // The call cuts a name that does not fit without saying how long it is: grow until it fits.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::wstring buffer(size, L'\0');
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), size);
    if (n == 0) return {};
    if (n < size) {
      buffer.resize(n);
      return buffer;
    }
  }
  return {};
}

}  // namespace norvale::platform::wide
