// Shared helpers of the host tests: kestrel.ax loaded from the build's bin
// folder with its entry points, regsvr32 in the prefix, the log's lines.
#ifndef KESTREL_TESTS_HOST_TEST_UTIL_H
#define KESTREL_TESTS_HOST_TEST_UTIL_H

#include <windows.h>

#include <string>
#include <vector>

#include "framework/framework_test_util.h"  // EXPECT_HR

namespace kestrel::test {

inline constexpr CLSID kClsidKestrel = {0xe6e6e32e, 0xbb36, 0x4aaa, {0xbb, 0xc3, 0xd7, 0x16, 0xe7, 0x75, 0x57, 0xcc}};
inline constexpr CLSID kClsidKestrelProp = {
    0xdd771fe0, 0x0d55, 0x4c45, {0x8a, 0x98, 0x68, 0xe9, 0x8b, 0x9f, 0x0c, 0x72}};
inline constexpr wchar_t kKestrelText[] = L"{E6E6E32E-BB36-4AAA-BBC3-D716E77557CC}";
inline constexpr wchar_t kKestrelPropText[] = L"{DD771FE0-0D55-4C45-8A98-68E98B9F0C72}";

// The module's exports, from the one copy loaded for the whole program.
struct KestrelModule {
  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;
};
const KestrelModule& Kestrel();

// Windows path of kestrel.ax in the build's bin folder.
std::wstring ModulePath();

// Runs "regsvr32 /s [/u] kestrel.ax" in the prefix; its exit code.
DWORD RunRegSvr32(bool unregister);

// Bytes of KestrelFilter.log in the documents folder; empty when missing.
std::string LogBytes();
// The messages of the log's records in order. Every record must be a line
// break, "hh:mm:ss - ", then the message; *well_formed tells whether all are.
std::vector<std::string> LogMessages(bool* well_formed);
// Replaces the log with the given bytes.
void WriteLogBytes(const std::string& bytes);

// The line registration logs under Wine: the kinds registered by byte
// signature, their extension keys left out.
std::string WineRegistrationLine();

// Narrow text of a wide string of ASCII characters.
std::string Narrow(const std::wstring& text);

}  // namespace kestrel::test

#endif
