// kestrel.ax loads into a process; the engine operations it carries stay
// internal to it.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(FilterModule, LoadsAndKeepsTheEngineNamesInternal) {
  HMODULE module = LoadLibraryW(L"kestrel.ax");
  ASSERT_NE(module, nullptr) << GetLastError();
  using InitializeFn = short (*)(int);
  auto initialize = reinterpret_cast<InitializeFn>(GetProcAddress(module, "InitializeQTML"));
  EXPECT_EQ(initialize, nullptr);
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
