// LoadLibraryA / GetProcAddress / FreeLibrary behind LibraryLoader.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "platform/dynamic_library.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

std::unique_ptr<DynamicLibrary> Load(const std::string& name, Status* outcome = nullptr) {
  std::unique_ptr<DynamicLibrary> library;
  Status loaded = win32::DefaultLibraryLoader().Load(name, &library);
  EXPECT_EQ(loaded.ok(), library != nullptr) << name;
  if (outcome != nullptr) *outcome = loaded;
  return library;
}

TEST(Win32LibraryLoader, FindsEntryPointsByExactName) {
  std::unique_ptr<DynamicLibrary> kernel = Load("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(
      kernel->FindEntryPoint("GetTickCount"),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(kernel->FindEntryPoint("gettickcount"), nullptr);
  EXPECT_EQ(kernel->FindEntryPoint("ICStart"), nullptr);
}

TEST(Win32LibraryLoader, AbsentOrEmptyNameGivesNothing) {
  Status missing;
  EXPECT_EQ(Load("qx-no-such-library.dll", &missing), nullptr);
  EXPECT_EQ(missing.kind(), Status::Kind::kNotFound);
  EXPECT_NE(missing.words().find("qx-no-such-library.dll: "), std::string::npos);  // and why
  EXPECT_EQ(Load(""), nullptr);
}

TEST(Win32LibraryLoader, UnloadsWhenTheLibraryGoes) {
  // A library nobody else holds: loaded by us, gone once our object is destroyed.
  const char* name = "msacm32.dll";
  if (GetModuleHandleA(name) != nullptr) {
    GTEST_SKIP() << name << " is already loaded by this process";
  }
  {
    std::unique_ptr<DynamicLibrary> library = Load(name);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetModuleHandleA(name), nullptr);
  }
  EXPECT_EQ(GetModuleHandleA(name), nullptr);
}

}  // namespace
}  // namespace qx::platform
