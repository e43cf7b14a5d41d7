#include "support/HostCoreVersion.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zephrin::test {

namespace {

// The driver reads the version resource of the loaded Stavrik.dll. Each version a test asks for is a
// copy of the stand-in built beside the test programs, stamped with that version and loaded from a
// directory of its own; the previous copy is unloaded and deleted first.
HMODULE loaded = nullptr;
std::wstring loadedDirectory;
std::optional<std::string> current;
unsigned copies = 0;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring StandInPath() {
  std::string path = ZEPHRIN_BIN_DIR "/stavrik-standin.dll";
  // The cross build's tree is a path of the build machine, reached through Wine's Z: drive.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return Widen(path);
}

void Unload() {
  if (loaded) {
    FreeLibrary(loaded);
    DeleteFileW((loadedDirectory + L"\\Stavrik.dll").c_str());
    RemoveDirectoryW(loadedDirectory.c_str());
  }
  loaded = nullptr;
  loadedDirectory.clear();
  current.reset();
}

void PutDword(std::vector<char>& bytes, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Sets the file and product version of the resource's fixed part (found by its signature); without
// parts, spoils the signature, so that the version cannot be read.
bool Stamp(std::vector<char>& bytes, const unsigned* parts) {
  const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
  for (size_t i = 0; i + 24 <= bytes.size(); ++i) {
    if (!std::equal(signature, signature + 4, bytes.begin() + static_cast<std::ptrdiff_t>(i))) continue;
    if (!parts) {
      PutDword(bytes, i, 0);
      return true;
    }
    const DWORD high = (parts[0] << 16) | parts[1];
    const DWORD low = (parts[2] << 16) | parts[3];
    PutDword(bytes, i + 8, high);  // file version
    PutDword(bytes, i + 12, low);
    PutDword(bytes, i + 16, high);  // product version
    PutDword(bytes, i + 20, low);
    return true;
  }
  return false;
}

}  // namespace

bool SetHostCoreVersion(const char* version) {
  Unload();
  if (!version) return !GetModuleHandleW(L"Stavrik.dll");
  // Text that is not a version gives a host core whose version cannot be read.
  unsigned parts[4] = {};
  int consumed = 0;
  bool readable = std::sscanf(version, "%u.%u.%u.%u%n", &parts[0], &parts[1], &parts[2], &parts[3], &consumed) == 4 &&
                  version[consumed] == '\0';
  for (unsigned part : parts) readable = readable && part <= 0xFFFF;
  std::ifstream in(StandInPath().c_str(), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty() || !Stamp(bytes, readable ? parts : nullptr)) return false;

  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return false;
  const std::wstring directory = std::wstring(temp) + L"zephrin-stavrik-" + std::to_wstring(GetCurrentProcessId()) +
                                 L"-" + std::to_wstring(copies++);
  if (!CreateDirectoryW(directory.c_str(), nullptr)) return false;
  const std::wstring file = directory + L"\\Stavrik.dll";
  {
    std::ofstream out(file.c_str(), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      RemoveDirectoryW(directory.c_str());
      return false;
    }
  }
  loaded = LoadLibraryW(file.c_str());
  loadedDirectory = directory;
  if (!loaded) {
    DeleteFileW(file.c_str());
    RemoveDirectoryW(directory.c_str());
    loadedDirectory.clear();
    return false;
  }
  current = version;
  return true;
}

std::optional<std::string> CurrentHostCoreVersion() { return current; }

}  // namespace zephrin::test
