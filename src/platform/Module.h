#pragma once
// Shared libraries loaded at run time (the recording host's way of loading the driver).
#include <string>

namespace norvale::platform {

struct Module;  // opaque
// Loads a shared library from its path (UTF-8), resolving it completely now; null on failure, with
// the system's reason in *error.
Module* LoadModule(const std::string& path, std::string* error);
// Address of an exported name; null when there is none, with the reason in *error (optional).
void* ModuleSymbol(Module* module, const char* name, std::string* error = nullptr);
void UnloadModule(Module* module);

}  // namespace norvale::platform
