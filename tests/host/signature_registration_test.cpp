// Byte signatures: the entry as written, in an order Wine can read; the
// patterns against the fixtures and against other formats' first bytes;
// what registration and removal do to other filters' keys; and which
// source Wine's graph builder picks for each kind of fixture with the
// extension keys alone (as before) and with the signatures.
#include <dshow.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "host/host_test_util.h"
#include "host/registration.h"
#include "host/registry_tree.h"
#include "play/play_graph.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

constexpr wchar_t kOtherFilterText[] = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

// One pattern value, "offset,length,mask,value" tuples, against the first
// bytes of a file; every tuple must match.
bool PatternMatches(const std::wstring& pattern, const std::string& bytes) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = pattern.find(L',', start);
    fields.push_back(pattern.substr(start, comma - start));
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  if (fields.size() % 4 != 0) return false;
  auto hex = [](const std::wstring& text, size_t i) {
    return static_cast<unsigned>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
  };
  for (size_t t = 0; t < fields.size(); t += 4) {
    size_t offset = std::stoul(fields[t]), length = std::stoul(fields[t + 1]);
    const std::wstring &mask = fields[t + 2], &value = fields[t + 3];
    if (value.size() != 2 * length || (!mask.empty() && mask.size() != 2 * length)) return false;
    if (offset + length > bytes.size()) return false;
    for (size_t i = 0; i < length; ++i) {
      unsigned m = mask.empty() ? 0xFF : hex(mask, i);
      if ((static_cast<unsigned char>(bytes[offset + i]) & m) != hex(value, i)) return false;
    }
  }
  return true;
}

struct PatternEntry {
  std::wstring name, pattern;
  DWORD bytes;
};

// The signature entry's values in the registry's order, without "Source
// Filter".
std::vector<PatternEntry> ReadPatterns() {
  std::vector<PatternEntry> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kSignatureKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
  for (DWORD i = 0;; ++i) {
    wchar_t name[64], data[512] = {};
    DWORD name_chars = 64, bytes = sizeof(data) - sizeof(wchar_t), type = 0;
    if (RegEnumValueW(key, i, name, &name_chars, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
        ERROR_SUCCESS)
      break;
    if (std::wstring(name) != L"Source Filter") entries.push_back({name, data, bytes});
  }
  RegCloseKey(key);
  return entries;
}

bool AnyPatternMatches(const std::vector<PatternEntry>& patterns, const std::string& bytes) {
  for (const auto& entry : patterns)
    if (PatternMatches(entry.pattern, bytes)) return true;
  return false;
}

std::string Header(std::initializer_list<unsigned char> bytes) {
  std::string text(bytes.begin(), bytes.end());
  text.resize(512, '\0');
  return text;
}

class Signatures : public testing::Test {
 protected:
  void SetUp() override {
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
  void TearDown() override {
    EXPECT_HR(S_OK, Kestrel().UnregisterServer());
    for (const auto& path : RegisteredPaths()) DeleteTree(path);
  }
};

TEST_F(Signatures, UnderWineTheEntryIsWrittenAndTheExtensionKeysItCoversAreNot) {
  ASSERT_NE(WineVersion(), nullptr);
  WriteLogBytes("");
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  bool well_formed = false;
  EXPECT_EQ(LogMessages(&well_formed),
            (std::vector<std::string>{"DllRegisterServer() Successful.", WineRegistrationLine()}));

  RegTree entry = ReadTree(kSignatureKey);
  EXPECT_EQ(entry.keys, std::set<std::wstring>{kSignatureKey});
  // "Source Filter" with its terminating null, 78 bytes.
  EXPECT_EQ((entry.values[{kSignatureKey, L"Source Filter"}]), StringValue(kKestrelText, true));

  // Values "0" to "N-1", each a string with its null, and each no longer
  // than the one listed before it (Wine reads every value into a buffer
  // the size of the previous one).
  std::vector<PatternEntry> patterns = ReadPatterns();
  ASSERT_EQ(patterns.size() + 1, entry.values.size());
  std::set<std::wstring> names;
  for (size_t i = 0; i < patterns.size(); ++i) {
    names.insert(std::to_wstring(i));
    EXPECT_EQ(patterns[i].bytes, (patterns[i].pattern.size() + 1) * sizeof(wchar_t));
    if (i > 0) {
      EXPECT_LE(patterns[i].bytes, patterns[i - 1].bytes) << Narrow(patterns[i].name);
    }
  }
  for (const auto& p : patterns) EXPECT_EQ(names.count(p.name), 1u) << Narrow(p.name);

  // The extension keys: those a signature covers left out, the others
  // written.
  int written = 0;
  for (const auto& extension : Extensions()) {
    bool covered = SignatureCoversExtension(extension.c_str());
    EXPECT_EQ(ReadTree(ExtensionKey(extension)).Empty(), covered) << Narrow(extension);
    written += covered ? 0 : 1;
  }
  EXPECT_EQ(written, 6);  // sdp aac adts sd2 gsm amc: no signature of their own
}

TEST_F(Signatures, PatternsRecogniseEveryKindAndNothingOtherFormatsOwn) {
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  std::vector<PatternEntry> patterns = ReadPatterns();
  ASSERT_FALSE(patterns.empty());
  // Fixtures of every kind a signature covers, as the ffmpeg tool and the
  // test's movie writer make them (ftyp "qt  ", "isom", "iso5", "M4A ",
  // "3gp4"; a movie opening with its moov; AIFF, AIFF-C, CAF, DV).
  for (const char* name : {"h264_bframes.mov", "h264_bframes.mp4", "fragmented.mp4", "audio.m4a", "md_itunes.m4a",
                           "h263_aac.3gp", "frames250.mov", "audio16.aif", "aud_ima4.aifc", "md_tags.aif", "audio.caf",
                           "aud_s24.caf", "dv.dv", "aud_dv.dv"}) {
    std::string bytes = ReadFileBytes(FixturePath(name)).substr(0, 512);
    EXPECT_TRUE(AnyPatternMatches(patterns, bytes)) << name;
  }
  // Movie boxes at offset 4: moov, mdat, free, skip, wide, pnot.
  for (const char* box : {"moov", "mdat", "free", "skip", "wide", "pnot"}) {
    std::string bytes = Header({0, 0, 0, 8});
    bytes.replace(4, 4, box);
    EXPECT_TRUE(AnyPatternMatches(patterns, bytes)) << box;
  }
  // Not ours: images in ISO base media boxes, other formats' first bytes,
  // the kinds with no signature of their own.
  for (const char* brand : {"heic", "heix", "mif1", "msf1", "avif", "avis", "crx "}) {
    std::string bytes = Header({0, 0, 0, 24, 'f', 't', 'y', 'p'});
    bytes.replace(8, 4, brand);
    EXPECT_FALSE(AnyPatternMatches(patterns, bytes)) << brand;
  }
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({0x00, 0x00, 0x01, 0xBA, 0x44})));  // MPEG program stream
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '})));
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'})));
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({'I', 'D', '3', 4, 0})));     // MP3 with a tag
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({0xFF, 0xFB, 0x90, 0x64})));  // MP3 frame
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({0xFF, 0xF1, 0x50, 0x40})));  // ADTS
  EXPECT_FALSE(AnyPatternMatches(patterns, Header({'F', 'O', 'R', 'M', 0, 0, 0, 0, '8', 'S', 'V', 'X'})));
  for (const char* name : {"audio.aac", "aud_gsm.gsm", "aud_amr.amr"}) {
    EXPECT_FALSE(AnyPatternMatches(patterns, ReadFileBytes(FixturePath(name)).substr(0, 512))) << name;
  }
}

TEST_F(Signatures, RegistrationAndRemovalLeaveOtherFiltersKeys) {
  // Another filter's key for a covered extension stays through both; a key
  // of an earlier registration of Kestrel's is taken away (it would hide
  // the signature).
  RegTree other;
  other.keys.insert(ExtensionKey(L"mp4"));
  other.values[{ExtensionKey(L"mp4"), L"Source Filter"}] = StringValue(kOtherFilterText, true);
  WriteTree(other);
  RegTree stale;
  stale.keys.insert(ExtensionKey(L"mov"));
  stale.values[{ExtensionKey(L"mov"), L"Source Filter"}] = StringValue(kKestrelText, false);
  WriteTree(stale);

  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  EXPECT_EQ(ReadTree(ExtensionKey(L"mp4")), other);
  EXPECT_TRUE(ReadTree(ExtensionKey(L"mov")).Empty());

  // Registering again replaces the entry whole: a value left by someone
  // else goes with it.
  RegTree extra;
  extra.keys.insert(kSignatureKey);
  extra.values[{kSignatureKey, L"99"}] = StringValue(L"0,4,,00000000");
  WriteTree(extra);
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  EXPECT_EQ(ReadTree(kSignatureKey).values.count({kSignatureKey, L"99"}), 0u);

  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_EQ(ReadTree(ExtensionKey(L"mp4")), other);
  EXPECT_TRUE(ReadTree(kSignatureKey).Empty());

  // An entry under our subtype that names another filter is not ours to
  // take.
  RegTree taken;
  taken.keys.insert(kSignatureKey);
  taken.values[{kSignatureKey, L"0"}] = StringValue(L"4,4,,6d6f6f76");
  taken.values[{kSignatureKey, L"Source Filter"}] = StringValue(kOtherFilterText, true);
  WriteTree(taken);
  ASSERT_HR(S_OK, Kestrel().UnregisterServer());
  EXPECT_EQ(ReadTree(kSignatureKey), taken);
  DeleteTree(kSignatureKey);
  DeleteTree(ExtensionKey(L"mp4"));
}

// ---- Which source Wine's graph builder picks.

const CLSID kAsyncReader = {0xe436ebb5, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

std::string FilterName(IBaseFilter* filter) {
  CLSID clsid = {};
  if (SUCCEEDED(filter->GetClassID(&clsid))) {
    if (clsid == kClsidKestrel) return "Kestrel";
    if (clsid == kAsyncReader) return "Async File Source";
  }
  FILTER_INFO info = {};
  if (FAILED(filter->QueryFilterInfo(&info))) return "?";
  if (info.pGraph) info.pGraph->Release();
  return Narrow(info.achName);
}

// The filter connected to the first output pin of `filter`, or null.
ComPtr<IBaseFilter> Downstream(IBaseFilter* filter) {
  ComPtr<IBaseFilter> next;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return next;
  ComPtr<IPin> pin, peer;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) continue;
    if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf()))) continue;
    PIN_INFO info = {};
    if (SUCCEEDED(peer->QueryPinInfo(&info))) next.Attach(info.pFilter);
    break;
  }
  return next;
}

struct Picked {
  std::string added;     // AddSourceFilter's source
  std::string rendered;  // RenderFile's source, and the parser after an Async File Source
  HRESULT render_hr = S_OK;
};

Picked PickSources(const std::string& fixture) {
  Picked picked;
  std::string path = FixturePath(fixture);
  std::wstring wide(path.begin(), path.end());
  {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph.ReleaseAndGetVoidAddress());
    if (SUCCEEDED(hr)) hr = graph->AddSourceFilter(wide.c_str(), L"Source", source.ReleaseAndGetAddressOf());
    picked.added = SUCCEEDED(hr) ? FilterName(source.Get()) : "failed " + play::HResultName(hr);
  }
  {
    ComPtr<IGraphBuilder> graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph.ReleaseAndGetVoidAddress());
    WriteLogBytes("");
    if (SUCCEEDED(hr)) hr = graph->RenderFile(wide.c_str(), nullptr);
    // A Kestrel RenderFile made logs the file it loaded, even when the
    // graph could not be finished and RenderFile took its filters away.
    const bool kestrel = LogBytes().find("Loading file: " + path) != std::string::npos;
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (graph && SUCCEEDED(graph->EnumFilters(filters.ReleaseAndGetAddressOf()))) {
      while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IFileSourceFilter> file;
        if (FAILED(filter->QueryInterface(IID_IFileSourceFilter, file.ReleaseAndGetVoidAddress()))) continue;
        picked.rendered = FilterName(filter.Get());
        if (picked.rendered == "Async File Source") {
          ComPtr<IBaseFilter> parser = Downstream(filter.Get());
          picked.rendered += " > " + (parser ? FilterName(parser.Get()) : std::string("nothing"));
        }
        break;
      }
    }
    picked.render_hr = hr;
    if (picked.rendered.empty()) picked.rendered = kestrel ? "Kestrel" : "not Kestrel";
    if (FAILED(hr)) picked.rendered += " (" + play::HResultName(hr) + ")";
  }
  return picked;
}

struct Kind {
  const char* fixture;
  bool ours;   // a signature of Kestrel's covers it
  bool video;  // it has pictures (else sound only)
};
constexpr Kind kKinds[] = {
    {"h264_bframes.mov", true, true}, {"frames250.mov", true, true},
    {"h264_bframes.mp4", true, true}, {"fragmented.mp4", true, true},
    {"audio.m4a", true, false},       {"h263_aac.3gp", true, true},
    {"audio16.aif", true, false},     {"aud_ima4.aifc", true, false},
    {"audio.caf", true, false},       {"dv.dv", true, true},
    {"audio.aac", false, false},      {"aud_gsm.gsm", false, false},
    {"aud_amr.amr", false, false},
};

// Whether DirectSound's renderer can be made: it needs a sound device.
bool SoundDevice() {
  ComPtr<IBaseFilter> renderer;
  return SUCCEEDED(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    renderer.ReleaseAndGetVoidAddress()));
}

// The layout registration wrote before the signatures: every extension
// key naming Kestrel, no signature entry.
void WriteExtensionKeysOnly() {
  DeleteTree(kSignatureKey);
  for (const auto& extension : Extensions()) {
    RegTree key;
    key.keys.insert(ExtensionKey(extension));
    key.values[{ExtensionKey(extension), L"Source Filter"}] = StringValue(kKestrelText, false);
    WriteTree(key);
  }
}

TEST_F(Signatures, WinesGraphBuilderPicksKestrelByTheSignatures) {
  // RenderFile builds renderers: without a display Wine's graph builder can
  // wait on them for good, so the table is taken on one (source_choice_tests).
  if (!getenv("KESTREL_DISPLAY")) GTEST_SKIP() << "runs on a display: source_choice_tests";
  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  WriteExtensionKeysOnly();
  std::vector<Picked> before;
  for (const Kind& kind : kKinds) before.push_back(PickSources(kind.fixture));

  ASSERT_HR(S_OK, Kestrel().RegisterServer());
  std::vector<Picked> after;
  for (const Kind& kind : kKinds) after.push_back(PickSources(kind.fixture));

  printf("%-18s | %-18s | %-42s | %-18s | %s\n", "fixture", "before: AddSource", "before: RenderFile",
         "after: AddSource", "after: RenderFile");
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    printf("%-18s | %-18s | %-42s | %-18s | %s\n", kKinds[i].fixture, before[i].added.c_str(),
           before[i].rendered.c_str(), after[i].added.c_str(), after[i].rendered.c_str());
  }
  // Sound alone renders only where a sound device is; without one
  // RenderFile fails and takes its source away, and Kestrel's log tells
  // whether it was Kestrel.
  const bool sound = SoundDevice();
  printf("%s sound device\n", sound ? "a" : "no");
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    const Kind& kind = kKinds[i];
    EXPECT_EQ(before[i].added, "Async File Source") << kind.fixture;
    EXPECT_EQ(after[i].added, kind.ours ? "Kestrel" : "Async File Source") << kind.fixture;
    if (!kind.video && !sound) {
      EXPECT_EQ(before[i].render_hr, VFW_E_CANNOT_RENDER) << kind.fixture;
      EXPECT_EQ(after[i].render_hr, VFW_E_CANNOT_RENDER) << kind.fixture;
      EXPECT_EQ(before[i].rendered.rfind("not Kestrel", 0), 0u) << kind.fixture;
      EXPECT_EQ(after[i].rendered.rfind(kind.ours ? "Kestrel" : "not Kestrel", 0), 0u) << kind.fixture;
      continue;
    }
    EXPECT_EQ(before[i].rendered.rfind("Async File Source > ", 0), 0u) << kind.fixture;
    if (kind.ours) {
      EXPECT_EQ(after[i].rendered, "Kestrel") << kind.fixture;
    } else {
      EXPECT_EQ(after[i].rendered.rfind("Async File Source", 0), 0u) << kind.fixture;
    }
  }
}

}  // namespace
}  // namespace kestrel::test
