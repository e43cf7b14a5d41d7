#pragma once
// Loads one of the shared libraries from the build's bin directory as the recording host does (dlopen,
// LoadLibrary), and finds its entry points by name.
#include <string>
#include <vector>

namespace norvale::platform {
struct Module;
}

namespace zephrin::test {

class HostLibrary {
 public:
  // name: "Zephrin" or "Wendrick"; loads <bin dir>/lib<name>.so (<bin dir>/<name>.dll on Windows).
  explicit HostLibrary(const std::string& name);
  // Loads a library from an explicit path.
  static HostLibrary FromPath(const std::string& path);
  ~HostLibrary();
  HostLibrary(HostLibrary&& other) noexcept;
  HostLibrary& operator=(HostLibrary&&) = delete;
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }
  // The loader's message when loading or a look-up failed.
  const std::string& Error() const { return error_; }

  void* Symbol(const char* name);
  template <typename F>
  F Function(const char* name) {
    return reinterpret_cast<F>(Symbol(name));
  }

  // Path of the library in the build's bin directory.
  static std::string BinPath(const std::string& name);
  // The names a shared library file defines in its dynamic symbol table (nm -D --defined-only),
  // sorted, without the linker's own markers (_init, _fini, _edata, _end, __bss_start ...). False
  // when nm cannot be run.
  static bool DefinedNames(const std::string& path, std::vector<std::string>* names);

 private:
  struct FromPathTag {};
  HostLibrary(FromPathTag, const std::string& path);
  void Load();

  std::string path_;
  std::string error_;
  norvale::platform::Module* handle_ = nullptr;
};

}  // namespace zephrin::test
