#include "platform/Module.h"

#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"
#include "platform/win32/WideText.h"

namespace norvale::platform {
namespace {
// The system's text for an error code, without its line end.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? wide::ToUtf8(text, n) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message + " (error " + std::to_string(code) + ")";
}
}  // namespace

std::string ModulePath() {
  HMODULE module = nullptr;
  // Any address inside this module names it; this function's own is at hand.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModulePath), &module))
    return {};
  return wide::ToUtf8(wide::ModuleFileName(module));
}

Module* LoadModule(const std::string& path, std::string* error) {
  const std::wstring widePath = wide::FromUtf8(path);
  if (widePath.empty()) {
    if (error) *error = "not a UTF-8 path: " + path;
    return nullptr;
  }
  // Libraries the module needs are looked for beside it first, as a host loading a driver expects.
  HMODULE module = LoadLibraryExW(widePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    if (error) *error = path + ": " + ErrorText(GetLastError());
    return nullptr;
  }
  return reinterpret_cast<Module*>(module);
}

void* ModuleSymbol(Module* module, const char* name, std::string* error) {
  if (!module || !name) return nullptr;
  FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
  if (!symbol && error) *error = std::string(name) + ": " + ErrorText(GetLastError());
  return reinterpret_cast<void*>(symbol);
}

void UnloadModule(Module* module) {
  if (module) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

}  // namespace norvale::platform
