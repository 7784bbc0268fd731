// The user-data catalogue on ffmpeg-tagged movies and on movies whose udta
// was written item by item (metadata_gen), values compared exactly.
#include "movie/user_data_catalog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/test_env.h"

namespace kestrel {
namespace {

using Values = std::map<std::wstring, std::wstring>;

// Every non-empty value by display name, after ReadUserData.
Values Read(const std::string& fixture, HRESULT* hr = nullptr) {
  UserDataCatalog catalog;
  HRESULT result = catalog.ReadUserData(test::FixturePath(fixture).c_str());
  if (hr) *hr = result;
  Values values;
  for (int i = 0; i < catalog.GetEntryCount(); ++i) {
    wchar_t value[UserDataCatalog::kTextChars];
    EXPECT_EQ(catalog.GetEntryValue(i, value), S_OK);
    if (value[0]) values[UserDataCatalog::EntryName(i)] = value;
  }
  return values;
}

// The ffprobe oracle lists the tag with this exact value.
bool ProbeHasTag(const std::string& fixture, const std::string& key, const std::string& value) {
  std::string json = test::ReadFileBytes(test::FixturePath(fixture + ".probe.json"));
  return json.find("\"" + key + "\": \"" + value + "\"") != std::string::npos;
}

TEST(UserDataCatalog, ThirtyOneEntriesInTableOrder) {
  struct Expected {
    OSType type;
    const wchar_t* name;
  };
  const Expected table[] = {{0xA9616C62, L"Album"},
                            {0xA9415254, L"Artist"},
                            {0xA9617574, L"Author"},
                            {0xA9636870, L"Chapter"},
                            {0xA9636D74, L"Comment"},
                            {0xA9636F6D, L"Composer"},
                            {0xA9637079, L"Copyright"},
                            {0xA9646179, L"Creation Date"},
                            {0xA9646573, L"Description"},
                            {0xA9646972, L"Director"},
                            {0xA9646973, L"Disclaimer"},
                            {0xA9656E63, L"Encoded By"},
                            {0xA96E616D, L"Full Name"},
                            {0xA967656E, L"Genre"},
                            {0xA9687374, L"Host Computer"},
                            {0xA9696E66, L"Information"},
                            {0xA96B6579, L"Keywords"},
                            {0xA96D616B, L"Make"},
                            {0xA96D6F64, L"Model"},
                            {0xA96F7065, L"Original Artist"},
                            {0xA9666D74, L"Original Format"},
                            {0xA9737263, L"Original Source"},
                            {0xA9707266, L"Performers"},
                            {0xA9707264, L"Producer"},
                            {0xA9505244, L"Product"},
                            {0xA9737772, L"Software"},
                            {0xA9726571, L"Special Playback Requirements"},
                            {0xA974726B, L"Track"},
                            {0xA977726E, L"Warning"},
                            {0xA9777274, L"Writer"},
                            {0xA975726C, L"URL Link"}};
  UserDataCatalog catalog;
  ASSERT_EQ(catalog.GetEntryCount(), 31);
  for (int i = 0; i < 31; ++i) {
    OSType type = 0;
    wchar_t name[UserDataCatalog::kTextChars], value[UserDataCatalog::kTextChars];
    EXPECT_EQ(catalog.GetEntryType(i, &type), S_OK);
    EXPECT_EQ(type, table[i].type) << i;
    EXPECT_EQ(catalog.GetEntryName(i, name), S_OK);
    EXPECT_STREQ(name, table[i].name);
    EXPECT_EQ(catalog.GetEntryValue(i, value), S_OK);
  }
  wchar_t text[UserDataCatalog::kTextChars];
  OSType type;
  EXPECT_EQ(catalog.GetEntryName(-1, text), E_INVALIDARG);
  EXPECT_EQ(catalog.GetEntryValue(31, text), E_INVALIDARG);
  EXPECT_EQ(catalog.GetEntryType(31, &type), E_INVALIDARG);
  EXPECT_EQ(catalog.GetEntryName(0, nullptr), E_POINTER);
  EXPECT_EQ(catalog.GetEntryValue(0, nullptr), E_POINTER);
  EXPECT_EQ(catalog.GetEntryType(0, nullptr), E_POINTER);
  EXPECT_EQ(UserDataCatalog::EntryName(31), nullptr);
}

TEST(UserDataCatalog, FfmpegTagsReadBackExactly) {
  HRESULT hr = E_UNEXPECTED;
  Values v = Read("md_tags.mov", &hr);
  EXPECT_EQ(hr, S_OK);
  // ffmpeg's QuickTime muxer writes "comment" both as (c)cmt and (c)des and
  // has no classic item for "composer" or "description".
  const Values expected = {
      {L"Full Name", L"The Title"}, {L"Artist", L"An Artist"},      {L"Album", L"The Album"},
      {L"Comment", L"A comment"},   {L"Description", L"A comment"}, {L"Creation Date", L"2026"},
      {L"Genre", L"Ambient"},       {L"Author", L"An Author"},      {L"Copyright", L"(c) 2026 Kestrel"},
      {L"Make", L"Camera"},         {L"Model", L"Model 7"},         {L"Keywords", L"test, tags"}};
  EXPECT_EQ(v, expected);
  // ffprobe agrees (it reads (c)ART and (c)aut both as "artist", so that one
  // is left out).
  for (auto [key, value] : {std::pair{"title", "The Title"},
                            {"album", "The Album"},
                            {"comment", "A comment"},
                            {"date", "2026"},
                            {"genre", "Ambient"},
                            {"copyright", "(c) 2026 Kestrel"},
                            {"make", "Camera"},
                            {"model", "Model 7"}})
    EXPECT_TRUE(ProbeHasTag("md_tags.mov", key, value)) << key;
}

TEST(UserDataCatalog, EveryEntryOfAWrittenMovie) {
  Values v = Read("md_all31.mov");
  const char* const codes[31] = {"alb", "ART", "aut", "chp", "cmt", "com", "cpy", "day", "des", "dir", "dis",
                                 "enc", "nam", "gen", "hst", "inf", "key", "mak", "mod", "ope", "fmt", "src",
                                 "prf", "prd", "PRD", "swr", "req", "trk", "wrn", "wrt", "url"};
  ASSERT_EQ(v.size(), 31u);
  for (int i = 0; i < 31; ++i) {
    std::string plain = "value " + std::to_string(i) + " of " + codes[i];
    std::wstring want(plain.begin(), plain.end());
    if (i == 0) want = L"Caf\u00E9 del Mar";       // Mac Roman
    if (i == 1) want = L"Bj\u00F6rk \u20AC";       // UTF-8
    if (i == 12) want = L"The Title";              // the English record, not the first
    if (i == 30) want = L"https://example.com/?";  // no place in the code page
    EXPECT_EQ(v[UserDataCatalog::EntryName(i)], want) << i;
  }
}

TEST(UserDataCatalog, CommentTextRules) {
  // Carriage return to space, line feed kept.
  EXPECT_EQ(Read("md_crlf.mov"), (Values{{L"Comment", L"line one \nline two"}}));
  // The first of two items.
  EXPECT_EQ(Read("md_two_comments.mov"), (Values{{L"Comment", L"first comment"}}));
  // 300 characters are cut to 259; 259 fit.
  Values v = Read("md_long.mov");
  std::wstring cut;
  for (int i = 0; i < 259; ++i) cut.push_back(static_cast<wchar_t>(L'a' + i % 26));
  EXPECT_EQ(v[L"Comment"], cut);
  EXPECT_EQ(v[L"Full Name"], std::wstring(259, L'x'));
}

TEST(UserDataCatalog, MoviesWithoutTagsGiveEmptyValuesAndSucceed) {
  for (const char* name : {"md_empty.mov", "md_base.mov", "h264_bframes.mp4", "audio16.aif", "audio.caf", "dv.dv"}) {
    HRESULT hr = E_UNEXPECTED;
    EXPECT_TRUE(Read(name, &hr).empty()) << name;
    EXPECT_EQ(hr, S_OK) << name;
  }
}

TEST(UserDataCatalog, ItunesListAndImportedTags) {
  const Values itunes = {{L"Full Name", L"Song Title"},   {L"Artist", L"Song Artist"},   {L"Album", L"Song Album"},
                         {L"Composer", L"Song Composer"}, {L"Writer", L"Song Composer"}, {L"Comment", L"Song comment"},
                         {L"Copyright", L"(c) Label"},    {L"Creation Date", L"2025"},   {L"Genre", L"Jazz"}};
  EXPECT_EQ(Read("md_itunes.m4a"), itunes);
  EXPECT_TRUE(ProbeHasTag("md_itunes.m4a", "composer", "Song Composer"));
  EXPECT_EQ(Read("md_tags.aif"), (Values{{L"Full Name", L"Aiff Name"},
                                         {L"Author", L"Aiff Author"},
                                         {L"Copyright", L"(c) Aiff"},
                                         {L"Comment", L"Aiff note"}}));
  EXPECT_EQ(Read("md_tags.caf"), (Values{{L"Full Name", L"Caf Title"}, {L"Artist", L"Caf Artist"}}));
}

TEST(UserDataCatalog, FailuresLeaveEveryValueEmpty) {
  UserDataCatalog catalog;
  ASSERT_EQ(catalog.ReadUserData(test::FixturePath("md_all31.mov").c_str()), S_OK);
  for (const char* name : {"not_a_movie.mov", "empty.mov", "no-such-file.mov"}) {
    ASSERT_EQ(catalog.ReadUserData(test::FixturePath("md_all31.mov").c_str()), S_OK);
    EXPECT_EQ(catalog.ReadUserData(test::FixturePath(name).c_str()), E_FAIL) << name;
    for (int i = 0; i < 31; ++i) {
      wchar_t value[UserDataCatalog::kTextChars] = L"x";
      catalog.GetEntryValue(i, value);
      EXPECT_EQ(value[0], L'\0') << name << " " << i;
    }
  }
  EXPECT_EQ(catalog.ReadUserData(nullptr), E_FAIL);
}

// Each catalogue holds its own movie's values: one reading a movie leaves
// another's alone, also when both read over and over at the same time.
TEST(UserDataCatalog, EachCatalogueKeepsItsOwnMovie) {
  const Values all31 = Read("md_all31.mov"), crlf = Read("md_crlf.mov");
  ASSERT_NE(all31, crlf);
  auto values = [](const UserDataCatalog& catalog) {
    Values out;
    for (int i = 0; i < catalog.GetEntryCount(); ++i) {
      wchar_t value[UserDataCatalog::kTextChars];
      catalog.GetEntryValue(i, value);
      if (value[0]) out[UserDataCatalog::EntryName(i)] = value;
    }
    return out;
  };
  UserDataCatalog first, second;
  ASSERT_EQ(first.ReadUserData(test::FixturePath("md_all31.mov").c_str()), S_OK);
  ASSERT_EQ(second.ReadUserData(test::FixturePath("md_crlf.mov").c_str()), S_OK);
  EXPECT_EQ(values(first), all31);
  EXPECT_EQ(values(second), crlf);
  UserDataCatalog fresh;
  EXPECT_TRUE(values(fresh).empty());
  EXPECT_EQ(values(first), all31);

  std::atomic<int> wrong{0};
  auto load = [&](UserDataCatalog* catalog, const char* name, const Values* expected) {
    for (int i = 0; i < 15; ++i) {
      if (catalog->ReadUserData(test::FixturePath(name).c_str()) != S_OK || values(*catalog) != *expected) ++wrong;
    }
  };
  std::thread a(load, &first, "md_all31.mov", &all31), b(load, &second, "md_crlf.mov", &crlf);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace kestrel
