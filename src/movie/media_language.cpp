#include "movie/media_language.h"

#include <cwchar>

#include "qtmedia.h"

namespace kestrel {
namespace {

// ISO 639-2/T codes of the Macintosh language codes 0 to 94 and 128 to 150
// (QuickTime File Format, "Language code values"); "und" where the language
// has no ISO 639-2 code of its own.
const char kMacLanguages[][4] = {
    "eng", "fra", "deu", "ita", "nld", "swe", "spa", "dan", "por", "nor",  // 0
    "heb", "jpn", "ara", "fin", "ell", "isl", "mlt", "tur", "hrv", "zho",  // 10
    "urd", "hin", "tha", "kor", "lit", "pol", "hun", "est", "lav", "sme",  // 20
    "fao", "fas", "rus", "zho", "nld", "gle", "sqi", "ron", "ces", "slk",  // 30
    "slv", "yid", "srp", "mkd", "bul", "ukr", "bel", "uzb", "kaz", "aze",  // 40
    "aze", "hye", "kat", "ron", "kir", "tgk", "tuk", "mon", "mon", "pus",  // 50
    "kur", "kas", "snd", "bod", "nep", "san", "mar", "ben", "asm", "guj",  // 60
    "pan", "ori", "mal", "kan", "tam", "tel", "sin", "mya", "khm", "lao",  // 70
    "vie", "ind", "tgl", "msa", "msa", "amh", "tir", "orm", "som", "swa",  // 80
    "kin", "run", "nya", "mlg", "epo",                                     // 90
};
const char kMacLanguagesFrom128[][4] = {
    "cym", "eus", "cat", "lat", "que", "grn", "aym", "tat", "uig", "dzo",  // 128
    "jav", "sun", "glg", "afr", "bre", "iku", "gla", "glv", "gle", "ton",  // 138
    "ell", "kal", "aze",                                                   // 148
};

// The bibliographic ISO 639-2 codes and their terminological twins, which
// Windows knows the languages by.
const wchar_t kBibliographic[][2][4] = {
    {L"alb", L"sqi"}, {L"arm", L"hye"}, {L"baq", L"eus"}, {L"bur", L"mya"}, {L"chi", L"zho"},
    {L"cze", L"ces"}, {L"dut", L"nld"}, {L"fre", L"fra"}, {L"geo", L"kat"}, {L"ger", L"deu"},
    {L"gre", L"ell"}, {L"ice", L"isl"}, {L"mac", L"mkd"}, {L"mao", L"mri"}, {L"may", L"msa"},
    {L"per", L"fas"}, {L"rum", L"ron"}, {L"slo", L"slk"}, {L"tib", L"bod"}, {L"wel", L"cym"},
};

void SetCode(const char* from, wchar_t code[4]) {
  for (int i = 0; i < 3; ++i) code[i] = static_cast<wchar_t>(from[i]);
  code[3] = L'\0';
}

struct LocaleSearch {
  const wchar_t* code;
  LCID lcid;
};

// One locale of the system's list: its language's ISO 639-2 code against
// the one looked for.
BOOL CALLBACK MatchLocale(LPWSTR name, DWORD, LPARAM param) {
  auto* search = reinterpret_cast<LocaleSearch*>(param);
  wchar_t code[16] = {};
  if (GetLocaleInfoEx(name, LOCALE_SISO639LANGNAME2, code, 16) > 0 && wcscmp(code, search->code) == 0) {
    search->lcid = LocaleNameToLCID(name, 0);
    if (search->lcid != 0) return FALSE;
  }
  return TRUE;
}

}  // namespace

void LanguageCodeOfField(uint16_t field, wchar_t code[4]) {
  SetCode("und", code);
  if (field < 0x400) {
    if (field < sizeof(kMacLanguages) / sizeof(kMacLanguages[0])) {
      SetCode(kMacLanguages[field], code);
    } else if (field >= 128 && field - 128u < sizeof(kMacLanguagesFrom128) / sizeof(kMacLanguagesFrom128[0])) {
      SetCode(kMacLanguagesFrom128[field - 128], code);
    }
    return;
  }
  if (field == langUnspecified) return;
  char letters[3];
  for (int i = 0; i < 3; ++i) {
    int five = (field >> (10 - 5 * i)) & 0x1F;
    if (five < 1 || five > 26) return;
    letters[i] = static_cast<char>(0x60 + five);
  }
  SetCode(letters, code);
}

LCID LocaleOfLanguageCode(const wchar_t* code) {
  if (!code || wcslen(code) != 3 || wcscmp(code, L"und") == 0) return 0;
  const wchar_t* terminological = code;
  for (const auto& pair : kBibliographic)
    if (wcscmp(code, pair[0]) == 0) terminological = pair[1];
  // A locale of the language, by its three letters; the language alone
  // (the neutral sublanguage) is what the code says.
  LocaleSearch search = {terminological, 0};
  EnumSystemLocalesEx(MatchLocale, LOCALE_ALL, reinterpret_cast<LPARAM>(&search), nullptr);
  if (search.lcid == 0) return 0;
  return MAKELCID(MAKELANGID(PRIMARYLANGID(LANGIDFROMLCID(search.lcid)), SUBLANG_NEUTRAL), SORT_DEFAULT);
}

MediaLanguage LanguageOfMedia(Media media) {
  MediaLanguage language;
  if (!media) return language;
  LanguageCodeOfField(static_cast<uint16_t>(GetMediaLanguage(media)), language.code);
  language.lcid = LocaleOfLanguageCode(language.code);

  char tag[LOCALE_NAME_MAX_LENGTH] = {};
  if (qtm_GetMediaExtendedLanguageTag(media, tag, sizeof(tag)) != noErr) return language;
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (MultiByteToWideChar(CP_ACP, 0, tag, -1, name, LOCALE_NAME_MAX_LENGTH) <= 0) return language;
  const LCID lcid = LocaleNameToLCID(name, 0);
  wchar_t code[16] = {};
  if (lcid == 0 || GetLocaleInfoEx(name, LOCALE_SISO639LANGNAME2, code, 16) != 4) return language;
  wcscpy(language.code, code);
  language.lcid = lcid;
  return language;
}

}  // namespace kestrel
