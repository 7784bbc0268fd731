#include "userdata/user_data.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "movie/atom_walker.h"
#include "movie/byte_reader.h"
#include "movie/four_cc.h"
#include "userdata/text_encoding.h"

namespace qtm {
namespace {

// A classic item type: 0xA9 then three characters.
constexpr uint32_t Classic(const char (&s)[4]) { return 0xA9000000u | FourCC({'\0', s[0], s[1], s[2], '\0'}); }

constexpr uint16_t PackIso(const char (&s)[4]) {
  return static_cast<uint16_t>((s[0] - 0x60) << 10 | (s[1] - 0x60) << 5 | (s[2] - 0x60));
}

struct RegionLanguage {
  int16_t region;
  uint16_t mac;
  uint16_t iso;
  uint16_t iso_alternative;  // the bibliographic 639-2/B code where it differs
};
constexpr RegionLanguage kRegions[] = {
    {verUS, 0, PackIso("eng"), 0},      {verFrance, 1, PackIso("fra"), PackIso("fre")},
    {verBritain, 0, PackIso("eng"), 0}, {verGermany, 2, PackIso("deu"), PackIso("ger")},
    {verItaly, 3, PackIso("ita"), 0},   {verNetherlands, 4, PackIso("nld"), PackIso("dut")},
    {verSweden, 5, PackIso("swe"), 0},  {verSpain, 6, PackIso("spa"), 0},
    {verDenmark, 7, PackIso("dan"), 0}, {verPortugal, 8, PackIso("por"), 0},
    {verNorway, 9, PackIso("nor"), 0},  {verJapan, 11, PackIso("jpn"), 0},
};

const RegionLanguage& RegionEntry(int16_t region) {
  for (const auto& r : kRegions)
    if (r.region == region) return r;
  return kRegions[0];
}

// Mac language codes written in Mac OS Roman; other Mac scripts keep their
// ASCII and lose the rest to '?'.
bool IsMacRomanLanguage(uint16_t language) { return language <= 9 || language == 13; }

// The iTunes-style list: udta/meta/ilst. Its meta is a full atom (version and
// flags first) in ISO files and a plain one in some QuickTime files.
std::vector<AtomBytes> IlstEntries(const MovieModel& model) {
  for (const auto& item : model.user_data) {
    if (item.type != FourCC("meta")) continue;
    const uint8_t* p = item.payload.data();
    size_t n = item.payload.size();
    if (n >= 8 && ReadBE32(p + 4) != FourCC("hdlr")) p += 4, n -= 4;
    for (const AtomBytes& child : ChildAtoms(p, n))
      if (child.type == FourCC("ilst")) return ChildAtoms(child.body, child.size);
  }
  return {};
}

// The text of an ilst entry: its first 'data' atom of a text kind
// (1 UTF-8, 2 UTF-16, 4 and 5 their sorting forms).
std::optional<std::string> IlstText(const AtomBytes& entry) {
  for (const AtomBytes& data : ChildAtoms(entry.body, entry.size)) {
    if (data.type != FourCC("data") || data.size < 8) continue;
    uint32_t kind = ReadBE32(data.body) & 0x00FFFFFF;
    const uint8_t* text = data.body + 8;
    size_t text_size = data.size - 8;
    if (kind == 1 || kind == 4) return ToWindows1252(text, text_size, TextEncoding::kUtf8);
    if (kind == 2 || kind == 5) return ToWindows1252(text, text_size, TextEncoding::kUtf16BigEndian);
  }
  return std::nullopt;
}

// Our mapping of iTunes keys onto the classic types. The same code is looked
// for first; these are the keys iTunes uses instead for the same meaning.
struct IlstAlias {
  uint32_t type;
  uint32_t key;
};
constexpr IlstAlias kIlstAliases[] = {
    {Classic("cpy"), FourCC("cprt")},  // copyright
    {Classic("des"), FourCC("desc")},  // description
    {Classic("swr"), Classic("too")},  // encoding tool
    {Classic("com"), Classic("wrt")},  // iTunes keeps the composer in (c)wrt
};

// Our mapping of the tags libavformat reads from imported files onto the
// classic types. Keys are compared without case. AIFF: NAME is "title", AUTH
// "author", "(c) " "copyright", ANNO "comment". CAF info keys arrive as
// written ("title", "artist", "comments", "encoding application" ...).
struct TagAlias {
  const char* key;
  uint32_t type;
};
constexpr TagAlias kTagAliases[] = {
    {"title", Classic("nam")},         {"artist", Classic("ART")},
    {"author", Classic("aut")},        {"album", Classic("alb")},
    {"comment", Classic("cmt")},       {"comments", Classic("cmt")},
    {"composer", Classic("com")},      {"copyright", Classic("cpy")},
    {"date", Classic("day")},          {"year", Classic("day")},
    {"recorded date", Classic("day")}, {"description", Classic("des")},
    {"genre", Classic("gen")},         {"encoded_by", Classic("enc")},
    {"encoder", Classic("swr")},       {"encoding application", Classic("swr")},
    {"keywords", Classic("key")},      {"lyricist", Classic("wrt")},
    {"performer", Classic("prf")},     {"director", Classic("dir")},
    {"producer", Classic("prd")},      {"track", Classic("trk")},
    {"track number", Classic("trk")},
};

bool SameKey(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

// The texts of the classic items of a type, each in the region's language
// when the item has a record in it, else its first record.
std::vector<std::string> ClassicTexts(const std::vector<UserDataItem>& items, OSType type, int16_t region) {
  std::vector<std::string> texts;
  for (const auto& item : items) {
    if (item.type != type) continue;
    std::vector<TextRecord> records = ParseTextRecords(item.payload);
    if (records.empty()) continue;
    const RegionLanguage& want = RegionEntry(region);
    const TextRecord* chosen = &records.front();
    for (const auto& r : records) {
      if (r.language == want.mac || r.language == want.iso ||
          (want.iso_alternative && r.language == want.iso_alternative)) {
        chosen = &r;
        break;
      }
    }
    texts.push_back(TextOfRecord(*chosen));
  }
  return texts;
}

// Candidate texts of a type, from the first source that has any.
std::vector<std::string> TextsOfType(const MovieModel& model, OSType type, int16_t region) {
  std::vector<std::string> texts = ClassicTexts(model.user_data, type, region);
  if (!texts.empty()) return texts;

  std::vector<AtomBytes> ilst = IlstEntries(model);
  auto from_ilst = [&](uint32_t key) {
    for (const AtomBytes& entry : ilst)
      if (entry.type == key)
        if (auto text = IlstText(entry)) texts.push_back(std::move(*text));
  };
  from_ilst(type);
  for (const auto& alias : kIlstAliases)
    if (texts.empty() && alias.type == type) from_ilst(alias.key);
  if (!texts.empty()) return texts;

  for (const auto& [key, value] : model.container_tags) {
    for (const auto& alias : kTagAliases) {
      if (alias.type == type && SameKey(key, alias.key)) {
        texts.push_back(
            ToWindows1252(reinterpret_cast<const uint8_t*>(value.data()), value.size(), TextEncoding::kUtf8));
        break;
      }
    }
  }
  return texts;
}

}  // namespace

std::vector<TextRecord> ParseTextRecords(const std::vector<uint8_t>& payload) {
  std::vector<TextRecord> records;
  size_t pos = 0;
  while (payload.size() - pos >= 4) {
    size_t text_size = ReadBE16(payload.data() + pos);
    uint16_t language = ReadBE16(payload.data() + pos + 2);
    if (text_size > payload.size() - pos - 4) break;
    TextRecord r;
    r.language = language;
    r.text.assign(payload.begin() + pos + 4, payload.begin() + pos + 4 + text_size);
    records.push_back(std::move(r));
    pos += 4 + text_size;
  }
  return records;
}

std::string TextOfRecord(const TextRecord& record) {
  const uint8_t* p = record.text.data();
  size_t n = record.text.size();
  // A byte-order mark marks UTF-16 whatever the language says.
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return ToWindows1252(p, n, TextEncoding::kUtf16BigEndian);
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return ToWindows1252(p, n, TextEncoding::kUtf16LittleEndian);
  if (record.language >= 0x400) return ToWindows1252(p, n, TextEncoding::kUtf8);
  if (IsMacRomanLanguage(record.language)) return ToWindows1252(p, n, TextEncoding::kMacRoman);
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(p[i] < 0x80 ? static_cast<char>(p[i]) : '?');
  return out;
}

uint16_t MacLanguageOfRegion(int16_t region) { return RegionEntry(region).mac; }
uint16_t IsoLanguageOfRegion(int16_t region) { return RegionEntry(region).iso; }

namespace {

OSErr Pick(std::vector<std::string> texts, int32_t index, std::string* text) {
  if (index < 1 || static_cast<size_t>(index) > texts.size()) return userDataItemNotFound;
  *text = std::move(texts[index - 1]);
  return noErr;
}

}  // namespace

OSErr FindUserDataText(const MovieModel& model, OSType type, int32_t index, int16_t region, std::string* text) {
  if (index < 1) return userDataItemNotFound;
  return Pick(TextsOfType(model, type, region), index, text);
}

OSErr FindUserDataText(const std::vector<UserDataItem>& items, OSType type, int32_t index, int16_t region,
                       std::string* text) {
  if (index < 1) return userDataItemNotFound;
  return Pick(ClassicTexts(items, type, region), index, text);
}

}  // namespace qtm
