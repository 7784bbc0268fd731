// User data: classic items, the iTunes list, container tags and the text
// conversion, on movie models built in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "api/records.h"
#include "userdata/text_encoding.h"
#include "userdata/user_data.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr OSType kName = 0xA96E616D, kComment = 0xA9636D74, kCopyright = 0xA9637079, kComposer = 0xA9636F6D,
                 kDescription = 0xA9646573, kSoftware = 0xA9737772, kAuthor = 0xA9617574, kWriter = 0xA9777274;

void Put16(Bytes* b, uint16_t v) { b->insert(b->end(), {uint8_t(v >> 8), uint8_t(v)}); }
void Put32(Bytes* b, uint32_t v) {
  b->insert(b->end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
void PutText(Bytes* b, const std::string& s) { b->insert(b->end(), s.begin(), s.end()); }

Bytes Atom(const char* type, const Bytes& body) {
  Bytes b;
  Put32(&b, static_cast<uint32_t>(body.size() + 8));
  PutText(&b, std::string(type, 4));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// International-text records of a classic item.
struct Rec {
  uint16_t language;
  std::string text;
};
Bytes Records(std::initializer_list<Rec> records) {
  Bytes b;
  for (const auto& r : records) {
    Put16(&b, static_cast<uint16_t>(r.text.size()));
    Put16(&b, r.language);
    PutText(&b, r.text);
  }
  return b;
}

constexpr uint16_t kUnd = 0x55C4, kEng = 0x15C7, kDeu = 0x10B5;

Bytes IlstEntry(const std::string& key, uint32_t kind, const std::string& value) {
  Bytes data;
  Put32(&data, kind);
  Put32(&data, 0);
  PutText(&data, value);
  return Atom(key.c_str(), Atom("data", data));
}

// udta/meta as ISO files write it: full atom, hdlr, ilst.
Bytes Meta(const Bytes& ilst_body, bool full_atom = true) {
  Bytes hdlr(8, 0);
  PutText(&hdlr, "mdirappl");
  hdlr.resize(hdlr.size() + 9, 0);
  Bytes body;
  if (full_atom) Put32(&body, 0);
  Bytes h = Atom("hdlr", hdlr), l = Atom("ilst", ilst_body);
  body.insert(body.end(), h.begin(), h.end());
  body.insert(body.end(), l.begin(), l.end());
  return body;
}

std::string Find(const qtm::MovieModel& m, OSType type, int32_t index = 1, int16_t region = verUS) {
  std::string text;
  OSErr err = qtm::FindUserDataText(m, type, index, region, &text);
  return err == noErr ? text : "<" + std::to_string(err) + ">";
}

}  // namespace

TEST(UserData, ClassicItemsFirstRecordAndFirstItem) {
  qtm::MovieModel m;
  m.user_data.push_back({kComment, Records({{0, "first comment"}})});
  m.user_data.push_back({kComment, Records({{0, "second comment"}})});
  m.user_data.push_back({kName, Records({{kUnd, "A title"}, {kDeu, "Ein Titel"}})});
  EXPECT_EQ(Find(m, kComment), "first comment");
  EXPECT_EQ(Find(m, kComment, 2), "second comment");
  EXPECT_EQ(Find(m, kComment, 3), "<-2026>");
  EXPECT_EQ(Find(m, kComment, 0), "<-2026>");
  EXPECT_EQ(Find(m, kAuthor), "<-2026>");
  // The requested region's language when a record has it, else the first.
  EXPECT_EQ(Find(m, kName, 1, verGermany), "Ein Titel");
  EXPECT_EQ(Find(m, kName, 1, verUS), "A title");
  EXPECT_EQ(Find(m, kName, 1, verJapan), "A title");
}

TEST(UserData, RegionLanguageMatchesMacAndIsoCodes) {
  qtm::MovieModel m;
  m.user_data.push_back({kName, Records({{2, "Deutsch"}, {0, "English"}})});
  m.user_data.push_back({kComment, Records({{kDeu, "deu"}, {kEng, "eng"}})});
  EXPECT_EQ(Find(m, kName, 1, verUS), "English");
  EXPECT_EQ(Find(m, kName, 1, verBritain), "English");
  EXPECT_EQ(Find(m, kComment, 1, verUS), "eng");
  EXPECT_EQ(Find(m, kComment, 1, verGermany), "deu");
  EXPECT_EQ(qtm::MacLanguageOfRegion(verFrance), 1);
  EXPECT_EQ(qtm::IsoLanguageOfRegion(verUS), kEng);
  EXPECT_EQ(GetScriptManagerVariable(smRegionCode), verUS);
}

TEST(UserData, EncodingsBecomeWindows1252) {
  qtm::MovieModel m;
  // Mac Roman (language 0): 0x8E is e acute, 0xD2 0xD3 curly quotes, 0xB9 pi (no place).
  m.user_data.push_back({kName, Records({{0, "Caf\x8E \xD2q\xD3 \xB9"}})});
  // ISO language: UTF-8; a character outside Windows-1252 becomes '?'.
  m.user_data.push_back({kComment, Records({{kUnd, "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x88\x9E \xF0\x9F\x8E\xA5 \xC3"}})});
  // A byte-order mark: UTF-16 whatever the language.
  m.user_data.push_back({kAuthor, Records({{0, std::string("\xFE\xFF\x00H\x00\xE9\x04\x10", 8)}})});
  m.user_data.push_back({kWriter, Records({{0, std::string("\xFF\xFEH\x00\xE9\x00", 6)}})});
  // Japanese Mac script: ASCII kept, the rest unknown.
  m.user_data.push_back({kDescription, Records({{11, "ab\x82\xA0"}})});
  EXPECT_EQ(Find(m, kName), "Caf\xE9 \x93q\x94 ?");
  EXPECT_EQ(Find(m, kComment), "Caf\xE9 \x80 ? ? ?");
  EXPECT_EQ(Find(m, kAuthor), "H\xE9?");
  EXPECT_EQ(Find(m, kWriter), "H\xE9");
  EXPECT_EQ(Find(m, kDescription), "ab??");
}

TEST(UserData, TextConversionTables) {
  // Every Mac Roman byte that Windows-1252 has: spot checks of both tables.
  const uint8_t mac[] = {0x80, 0x8A, 0xA5, 0xA9, 0xAA, 0xC9, 0xCA, 0xDB, 0xE2, 0xF0, 0xFF};
  EXPECT_EQ(qtm::ToWindows1252(mac, sizeof mac, qtm::TextEncoding::kMacRoman),
            "\xC4\xE4\x95\xA9\x99\x85\xA0\x80\x82??");
  EXPECT_EQ(qtm::Windows1252Of(0x0160), '\x8A');
  EXPECT_EQ(qtm::Windows1252Of(0x0081), '\x81');
  EXPECT_EQ(qtm::Windows1252Of(0x0100), '?');
  // Overlong and surrogate UTF-8 sequences are not characters.
  const uint8_t bad[] = {0xC0, 0xAF, 'x', 0xED, 0xA0, 0x80, 0xEF, 0xBB, 0xBF};
  EXPECT_EQ(qtm::ToWindows1252(bad, sizeof bad, qtm::TextEncoding::kUtf8), "??x????");
  const uint8_t bom[] = {0xEF, 0xBB, 0xBF, 'o', 'k'};
  EXPECT_EQ(qtm::ToWindows1252(bom, sizeof bom, qtm::TextEncoding::kUtf8), "ok");
  const uint8_t odd[] = {0x00, 'a', 0xD8, 0x3D, 0xDE, 0x00, 0x00};
  EXPECT_EQ(qtm::ToWindows1252(odd, sizeof odd, qtm::TextEncoding::kUtf16BigEndian), "a??");
}

TEST(UserData, BrokenRecordsAreCutNotOverrun) {
  qtm::MovieModel m;
  Bytes two = Records({{0, "kept"}});
  Put16(&two, 200);  // claims 200 bytes, has 3
  Put16(&two, 0);
  PutText(&two, "abc");
  m.user_data.push_back({kComment, two});
  m.user_data.push_back({kName, Bytes{0x00}});         // shorter than a record head
  m.user_data.push_back({kName, Records({{0, ""}})});  // an empty text is a text
  EXPECT_EQ(Find(m, kComment), "kept");
  EXPECT_EQ(Find(m, kName), "");
  EXPECT_EQ(qtm::ParseTextRecords(two).size(), 1u);
}

TEST(UserData, ItunesListFillsTypesWithoutClassicItems) {
  Bytes ilst;
  for (Bytes e : {IlstEntry("\xA9nam", 1, "Song \xC3\xA9"), IlstEntry("\xA9wrt", 1, "Composer X"),
                  IlstEntry("cprt", 1, "(c) Label"), IlstEntry("desc", 1, "About"), IlstEntry("\xA9too", 1, "Lavf"),
                  IlstEntry("trkn", 0, std::string("\0\0\0\3\0\x0c\0\0", 8)),
                  IlstEntry("\xA9"
                            "cmt",
                            2, std::string("\0H\0i", 4))})
    ilst.insert(ilst.end(), e.begin(), e.end());
  qtm::MovieModel m;
  m.user_data.push_back({kAuthor, Records({{0, "classic author"}})});
  m.user_data.push_back({0x6D657461, Meta(ilst)});
  EXPECT_EQ(Find(m, kName), "Song \xE9");
  EXPECT_EQ(Find(m, kWriter), "Composer X");
  EXPECT_EQ(Find(m, kComposer), "Composer X");
  EXPECT_EQ(Find(m, kCopyright), "(c) Label");
  EXPECT_EQ(Find(m, kDescription), "About");
  EXPECT_EQ(Find(m, kSoftware), "Lavf");
  EXPECT_EQ(Find(m, kComment), "Hi");
  EXPECT_EQ(Find(m, kAuthor), "classic author");
  EXPECT_EQ(Find(m, 0xA974726B), "<-2026>");  // trkn is binary: not a text

  // A classic item wins over the list; a plain (QuickTime-style) meta works too.
  qtm::MovieModel q;
  q.user_data.push_back({0x6D657461, Meta(ilst, false)});
  q.user_data.push_back({kName, Records({{0, "classic"}})});
  EXPECT_EQ(Find(q, kName), "classic");
  EXPECT_EQ(Find(q, kCopyright), "(c) Label");

  // A list that claims more than there is ends where the bytes do; an entry
  // whose header is broken ends it there.
  Bytes broken = Meta(ilst);
  broken[broken.size() - ilst.size() - 8 + 3] = 0xFF;  // ilst size byte
  qtm::MovieModel b;
  b.user_data.push_back({0x6D657461, broken});
  EXPECT_EQ(Find(b, kName), "Song \xE9");
  EXPECT_EQ(Find(b, kComment), "Hi");
  broken = Meta(ilst);
  std::fill_n(broken.end() - ilst.size(), 4, 0);
  broken[broken.size() - ilst.size() + 3] = 4;  // first entry smaller than its header
  b.user_data[0].payload = broken;
  EXPECT_EQ(Find(b, kName), "<-2026>");
}

TEST(UserData, ContainerTagsOfImportedMovies) {
  qtm::MovieModel m;
  m.imported = true;
  m.container_tags = {{"title", "Aiff Name"},       {"author", "Aiff Auth"},  {"copyright", "(c) Aiff"},
                      {"comment", "Anno \xC3\xBC"}, {"Artist", "Caf Artist"}, {"encoding application", "App"},
                      {"unknown key", "x"}};
  EXPECT_EQ(Find(m, kName), "Aiff Name");
  EXPECT_EQ(Find(m, kAuthor), "Aiff Auth");
  EXPECT_EQ(Find(m, kCopyright), "(c) Aiff");
  EXPECT_EQ(Find(m, kComment), "Anno \xFC");
  EXPECT_EQ(Find(m, 0xA9415254), "Caf Artist");
  EXPECT_EQ(Find(m, kSoftware), "App");
  EXPECT_EQ(Find(m, kWriter), "<-2026>");
}

TEST(UserData, EveryMovieHasAList) {
  MovieRecord movie;
  movie.model = std::make_unique<qtm::MovieModel>();
  UserData ud = GetMovieUserData(&movie);
  ASSERT_NE(ud, nullptr);
  EXPECT_EQ(GetMovieUserData(nullptr), nullptr);
  EXPECT_EQ(GetUserDataText(nullptr, nullptr, kComment, 1, 0), paramErr);
  EXPECT_EQ(GetUserDataText(ud, nullptr, kComment, 1, 0), nilHandleErr);
}
