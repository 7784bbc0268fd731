// What the filter reads of a track's and a movie's texts from their bytes:
// media-header language codes and their locales, Unicode texts, Nero
// chapter lists and chapter text samples, cut short or not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movie/chapter_list.h"
#include "movie/media_language.h"
#include "movie/media_text.h"

namespace kestrel {
namespace {

std::wstring Code(uint16_t field) {
  wchar_t code[4];
  LanguageCodeOfField(field, code);
  return code;
}

uint16_t Packed(const char (&s)[4]) {
  return static_cast<uint16_t>((s[0] - 0x60) << 10 | (s[1] - 0x60) << 5 | (s[2] - 0x60));
}

TEST(MediaLanguage, MacintoshCodesPackedLettersAndTheUnspecified) {
  EXPECT_EQ(Code(0), L"eng");
  EXPECT_EQ(Code(1), L"fra");
  EXPECT_EQ(Code(2), L"deu");
  EXPECT_EQ(Code(11), L"jpn");
  EXPECT_EQ(Code(94), L"epo");
  EXPECT_EQ(Code(95), L"und");  // no language of that number
  EXPECT_EQ(Code(128), L"cym");
  EXPECT_EQ(Code(150), L"aze");
  EXPECT_EQ(Code(151), L"und");
  EXPECT_EQ(Code(0x7FFF), L"und");
  EXPECT_EQ(Code(Packed("ger")), L"ger");  // as stored
  EXPECT_EQ(Code(Packed("und")), L"und");
  EXPECT_EQ(Code(0x0400), L"und");  // a zero letter
}

TEST(MediaLanguage, LocalesOfBothIsoForms) {
  EXPECT_EQ(LocaleOfLanguageCode(L"eng"), 0x0009u);
  EXPECT_EQ(LocaleOfLanguageCode(L"ger"), 0x0007u);
  EXPECT_EQ(LocaleOfLanguageCode(L"deu"), 0x0007u);
  EXPECT_EQ(LocaleOfLanguageCode(L"fre"), 0x000Cu);
  EXPECT_EQ(LocaleOfLanguageCode(L"jpn"), 0x0011u);
  EXPECT_EQ(LocaleOfLanguageCode(L"und"), 0u);
  EXPECT_EQ(LocaleOfLanguageCode(L"qqq"), 0u);
  EXPECT_EQ(LocaleOfLanguageCode(L"en"), 0u);
  EXPECT_EQ(LocaleOfLanguageCode(nullptr), 0u);
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(MediaText, Utf8Utf16AndWindows1252) {
  std::vector<uint8_t> utf8 = Bytes("Schluss \xC3\x84\xC3\x96\xC3\x9C");
  EXPECT_EQ(WideFromMediaText(utf8.data(), utf8.size()), L"Schluss \u00C4\u00D6\u00DC");
  const uint8_t be[] = {0xFE, 0xFF, 0x00, 'A', 0x20, 0xAC};
  EXPECT_EQ(WideFromMediaText(be, sizeof be), L"A\u20AC");
  const uint8_t le[] = {0xFF, 0xFE, 'A', 0x00, 0xAC, 0x20, 0x00};  // an odd last byte is dropped
  EXPECT_EQ(WideFromMediaText(le, sizeof le), L"A\u20AC");
  const uint8_t latin[] = {'c', 0xE9, 0x80};  // not UTF-8
  EXPECT_EQ(WideFromMediaText(latin, sizeof latin), L"c\u00E9\u20AC");
  const uint8_t zero[] = {'a', 0, 'b'};
  EXPECT_EQ(WideFromMediaText(zero, sizeof zero), L"a");
  EXPECT_EQ(WideFromMediaText(nullptr, 4), L"");
}

// A Nero list as ffmpeg writes it: version 1, flags, four reserved bytes,
// the count, then start (100 ns) and name of each.
std::vector<uint8_t> Nero(int version, const std::vector<std::pair<uint64_t, std::string>>& chapters) {
  std::vector<uint8_t> b = {static_cast<uint8_t>(version), 0, 0, 0};
  if (version == 1) b.insert(b.end(), 4, 0);
  b.push_back(static_cast<uint8_t>(chapters.size()));
  for (const auto& [start, name] : chapters) {
    for (int i = 7; i >= 0; --i) b.push_back(static_cast<uint8_t>(start >> (8 * i)));
    b.push_back(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
  }
  return b;
}

TEST(ChapterList, NeroListsOfBothVersionsAndCutShort) {
  for (int version : {0, 1}) {
    SCOPED_TRACE(version);
    std::vector<uint8_t> b = Nero(version, {{0, "Intro"}, {7000000, "Middle part"}, {15000000, ""}});
    std::vector<Chapter> c = ParseNeroChapters(b.data(), b.size());
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].name, L"Intro");
    EXPECT_EQ(c[0].start, 0);
    EXPECT_EQ(c[1].name, L"Middle part");
    EXPECT_EQ(c[1].start, 7000000);
    EXPECT_EQ(c[2].name, L"");
    // Cut inside the second name: the first alone.
    EXPECT_EQ(ParseNeroChapters(b.data(), b.size() - 2 - 9 - 4).size(), 1u);
  }
  // A count beyond the bytes stops at the bytes.
  std::vector<uint8_t> b = Nero(1, {{0, "A"}});
  b[8] = 200;
  EXPECT_EQ(ParseNeroChapters(b.data(), b.size()).size(), 1u);
  EXPECT_TRUE(ParseNeroChapters(b.data(), 4).empty());
  EXPECT_TRUE(ParseNeroChapters(nullptr, 40).empty());
}

TEST(ChapterList, TextSamplesNameTheirChapter) {
  std::wstring name;
  const uint8_t sample[] = {0, 5, 'I', 'n', 't', 'r', 'o', 0, 0, 0, 12, 'e', 'n', 'c', 'd'};  // an atom after
  ASSERT_TRUE(TextSampleName(sample, sizeof sample, &name));
  EXPECT_EQ(name, L"Intro");
  const uint8_t utf16[] = {0, 6, 0xFE, 0xFF, 0, 'O', 0, 'K'};
  ASSERT_TRUE(TextSampleName(utf16, sizeof utf16, &name));
  EXPECT_EQ(name, L"OK");
  const uint8_t empty[] = {0, 0};
  ASSERT_TRUE(TextSampleName(empty, sizeof empty, &name));
  EXPECT_EQ(name, L"");
  const uint8_t too_long[] = {0, 9, 'a', 'b'};
  EXPECT_FALSE(TextSampleName(too_long, sizeof too_long, &name));
  EXPECT_FALSE(TextSampleName(sample, 1, &name));
}

}  // namespace
}  // namespace kestrel
