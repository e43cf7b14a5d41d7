// The system headers first: they must come before anything else includes them.
#include "platform/win32/Cancellation.h"

#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace norvale::platform {

std::string ExecutablePath(size_t maxChars) {
  const std::string path = wide::ToUtf8(wide::ModuleFileName(nullptr));
  return path.size() > maxChars ? std::string() : path;
}

bool HostCoreVersion(Version* out) {
  if (!out) return false;
  const HMODULE core = GetModuleHandleW(L"Stavrik.dll");
  if (!core) return false;
  const std::wstring file = wide::ModuleFileName(core);
  if (file.empty()) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
    return false;
  *out = Version{HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
                 LOWORD(info->dwProductVersionLS)};
  return true;
}

unsigned ProcessorCount() {
  const DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

uint32_t Random32() {
  // A version-4 GUID: its first 32 bits are random.
  GUID guid{};
  if (CoCreateGuid(&guid) == S_OK) return guid.Data1;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  // No GUID: a mix of what changes between calls.
  uint64_t x = static_cast<uint64_t>(counter.QuadPart) ^ (FileTimeNow() << 7) ^ GetCurrentThreadId();
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  return static_cast<uint32_t>(x);
}

void DebugOutput(const char* text) {
  if (!text) return;
  const std::wstring wideText = wide::FromUtf8(text);
  if (!wideText.empty())
    OutputDebugStringW(wideText.c_str());
  else
    OutputDebugStringA(text);
}

std::string GetEnv(const char* name) {
  if (!name || !*name) return {};
  const std::wstring wideName = wide::FromUtf8(name);
  if (wideName.empty()) return {};
  const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  if (n == 0 || n >= size) return {};
  value.resize(n);
  return wide::ToUtf8(value);
}

void* MapMemory(size_t bytes) {
  if (bytes == 0) return nullptr;
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapMemory(void* memory, size_t) {
  if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace norvale::platform
