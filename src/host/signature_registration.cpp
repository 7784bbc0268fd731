// The byte signatures of the kinds the filter opens: one key
// "Media Type\{MEDIATYPE_Stream}\{MEDIASUBTYPE_KestrelMovie}" under
// HKEY_CLASSES_ROOT whose "Source Filter" names CLSID_Kestrel and whose
// values "0", "1", ... each hold one pattern, "offset,length,mask,value"
// tuples that must all match (an empty mask matches every bit). The graph
// builders take the first subtype key, in sorted order, with a matching
// value; ours sorts before the platform's own.
//
// Wine's graph builders stop at an extension key, whatever it names, and
// open such a file with the Async File Source: under Wine the extension
// keys of the kinds a signature covers are left out.
#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "base/log.h"
#include "filter/kestrel.h"
#include "host/reg_key.h"
#include "host/registration.h"

namespace kestrel {
namespace {

constexpr size_t kClassChars = 38;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

// MEDIATYPE_Stream; the signatures' subtype (ours; its key name sorts before
// every subtype the platform registers).
constexpr wchar_t kSignatureKey[] =
    L"Media Type\\{E436EB83-524F-11CE-9F53-0020AF0BA770}\\{07102C73-BEF4-4723-9BDA-E4CE887C84AB}";

// ISO base media and QuickTime (ISO/IEC 14496-12 4.2, QuickTime File Format
// "Atoms"): a top-level box whose type stands at offset 4. Movies without
// a file-type box begin with one of these.
// A file-type box counts only with a movie's major brand: HEIF and AVIF
// images ("heic", "mif1", "avif" ...) begin with one too.
// AIFF and AIFF-C: "FORM", then the form type at 8. CAF: "caff", version 1,
// flags 0. DV (IEC 61834, SMPTE 314M): the header block of the first DIF
// sequence (DSF bit either way), then the first subcode and the first VAUX
// block at their fixed places.
// Left out, as other formats own them: MPEG program streams (00 00 01 BA),
// RIFF (AVI, WAV), MP3 and ADTS (frame sync bits that either can start
// with), and kinds with no signature of their own (GSM, AMR, SDP, SD2).
constexpr const wchar_t* kBoxTypes[] = {L"6d6f6f76", L"6d646174", L"66726565",
                                        L"736b6970", L"77696465", L"706e6f74"};  // moov mdat free skip wide pnot
constexpr const wchar_t* kMovieBrands[] = {
    L"71742020",                                                                   // "qt  "
    L"6d717420",                                                                   // "mqt "
    L"69736f6d", L"69736f32", L"69736f33", L"69736f34", L"69736f35", L"69736f36",  // isom iso2 ... iso6
    L"6d703431", L"6d703432", L"61766331",                                         // mp41 mp42 avc1
    L"4d344120", L"4d344220", L"4d345020", L"4d345620", L"4d345648", L"4d345650",  // M4A M4B M4P M4V M4VH M4VP
    L"33677034", L"33677035", L"33677036", L"33677037",                            // 3gp4 ... 3gp7
    L"33676736", L"33676536", L"33676537",                                         // 3gg6 3ge6 3ge7
    L"33673261", L"33673262", L"33673263",                                         // 3g2a 3g2b 3g2c
    L"6d6d7034", L"4d534e56", L"64617368", L"46345620", L"58415643",               // mmp4 MSNV dash "F4V " XAVC
};
constexpr const wchar_t* kOtherPatterns[] = {
    L"0,4,,464f524d,8,4,,41494646",                                   // FORM ... AIFF
    L"0,4,,464f524d,8,4,,41494643",                                   // FORM ... AIFC
    L"0,8,,6361666600010000",                                         // caff 0001 0000
    L"0,4,f0ffff7f,1007003f,80,3,f0ffff,300700,240,3,f0ffff,500700",  // DV
};

// The extensions whose files these patterns recognise.
constexpr const wchar_t* kCoveredExtensions[] = {
    L"mov", L"qt",   L"mqv", L"dv",   L"dif", L"aif", L"aifc", L"aiff", L"cdda", L"caf",
    L"3gp", L"3gpp", L"3g2", L"3gp2", L"mp4", L"m4a", L"m4b",  L"m4p",  L"m4v",
};

struct PatternValue {
  std::wstring name;
  std::wstring pattern;
};

// The pattern values in the order to write them. Wine's graph builders
// read each value into a buffer the size of the value read before it and
// stop at the first that does not fit: the patterns go longest first in
// the registry's order of names ("0", "1", "10", "11", ... "2", ...).
std::vector<PatternValue> PatternValues() {
  std::vector<std::wstring> patterns;
  for (const wchar_t* box : kBoxTypes) patterns.push_back(std::wstring(L"4,4,,") + box);
  for (const wchar_t* brand : kMovieBrands) patterns.push_back(std::wstring(L"4,8,,66747970") + brand);
  for (const wchar_t* pattern : kOtherPatterns) patterns.push_back(pattern);
  std::stable_sort(patterns.begin(), patterns.end(),
                   [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  std::vector<std::wstring> names;
  for (size_t i = 0; i < patterns.size(); ++i) names.push_back(std::to_wstring(i));
  std::sort(names.begin(), names.end());
  std::vector<PatternValue> values;
  for (size_t i = 0; i < patterns.size(); ++i) values.push_back({names[i], patterns[i]});
  return values;
}

DWORD StringBytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

// Whether the signature key's "Source Filter" names CLSID_Kestrel.
bool SignatureNamesKestrel(const wchar_t* classText) {
  RegKey key;
  if (key.Open(HKEY_CLASSES_ROOT, kSignatureKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  wchar_t value[kClassChars + 2] = {};
  DWORD type = 0, bytes = sizeof(value) - sizeof(wchar_t);
  if (RegQueryValueExW(key.Get(), L"Source Filter", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) !=
      ERROR_SUCCESS)
    return false;
  return type == REG_SZ && _wcsicmp(value, classText) == 0;
}

void KestrelClassText(wchar_t (&text)[40]) { StringFromGUID2(CLSID_Kestrel, text, 40); }

}  // namespace

const char* WineVersion() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return nullptr;
  auto get_version =
      reinterpret_cast<const char*(CDECL*)()>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (!get_version) return nullptr;
  const char* version = get_version();
  return version ? version : "";
}

bool SignatureCoversExtension(const wchar_t* extension) {
  for (const wchar_t* covered : kCoveredExtensions)
    if (_wcsicmp(covered, extension) == 0) return true;
  return false;
}

bool ExtensionKeyLeftOut(const wchar_t* extension) {
  return WineVersion() != nullptr && SignatureCoversExtension(extension);
}

HRESULT RegisterSignatures() {
  if (const char* wine = WineVersion()) {
    wchar_t version[64] = {};
    MultiByteToWideChar(CP_ACP, 0, wine, -1, version, 63);
    WriteLog(
        L"Wine %s: file kinds registered by byte signature; the extension keys of the kinds the signatures cover "
        L"are left out.",
        version);
  } else {
    WriteLog(L"Windows: file kinds registered by extension and by byte signature.");
  }
  wchar_t classText[40] = {};
  KestrelClassText(classText);
  // What an earlier registration left is replaced whole.
  HRESULT hr = EliminateSubKey(HKEY_CLASSES_ROOT, kSignatureKey);
  RegKey key;
  LONG rc = SUCCEEDED(hr) ? key.Create(HKEY_CLASSES_ROOT, kSignatureKey, KEY_SET_VALUE) : ERROR_ACCESS_DENIED;
  for (const PatternValue& value : PatternValues()) {
    if (rc != ERROR_SUCCESS) break;
    rc = key.SetString(value.name.c_str(), value.pattern.c_str(), StringBytes(value.pattern));
  }
  // Written last: where values are listed in the order written, it is
  // still read after the patterns.
  if (rc == ERROR_SUCCESS) rc = key.SetString(L"Source Filter", classText, StringBytes(classText));
  if (rc != ERROR_SUCCESS) {
    WriteLog(L"ERROR! The byte signatures could not be registered (%d).", static_cast<int>(rc));
    return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

HRESULT UnregisterSignatures() {
  wchar_t classText[40] = {};
  KestrelClassText(classText);
  if (!SignatureNamesKestrel(classText)) return S_OK;
  HRESULT hr = EliminateSubKey(HKEY_CLASSES_ROOT, kSignatureKey);
  if (FAILED(hr)) WriteLog(L"ERROR! EliminateSubKey(HKEY_CLASSES_ROOT, %s); failed!", kSignatureKey);
  return hr;
}

}  // namespace kestrel
