// The type library inside kestrel.ax: its entries in order, identifiers,
// help strings, methods and enumeration values.
#include <gtest/gtest.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "filter/kestrel.h"
#include "framework/com_ptr.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::wstring ModulePath() {
  const char* bin = getenv("KESTREL_BIN");
  std::string path = WindowsPathOf(bin ? bin : ".") + "\\kestrel.ax";
  return std::wstring(path.begin(), path.end());
}

std::wstring Text(BSTR b) {
  std::wstring out = b ? b : L"";
  SysFreeString(b);
  return out;
}

TEST(TypeLibrary, IsAResourceOfTheModuleWithItsEntriesInOrder) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, lib.ReleaseAndGetAddressOf()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_KESTRELLib);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x409u);
  lib->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), L"KESTRELLib");
  EXPECT_EQ(Text(doc), L"Corvane Kestrel 1.0 Type Library");

  struct Entry {
    const wchar_t* name;
    TYPEKIND kind;
    const GUID* guid;
    const wchar_t* help;
  } expected[] = {{L"CKestrel", TKIND_COCLASS, &CLSID_Kestrel, L"Corvane Kestrel"},
                  {L"IQTControl", TKIND_INTERFACE, &IID_IQTControl, L"IQTControl Interface"},
                  {L"QT_VIDEO_QUALITY", TKIND_ENUM, nullptr, L""},
                  {L"QT_VIDEO_FIELDMODE", TKIND_ENUM, nullptr, L""},
                  {L"IQTInfo", TKIND_INTERFACE, &IID_IQTInfo, L"IQTInfo Interface"},
                  {L"KestrelProp", TKIND_COCLASS, &CLSID_KestrelProp, L"Corvane Kestrel Page Class"}};
  // widl adds the IUnknown that KestrelProp names (and what it needs) after
  // the library's own entries.
  ASSERT_GE(lib->GetTypeInfoCount(), 7u);
  ASSERT_EQ(lib->GetDocumentation(6, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), L"IUnknown");
  for (UINT i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(lib->GetDocumentation(static_cast<INT>(i), &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), expected[i].name);
    EXPECT_EQ(Text(doc), expected[i].help);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(i, info.ReleaseAndGetAddressOf()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, expected[i].kind);
    if (expected[i].guid) EXPECT_EQ(type->guid, *expected[i].guid);
    info->ReleaseTypeAttr(type);
  }
}

// Methods in table order with "method NAME" help strings, and the values of
// both enumerations.
TEST(TypeLibrary, MethodsAndEnumerations) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, lib.ReleaseAndGetAddressOf()), S_OK);
  struct Iface {
    const GUID* iid;
    std::vector<std::wstring> methods;
  } ifaces[] = {{&IID_IQTControl, {L"SetVideoQuality", L"GetVideoQuality", L"SetVideoFieldMode", L"GetVideoFieldMode"}},
                {&IID_IQTInfo,
                 {L"GetVideoInfo", L"GetAudioInfo", L"GetUserDataCount", L"GetUserDataName", L"GetUserDataValue",
                  L"GetTimeCode"}}};
  for (const Iface& iface : ifaces) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(*iface.iid, info.ReleaseAndGetAddressOf()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    ASSERT_EQ(type->cFuncs, iface.methods.size());
    EXPECT_EQ(type->cImplTypes, 1);  // IUnknown
    info->ReleaseTypeAttr(type);
    for (UINT i = 0; i < iface.methods.size(); ++i) {
      FUNCDESC* func = nullptr;
      ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
      BSTR name = nullptr, doc = nullptr;
      ASSERT_EQ(info->GetDocumentation(func->memid, &name, &doc, nullptr, nullptr), S_OK);
      EXPECT_EQ(Text(name), iface.methods[i]);
      EXPECT_EQ(Text(doc), L"method " + iface.methods[i]);
      EXPECT_EQ(func->callconv, CC_STDCALL);
      EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
      info->ReleaseFuncDesc(func);
    }
  }
  struct Enum {
    UINT index;
    std::vector<std::pair<std::wstring, LONG>> values;
  } enums[] = {{2,
                {{L"Video_LosslessQuality", 1024},
                 {L"Video_MaxQuality", 1023},
                 {L"Video_HighQuality", 768},
                 {L"Video_NormalQuality", 512},
                 {L"Video_LowQuality", 256},
                 {L"Video_MinQuality", 0}}},
               {3,
                {{L"Video_FieldMode_BothFields", 0},
                 {L"Video_FieldMode_TopFieldOnly", 1},
                 {L"Video_FieldMode_BottomFieldOnly", 2},
                 {L"Video_FieldMode_DeinterlaceFields", 3}}}};
  for (const Enum& e : enums) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(e.index, info.ReleaseAndGetAddressOf()), S_OK);
    for (UINT i = 0; i < e.values.size(); ++i) {
      VARDESC* var = nullptr;
      ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
      BSTR name = nullptr;
      UINT got = 0;
      ASSERT_EQ(info->GetNames(var->memid, &name, 1, &got), S_OK);
      EXPECT_EQ(Text(name), e.values[i].first);
      EXPECT_EQ(var->lpvarValue->lVal, e.values[i].second);
      info->ReleaseVarDesc(var);
    }
  }
}

}  // namespace
}  // namespace kestrel::test
