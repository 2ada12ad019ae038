// LoadLibraryA / GetProcAddress / FreeLibrary behind LibraryLoader.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "platform/dynamic_library.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

TEST(Win32LibraryLoader, FindsEntryPointsByExactName) {
  std::unique_ptr<DynamicLibrary> kernel = win32::DefaultLibraryLoader().Load("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(
      kernel->FindEntryPoint("GetTickCount"),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(kernel->FindEntryPoint("gettickcount"), nullptr);
  EXPECT_EQ(kernel->FindEntryPoint("ICStart"), nullptr);
}

TEST(Win32LibraryLoader, AbsentOrEmptyNameGivesNothing) {
  EXPECT_EQ(win32::DefaultLibraryLoader().Load("qx-no-such-library.dll"), nullptr);
  EXPECT_EQ(win32::DefaultLibraryLoader().Load(""), nullptr);
}

TEST(Win32LibraryLoader, UnloadsWhenTheLibraryGoes) {
  // A library nobody else holds: loaded by us, gone once our object is destroyed.
  const char* name = "msacm32.dll";
  if (GetModuleHandleA(name) != nullptr) {
    GTEST_SKIP() << name << " is already loaded by this process";
  }
  {
    std::unique_ptr<DynamicLibrary> library = win32::DefaultLibraryLoader().Load(name);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetModuleHandleA(name), nullptr);
  }
  EXPECT_EQ(GetModuleHandleA(name), nullptr);
}

}  // namespace
}  // namespace qx::platform
