// The type library KESTRELLib registered from the module's resource: the
// registry's record of it, what LoadRegTypeLib then finds, and that removal
// takes it away. (The library's own contents are the filter tests'.)
#include <windows.h>

#include <gtest/gtest.h>
#include <ole2.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/com_ptr.h"
#include "host/host_test_util.h"
#include "host/registry_tree.h"

namespace kestrel::test {
namespace {

constexpr GUID kLibId = {0xbb105142, 0xb347, 0x438e, {0xb5, 0x40, 0x7c, 0x29, 0xcc, 0xbc, 0x7a, 0x52}};
constexpr IID kIidQTControl = {0x5e5452c8, 0x2528, 0x428f, {0xbd, 0xd4, 0xc6, 0x3b, 0xe9, 0xec, 0x6c, 0xcb}};
constexpr IID kIidQTInfo = {0x0499ad10, 0x195d, 0x4393, {0xbf, 0x3d, 0x25, 0x81, 0x92, 0xeb, 0x91, 0x8c}};
const std::wstring kLibKey = L"TypeLib\\{BB105142-B347-438E-B540-7C29CCBC7A52}";

struct Doc {
  std::string name, help;
};

// Name and help string of a library's entry (ITypeLib, by index) or of a
// type's member (ITypeInfo, by member id).
template <class Owner>
Doc Documentation(Owner* owner, LONG which) {
  BSTR name = nullptr, help = nullptr;
  Doc doc;
  if (SUCCEEDED(owner->GetDocumentation(which, &name, &help, nullptr, nullptr))) {
    doc.name = name ? Narrow(name) : "";
    doc.help = help ? Narrow(help) : "";
  }
  SysFreeString(name);
  SysFreeString(help);
  return doc;
}

// A copy of a type's attributes; zeroed when they cannot be read.
TYPEATTR Attributes(ITypeInfo* info) {
  TYPEATTR copy = {};
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    copy = *attr;
    info->ReleaseTypeAttr(attr);
  }
  return copy;
}

// A class's interfaces as (name, flags).
std::vector<std::pair<std::string, INT>> Implemented(ITypeInfo* info) {
  std::vector<std::pair<std::string, INT>> interfaces;
  for (UINT i = 0, n = Attributes(info).cImplTypes; i < n; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    ComPtr<ITypeInfo> implemented;
    if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || FAILED(info->GetImplTypeFlags(i, &flags)) ||
        FAILED(info->GetRefTypeInfo(ref, implemented.ReleaseAndGetAddressOf())))
      continue;
    interfaces.emplace_back(Documentation(implemented.Get(), MEMBERID_NIL).name, flags);
  }
  return interfaces;
}

class TypeLibrary : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Kestrel().RegisterServer, nullptr);
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
  void TearDown() override {
    Kestrel().UnregisterServer();
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
};

TEST_F(TypeLibrary, RegisteredFromTheModuleWithEveryEntryAndRemovedAgain) {
  ComPtr<ITypeLib> lib;
  EXPECT_HR(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kLibId, 1, 0, 0x409, lib.ReleaseAndGetAddressOf()));
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  ASSERT_HR(S_OK, LoadRegTypeLib(kLibId, 1, 0, 0x409, lib.ReleaseAndGetAddressOf()));

  TLIBATTR* attr = nullptr;
  ASSERT_HR(S_OK, lib->GetLibAttr(&attr));
  EXPECT_EQ(attr->guid, kLibId);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(attr);
  Doc library = Documentation(lib.Get(), -1);
  EXPECT_EQ(library.name, "KESTRELLib");
  EXPECT_EQ(library.help, "Corvane Kestrel 1.0 Type Library");

  // The registration names the module itself as the library's file.
  RegTree registered = ReadTree(kLibKey);
  EXPECT_EQ((registered.values[{kLibKey + L"\\1.0", L""}]), StringValue(L"Corvane Kestrel 1.0 Type Library"));
  EXPECT_EQ((registered.values[{kLibKey + L"\\1.0\\409\\win64", L""}]), StringValue(ModulePath()));
  std::wstring folder = ModulePath();
  folder.erase(folder.rfind(L'\\') + 1);
  EXPECT_EQ((registered.values[{kLibKey + L"\\1.0\\HELPDIR", L""}]), StringValue(folder));

  // Entries in order: kind, name, help string.
  using Entry = std::tuple<TYPEKIND, std::string, std::string>;
  std::vector<Entry> entries;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    TYPEKIND kind = TKIND_MAX;
    lib->GetTypeInfoType(i, &kind);
    Doc doc = Documentation(lib.Get(), i);
    entries.emplace_back(kind, doc.name, doc.help);
  }
  const std::vector<Entry> ours = {{TKIND_COCLASS, "CKestrel", "Corvane Kestrel"},
                                   {TKIND_INTERFACE, "IQTControl", "IQTControl Interface"},
                                   {TKIND_ENUM, "QT_VIDEO_QUALITY", ""},
                                   {TKIND_ENUM, "QT_VIDEO_FIELDMODE", ""},
                                   {TKIND_INTERFACE, "IQTInfo", "IQTInfo Interface"},
                                   {TKIND_COCLASS, "KestrelProp", "Corvane Kestrel Page Class"}};
  ASSERT_GE(entries.size(), ours.size());
  EXPECT_EQ(std::vector<Entry>(entries.begin(), entries.begin() + ours.size()), ours);
  // widl copies an interface that a coclass names into the library instead
  // of referring to stdole2's, with the types its methods use: KestrelProp's
  // IUnknown brings IUnknown, GUID and GUID's record after our entries.
  for (size_t i = ours.size(); i < entries.size(); ++i) {
    const std::string& name = std::get<1>(entries[i]);
    EXPECT_TRUE(name == "IUnknown" || name == "GUID" || name.rfind("__WIDL_", 0) == 0) << name;
  }

  // Identifiers lead to their entries; the classes name their interfaces.
  ComPtr<ITypeInfo> info;
  for (const auto& [iid, name] : {std::pair{&kIidQTControl, "IQTControl"}, {&kIidQTInfo, "IQTInfo"}}) {
    ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(*iid, info.ReleaseAndGetAddressOf()));
    EXPECT_EQ(Documentation(info.Get(), MEMBERID_NIL).name, name);
  }
  using Implementation = std::pair<std::string, INT>;
  ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(kClsidKestrel, info.ReleaseAndGetAddressOf()));
  EXPECT_EQ(Implemented(info.Get()),
            (std::vector<Implementation>{{"IQTControl", IMPLTYPEFLAG_FDEFAULT}, {"IQTInfo", 0}}));
  ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(kClsidKestrelProp, info.ReleaseAndGetAddressOf()));
  EXPECT_EQ(Implemented(info.Get()), (std::vector<Implementation>{{"IUnknown", IMPLTYPEFLAG_FDEFAULT}}));
  info.Reset();
  lib.Reset();

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_HR(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kLibId, 1, 0, 0x409, lib.ReleaseAndGetAddressOf()));
  EXPECT_TRUE(ReadTree(kLibKey).Empty()) << ReadTree(kLibKey).Describe();
}

}  // namespace
}  // namespace kestrel::test
