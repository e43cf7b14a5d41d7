// Libraries loaded at run time, and the module this code is linked into.
#include <gtest/gtest.h>

#include <string>

#include "platform/Module.h"
#include "platform/Platform.h"

namespace norvale::platform {
namespace {

#ifdef _WIN32
const char* const kSystemLibrary = "kernel32.dll";
const char* const kExport = "GetTickCount";
#else
const char* const kSystemLibrary = "libc.so.6";
const char* const kExport = "strlen";
#endif

TEST(PlatformModule, LoadsALibraryAndFindsItsExportsByName) {
  std::string error;
  Module* library = LoadModule(kSystemLibrary, &error);
  ASSERT_NE(nullptr, library) << error;
  EXPECT_NE(nullptr, ModuleSymbol(library, kExport));
  EXPECT_EQ(nullptr, ModuleSymbol(library, "NoSuchExportAnywhere", &error));
  EXPECT_NE(std::string::npos, error.find("NoSuchExportAnywhere")) << error;
  EXPECT_EQ(nullptr, ModuleSymbol(library, nullptr));
  UnloadModule(library);
  UnloadModule(nullptr);
}

TEST(PlatformModule, AFailedLoadSaysWhichLibraryAndWhy) {
  std::string error;
  EXPECT_EQ(nullptr, LoadModule("no_such_library_anywhere.so", &error));
  EXPECT_NE(std::string::npos, error.find("no_such_library_anywhere")) << error;
  EXPECT_EQ(nullptr, ModuleSymbol(nullptr, kExport));
}

TEST(PlatformModule, CodeLinkedIntoTheProgramIsInTheProgramsModule) { EXPECT_EQ(ExecutablePath(4096), ModulePath()); }

}  // namespace
}  // namespace norvale::platform
