// DllRegisterServer and DllUnregisterServer: the registry layout byte for
// byte, through regsvr32 and through the module's exports; the filter
// mapper's entry; the extensions' log lines; what removal leaves alone; the
// filter created through the registered server playing a movie.
#include "host/registration.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "host/filter_setup.h"
#include "host/host_test_util.h"
#include "host/registry_tree.h"
#include "play/play_graph.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

constexpr wchar_t kOtherFilterText[] = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
const std::wstring kKestrelKey = std::wstring(L"CLSID\\") + kKestrelText;
const std::wstring kPropKey = std::wstring(L"CLSID\\") + kKestrelPropText;
const std::wstring kMapperKey =
    std::wstring(L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\") + kKestrelText;

void SetSourceFilter(const std::wstring& key, const RegValue& value) {
  RegTree tree;
  tree.keys.insert(key);
  tree.values[{key, L"Source Filter"}] = value;
  WriteTree(tree);
}

// Each registration test starts from a registry without Kestrel and leaves
// it so.
class Registration : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Kestrel().RegisterServer, nullptr);
    ASSERT_NE(Kestrel().UnregisterServer, nullptr);
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
  void TearDown() override {
    EXPECT_HR(S_OK, Kestrel().UnregisterServer());
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
};

TEST_F(Registration, RegSvr32WritesTheLayoutOnceAndRemovesItAll) {
  ASSERT_EQ(RunRegSvr32(false), 0u);

  // Both classes' server keys, exactly.
  RegTree expected;
  for (const auto& [key, name] : {std::pair{kKestrelKey, L"Corvane Kestrel"}, {kPropKey, L"Kestrel Property Page"}}) {
    expected.keys.insert(key);
    expected.keys.insert(key + L"\\InprocServer32");
    expected.values[{key, L""}] = StringValue(name);
    expected.values[{key + L"\\InprocServer32", L""}] = StringValue(ModulePath());
    expected.values[{key + L"\\InprocServer32", L"ThreadingModel"}] = StringValue(L"Both");
  }
  RegTree servers = ReadTrees({kKestrelKey, kPropKey});
  EXPECT_EQ(servers, expected);

  // Every extension: one value, the class with its terminating null, 78
  // bytes. Under Wine those a byte signature covers get no key.
  RegValue source = StringValue(kKestrelText, true);
  ASSERT_EQ(source.data.size(), 78u);
  for (const auto& extension : Extensions()) {
    RegTree tree = ReadTree(ExtensionKey(extension));
    if (SignatureCoversExtension(extension.c_str())) {
      EXPECT_TRUE(tree.Empty()) << Narrow(extension);
      continue;
    }
    RegTree want;
    want.keys.insert(ExtensionKey(extension));
    want.values[{ExtensionKey(extension), L"Source Filter"}] = source;
    EXPECT_EQ(tree, want) << Narrow(extension);
  }
  EXPECT_FALSE(ReadTree(kMapperKey).Empty());
  EXPECT_FALSE(ReadTree(L"TypeLib\\{BB105142-B347-438E-B540-7C29CCBC7A52}").Empty());

  // A second run leaves the same registry.
  RegTree once = ReadTrees(RegisteredPaths());
  ASSERT_EQ(RunRegSvr32(false), 0u);
  RegTree twice = ReadTrees(RegisteredPaths());
  EXPECT_EQ(twice, once);

  ASSERT_EQ(RunRegSvr32(true), 0u);
  RegTree left = ReadTrees(RegisteredPaths());
  EXPECT_TRUE(left.Empty()) << left.Describe();

  // Nothing registered: removal still succeeds.
  EXPECT_EQ(RunRegSvr32(true), 0u);
  EXPECT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_TRUE(ReadTrees(RegisteredPaths()).Empty());
}

// A reader with room for 39 characters gets the class as a terminated
// string: the value carries its null, in the extension keys written (under
// Wine those a signature covers are not) and in the signature entry.
TEST_F(Registration, SourceFilterValuesReadBackTerminated) {
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  std::vector<std::wstring> keys = {kSignatureKey};
  for (const auto& extension : Extensions())
    if (!SignatureCoversExtension(extension.c_str())) keys.push_back(ExtensionKey(extension));
  for (const auto& path : keys) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS) << Narrow(path);
    wchar_t value[39];
    wmemset(value, L'x', 39);
    DWORD type = 0, bytes = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(key, L"Source Filter", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, 78u);
    EXPECT_EQ(value[38], L'\0') << Narrow(path);
    EXPECT_EQ(std::wstring(value, 38), kKestrelText);
  }
}

TEST_F(Registration, LogsTheOutcomeOfRegistrationAndRemoval) {
  WriteLogBytes("\r\n00:00:00 - an earlier run");
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  bool well_formed = false;
  EXPECT_EQ(LogMessages(&well_formed),
            (std::vector<std::string>{"DllRegisterServer() Successful.", WineRegistrationLine()}));
  EXPECT_TRUE(well_formed) << LogBytes();

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_EQ(LogMessages(&well_formed),
            (std::vector<std::string>{"Starting DllUnregisterServer()...", "DllUnregisterServer() Successful."}));
  EXPECT_TRUE(well_formed) << LogBytes();
}

// Extension keys that this process may read and delete but not write.
// Gives everyone exactly the access an SDDL list grants on an existing key.
void SetKeyAccess(const std::wstring& key, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
  HKEY handle = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, WRITE_DAC, &handle), ERROR_SUCCESS);
  EXPECT_EQ(RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
  RegCloseKey(handle);
  LocalFree(sd);
}

// Read, delete and change permissions: no writing.
constexpr wchar_t kReadOnly[] = L"D:P(A;;KRSDWD;;;WD)";
// Query values and change permissions: its subkeys cannot be listed.
constexpr wchar_t kUnlisted[] = L"D:P(A;;0x40001;;;WD)";
constexpr wchar_t kFullAccess[] = L"D:P(A;;KA;;;WD)";

// Extension keys that this process may read and delete but not write.
class ReadOnlyExtensions : public Registration {
 protected:
  void MakeReadOnly(const std::wstring& key) { SetKeyAccess(key, kReadOnly); }
  void TearDown() override {
    for (const auto& extension : Extensions()) DeleteTree(ExtensionKey(extension));
    Registration::TearDown();
  }
};

TEST_F(ReadOnlyExtensions, RegistrationLogsEachFailedExtensionAndStillSucceeds) {
  for (const auto& extension : Extensions()) {
    WriteTree(RegTree{{ExtensionKey(extension)}, {}});
    MakeReadOnly(ExtensionKey(extension));
  }
  // The key really refuses writing.
  HKEY probe = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ExtensionKey(L"aac").c_str(), 0, KEY_SET_VALUE, &probe),
            ERROR_ACCESS_DENIED);

  // The keys a signature covers are not written (and these name no one).
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  std::vector<std::string> expected;
  for (const auto& extension : Extensions()) {
    if (SignatureCoversExtension(extension.c_str())) continue;
    expected.push_back("ERROR! RegCreateKey( HKEY_CLASSES_ROOT, " + Narrow(ExtensionKey(extension)) +
                       ", &hkey); failed!");
  }
  expected.push_back("DllRegisterServer() Failed.");
  expected.push_back(WineRegistrationLine());
  bool well_formed = false;
  EXPECT_EQ(LogMessages(&well_formed), expected);
  EXPECT_TRUE(well_formed) << LogBytes();

  // The server keys and the type library went in all the same.
  EXPECT_FALSE(ReadTree(kKestrelKey).Empty());
  EXPECT_FALSE(ReadTree(L"TypeLib\\{BB105142-B347-438E-B540-7C29CCBC7A52}").Empty());
  EXPECT_TRUE(ReadTree(ExtensionKey(L"mp4")).values.empty());
}

TEST_F(ReadOnlyExtensions, RemovalLogsEachExtensionItCannotTakeAway) {
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  for (const auto& extension : Extensions())
    if (!SignatureCoversExtension(extension.c_str())) MakeReadOnly(ExtensionKey(extension));

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  std::vector<std::string> expected = {"Starting DllUnregisterServer()..."};
  for (const auto& extension : Extensions()) {
    if (SignatureCoversExtension(extension.c_str())) continue;
    expected.push_back("ERROR! EliminateSubKey(HKEY_CLASSES_ROOT, " + Narrow(ExtensionKey(extension)) + "); failed!");
  }
  expected.push_back("DllUnregisterServer() Failed.");
  bool well_formed = false;
  EXPECT_EQ(LogMessages(&well_formed), expected);
  EXPECT_TRUE(well_formed) << LogBytes();
  EXPECT_TRUE(ReadTree(kKestrelKey).Empty());
}

TEST_F(Registration, RemovalTakesAwayOnlyKestrelsExtensions) {
  const RegValue other = StringValue(kOtherFilterText, false);
  // Registration overwrites another filter's claim.
  SetSourceFilter(ExtensionKey(L"adts"), other);
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  EXPECT_EQ(ReadTree(ExtensionKey(L"adts")).values.at({ExtensionKey(L"adts"), L"Source Filter"}),
            StringValue(kKestrelText, true));

  // Later another filter takes .aac; .gsm gains a value of someone else's;
  // .sdp names Kestrel in lower case with a terminating null; .sd2 holds the
  // 76 bytes without one that older registrations wrote.
  SetSourceFilter(ExtensionKey(L"aac"), other);
  RegTree gsm;
  gsm.keys.insert(ExtensionKey(L"gsm"));
  gsm.values[{ExtensionKey(L"gsm"), L"Content Type"}] = StringValue(L"video/quicktime");
  WriteTree(gsm);
  std::wstring lower = kKestrelText;
  for (auto& c : lower) c = towlower(c);
  SetSourceFilter(ExtensionKey(L"sdp"), StringValue(lower, true));
  SetSourceFilter(ExtensionKey(L"sd2"), StringValue(kKestrelText, false));
  ASSERT_EQ(StringValue(kKestrelText, false).data.size(), 76u);

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  bool well_formed = false;
  EXPECT_EQ(LogMessages(&well_formed),
            (std::vector<std::string>{"Starting DllUnregisterServer()...", "DllUnregisterServer() Successful."}));

  RegTree aac;
  aac.keys.insert(ExtensionKey(L"aac"));
  aac.values[{ExtensionKey(L"aac"), L"Source Filter"}] = other;
  EXPECT_EQ(ReadTree(ExtensionKey(L"aac")), aac);
  EXPECT_EQ(ReadTree(ExtensionKey(L"gsm")), gsm);
  for (const auto& extension : Extensions()) {
    if (extension == L"aac" || extension == L"gsm") continue;
    EXPECT_TRUE(ReadTree(ExtensionKey(extension)).Empty()) << Narrow(extension);
  }
  DeleteTree(ExtensionKey(L"aac"));
  DeleteTree(ExtensionKey(L"gsm"));
}

TEST_F(Registration, RemovalThatCannotDeleteAServerKeySaysSoAndStops) {
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  // A key whose subkeys cannot be listed cannot be emptied, so it cannot be
  // deleted.
  const std::wstring stuck = kKestrelKey + L"\\InprocServer32\\Stuck";
  WriteTree(RegTree{{stuck, stuck + L"\\Inner"}, {}});
  SetKeyAccess(stuck, kUnlisted);

  // Removal ends with the failure (rather than finding that key again and
  // again) and leaves the extensions and the type library alone.
  EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Kestrel().UnregisterServer());
  EXPECT_FALSE(ReadTree(kKestrelKey).Empty());
  EXPECT_TRUE(ReadTree(kPropKey).Empty());  // the other class's keys went
  EXPECT_FALSE(ReadTree(ExtensionKey(L"aac")).Empty());

  SetKeyAccess(stuck, kFullAccess);
  EXPECT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_TRUE(ReadTrees(RegisteredPaths()).Empty()) << ReadTrees(RegisteredPaths()).Describe();
}

// Whether the mapper finds Kestrel among filters of at least `merit` with
// an output pin of the given major type.
bool MapperFinds(DWORD merit, const GUID& major) {
  ComPtr<IFilterMapper2> mapper;
  if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              mapper.ReleaseAndGetVoidAddress())))
    return false;
  GUID types[2] = {major, GUID_NULL};
  ComPtr<IEnumMoniker> monikers;
  if (mapper->EnumMatchingFilters(monikers.ReleaseAndGetAddressOf(), 0, FALSE, merit, FALSE, 0, nullptr, nullptr,
                                  nullptr, FALSE, TRUE, 1, types, nullptr, nullptr) != S_OK)
    return false;
  bool found = false;
  ComPtr<IMoniker> moniker;
  while (!found && monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReleaseAndGetVoidAddress()))) continue;
    VARIANT clsid;
    VariantInit(&clsid);
    if (SUCCEEDED(bag->Read(L"CLSID", &clsid, nullptr)) && clsid.vt == VT_BSTR)
      found = _wcsicmp(clsid.bstrVal, kKestrelText) == 0;
    VariantClear(&clsid);
  }
  return found;
}

TEST_F(Registration, MapperFindsTheFilterWithItsMeritAndTwoOutputPins) {
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  EXPECT_TRUE(MapperFinds(MERIT_DO_NOT_USE, MEDIATYPE_Video));
  EXPECT_TRUE(MapperFinds(MERIT_DO_NOT_USE, MEDIATYPE_Audio));
  EXPECT_FALSE(MapperFinds(MERIT_DO_NOT_USE + 1, MEDIATYPE_Video));  // merit is exactly 0x200000
  EXPECT_FALSE(MapperFinds(MERIT_DO_NOT_USE, MEDIATYPE_Text));

  // The mapper's record: "Corvane Kestrel", the class, and filter data of
  // merit 0x200000 with two pins.
  RegTree entry = ReadTree(kMapperKey);
  EXPECT_EQ((entry.values[{kMapperKey, L"FriendlyName"}]), StringValue(L"Corvane Kestrel"));
  EXPECT_EQ((entry.values[{kMapperKey, L"CLSID"}]), StringValue(kKestrelText));
  const RegValue& data = entry.values[{kMapperKey, L"FilterData"}];
  ASSERT_EQ(data.type, static_cast<DWORD>(REG_BINARY));
  // The mapper's binary form: version, merit, pin count, reserved; then per
  // pin its tag, flags, instances, type count, medium count, category, and
  // per type its tag, reserved and the offsets of major type and subtype.
  auto dword = [&](size_t offset) {
    DWORD v = 0xFFFFFFFF;
    if (offset + 4 <= data.data.size()) memcpy(&v, data.data.data() + offset, 4);
    return v;
  };
  auto guid = [&](size_t offset) {
    GUID g = {};
    if (offset + sizeof(GUID) <= data.data.size()) memcpy(&g, data.data.data() + offset, sizeof(GUID));
    return g;
  };
  EXPECT_EQ(dword(4), 0x200000u);
  EXPECT_EQ(dword(8), 2u);
  size_t at = 16;
  for (const GUID* major : {&MEDIATYPE_Video, &MEDIATYPE_Audio}) {
    EXPECT_EQ(dword(at + 4), static_cast<DWORD>(REG_PINFLAG_B_OUTPUT));  // output, not rendered, not zero or many
    EXPECT_EQ(dword(at + 12), 1u);                                       // one media type
    EXPECT_EQ(dword(at + 16), 0u);                                       // no medium
    at += 24;
    EXPECT_EQ(guid(dword(at + 8)), *major);
    EXPECT_EQ(guid(dword(at + 12)), GUID_NULL);
    at += 16;
  }

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_FALSE(MapperFinds(MERIT_DO_NOT_USE, MEDIATYPE_Video));
  EXPECT_TRUE(ReadTree(kMapperKey).Empty());
}

// Where the older mapper keeps a filter, and whether its enumeration finds
// Kestrel with an output pin of the given major type.
bool OlderMapperFinds(IFilterMapper* mapper, const GUID& major) {
  ComPtr<IEnumRegFilters> filters;
  if (mapper->EnumMatchingFilters(filters.ReleaseAndGetAddressOf(), MERIT_DO_NOT_USE, FALSE, GUID_NULL, GUID_NULL,
                                  FALSE, TRUE, major, GUID_NULL) != S_OK)
    return false;
  bool found = false;
  REGFILTER* filter = nullptr;
  ULONG fetched = 0;
  while (filters->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
    found = found || filter->Clsid == kClsidKestrel;
    CoTaskMemFree(filter);
  }
  return found;
}

TEST_F(Registration, OlderMapperTakesTheFilterPinByPinAndGivesItBack) {
  ComPtr<IFilterMapper> mapper;
  ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                   mapper.ReleaseAndGetVoidAddress()));
  EXPECT_HR(S_OK, RegisterFilterSetup(mapper.Get(), sudKestrel, false));  // nothing there yet
  ASSERT_HR(S_OK, RegisterFilterSetup(mapper.Get(), sudKestrel, true));
  EXPECT_TRUE(OlderMapperFinds(mapper.Get(), MEDIATYPE_Video));
  EXPECT_TRUE(OlderMapperFinds(mapper.Get(), MEDIATYPE_Audio));
  EXPECT_FALSE(OlderMapperFinds(mapper.Get(), MEDIATYPE_Text));

  // Both pins are named "Output": the older mapper keeps one pin with both
  // media types.
  const std::wstring filterKey = std::wstring(L"Filter\\") + kKestrelText;
  const std::wstring pin = kKestrelKey + L"\\Pins\\Output";
  const std::wstring video = pin + L"\\Types\\{73646976-0000-0010-8000-00AA00389B71}";
  const std::wstring audio = pin + L"\\Types\\{73647561-0000-0010-8000-00AA00389B71}";
  const std::wstring null = L"\\{00000000-0000-0000-0000-000000000000}";
  RegTree expected;
  expected.keys = {filterKey, kKestrelKey, kKestrelKey + L"\\Pins", pin, pin + L"\\Types", video, video + null,
                   audio,     audio + null};
  expected.values[{filterKey, L""}] = StringValue(L"Corvane Kestrel");
  auto dword = [](DWORD v) {
    RegValue value;
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4);
    return value;
  };
  expected.values[{kKestrelKey, L"Merit"}] = dword(MERIT_DO_NOT_USE);
  expected.values[{pin, L"AllowedMany"}] = dword(0);
  expected.values[{pin, L"AllowedZero"}] = dword(0);
  expected.values[{pin, L"Direction"}] = dword(1);
  expected.values[{pin, L"IsRendered"}] = dword(0);
  EXPECT_EQ(ReadTrees({filterKey, kKestrelKey}), expected);

  ASSERT_HR(S_OK, RegisterFilterSetup(mapper.Get(), sudKestrel, false));
  EXPECT_FALSE(OlderMapperFinds(mapper.Get(), MEDIATYPE_Video));
  // The class key itself is the server keys' to remove.
  EXPECT_EQ(ReadTrees({filterKey, kKestrelKey}), (RegTree{{kKestrelKey}, {}}));
}

TEST_F(Registration, RegisteredServerCreatesAFilterThatPlaysToTheEnd) {
  ComPtr<IBaseFilter> filter;
  EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(kClsidKestrel, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                  filter.ReleaseAndGetVoidAddress()));
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  ASSERT_HR(S_OK, CoCreateInstance(kClsidKestrel, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   filter.ReleaseAndGetVoidAddress()));
  {
    ComPtr<IFileSourceFilter> source;
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress()));
    std::string path = FixturePath("h264_bframes.mov");
    ASSERT_HR(S_OK, source->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr));

    play::PlayGraph graph;
    ASSERT_HR(S_OK, graph.Create(filter.Get()));
    std::vector<ComPtr<play::SampleRecorder>> recorders;
    for (auto& pin : graph.SourcePins()) {
      recorders.emplace_back().Attach(new play::SampleRecorder);
      EXPECT_HR(S_OK, graph.Connect(pin.Get(), nullptr, recorders.back().Get()));
    }
    ASSERT_EQ(recorders.size(), 2u);
    ASSERT_HR(S_OK, graph.RemoveClock());
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    HRESULT abort = S_OK;
    EXPECT_EQ(graph.WaitForEnd(60000, &abort), play::EndResult::kComplete) << std::hex << abort;
    EXPECT_HR(S_OK, graph.Stop());
    EXPECT_EQ(recorders[0]->Count(), 50u);  // 2 s of 25 frames a second
    EXPECT_GT(recorders[1]->Count(), 0u);
  }
  filter.Reset();
  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(kClsidKestrel, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                  filter.ReleaseAndGetVoidAddress()));
}

}  // namespace
}  // namespace kestrel::test
