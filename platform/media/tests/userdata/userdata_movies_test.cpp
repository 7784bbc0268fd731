// User data and time code through the engine's public calls, on movies the
// test writes byte by byte and on the metadata fixtures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "movie_writer.h"
#include "open_movie.h"
#include "qtmedia.h"

namespace {

using testmovie::Bytes;

std::string Fixture(const std::string& name) {
  const char* dir = std::getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

// A movie opened the way the filter opens one; disposed at the end.
class OpenedMovie {
 public:
  explicit OpenedMovie(const std::string& path) : movie_(qtm::support::OpenMovieAt(path)) {}
  ~OpenedMovie() {
    if (movie_) DisposeMovie(movie_);
  }
  Movie get() const { return movie_; }

 private:
  Movie movie_;
};

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
  std::string path = testing::TempDir() + "/kestrel_userdata_" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

// The text as GetUserDataText appends it to a handle; "<err>" on failure.
std::string Text(Movie movie, OSType type, int32_t index = 1) {
  UserData ud = GetMovieUserData(movie);
  if (!ud) return "<no list>";
  Handle h = NewHandle(0);
  OSErr err = GetUserDataText(ud, h, type, index, static_cast<int16_t>(GetScriptManagerVariable(smRegionCode)));
  std::string out = err == noErr ? std::string(*h, GetHandleSize(h)) : "<" + std::to_string(err) + ">";
  DisposeHandle(h);
  return out;
}

Bytes Item(const char* type, uint16_t language, const std::string& text) {
  Bytes body;
  testmovie::Put16(body, static_cast<uint32_t>(text.size()));
  testmovie::Put16(body, language);
  body.insert(body.end(), text.begin(), text.end());
  return testmovie::Atom(type, body);
}

// One time-code track: samples of 4 bytes; the first holds frame 0, the
// second the bytes 0x01010101 (the writer fills sample k with k).
testmovie::MovieSpec TimeCodeSpec(uint32_t flags, uint32_t scale, uint32_t duration, uint8_t frames) {
  testmovie::TrackSpec t;
  t.media_type = "tmcd";
  t.codec = "tmcd";
  t.timescale = scale ? scale : 25;   // the media's own scale stays usable
  testmovie::Put32(t.extensions, 0);  // reserved
  testmovie::Put32(t.extensions, flags);
  testmovie::Put32(t.extensions, scale);
  testmovie::Put32(t.extensions, duration);
  testmovie::Put8(t.extensions, frames);
  testmovie::Put8(t.extensions, 0);
  t.samples = {{t.timescale * 10, 4}, {t.timescale * 10, 4}};
  testmovie::MovieSpec m;
  m.tracks.push_back(t);
  return m;
}

std::string TimeCodeAt(Movie movie, TimeValue t, int32_t* frame = nullptr, int32_t* flags = nullptr) {
  Track track = GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType);
  MediaHandler h = track ? GetMediaHandler(GetTrackMedia(track)) : nullptr;
  if (!h) return "<no handler>";
  TimeCodeDef def = {};
  TimeCodeRecord rec = {};
  HandlerError err = TCGetTimeCodeAtTime(h, t, frame, &def, &rec, nullptr);
  if (err != noErr) return "<" + std::to_string(err) + ">";
  if (flags) *flags = def.flags;
  char text[32];
  snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", rec.t.hours, rec.t.minutes, rec.t.seconds, rec.t.frames);
  return text;
}

constexpr OSType kComment = 0xA9636D74, kName = 0xA96E616D, kArtist = 0xA9415254, kAuthor = 0xA9617574,
                 kCopyright = 0xA9637079, kComposer = 0xA9636F6D, kWriter = 0xA9777274;

class UserDataMovies : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitializeQTML(0), noErr);
    ASSERT_EQ(EnterMovies(), noErr);
  }
  void TearDown() override { ExitMovies(); }
};

}  // namespace

TEST_F(UserDataMovies, WrittenUserDataReadsBack) {
  testmovie::MovieSpec movie_layout;
  Bytes udta = Item(
      "\xA9"
      "cmt",
      0, "first\r\nsecond");
  testmovie::Append(udta, Item("\xA9"
                               "cmt",
                               0, "other comment"));
  testmovie::Append(udta, Item("\xA9"
                               "nam",
                               0x55C4, "Ti\xC3\xA9"));
  testmovie::Put32(udta, 0);  // the terminator QuickTime writes
  OpenedMovie movie(WriteTemp("items.mov", testmovie::Write(movie_layout, udta)));
  ASSERT_TRUE(movie.get());
  EXPECT_EQ(Text(movie.get(), kComment), "first\r\nsecond");  // carriage returns are the caller's
  EXPECT_EQ(Text(movie.get(), kComment, 2), "other comment");
  EXPECT_EQ(Text(movie.get(), kName), "Ti\xE9");
  EXPECT_EQ(Text(movie.get(), kAuthor), "<-2026>");

  // Text is appended to what the handle holds.
  Handle h = NewHandle(0);
  const char prefix[] = "x=";
  PtrAndHand(prefix, h, 2);
  ASSERT_EQ(GetUserDataText(GetMovieUserData(movie.get()), h, kName, 1, verUS), noErr);
  EXPECT_EQ(std::string(*h, GetHandleSize(h)), "x=Ti\xE9");
  DisposeHandle(h);

  // No udta at all, and an empty one: a list all the same.
  for (const Bytes& bytes : {testmovie::Write(movie_layout), testmovie::Write(movie_layout, Bytes(4, 0))}) {
    OpenedMovie bare(WriteTemp("bare.mov", bytes));
    ASSERT_TRUE(bare.get());
    EXPECT_NE(GetMovieUserData(bare.get()), nullptr);
    EXPECT_EQ(Text(bare.get(), kComment), "<-2026>");
  }
}

TEST_F(UserDataMovies, FixtureTagsOfEveryKind) {
  struct Case {
    const char* file;
    OSType type;
    const char* text;
  };
  const Case cases[] = {
      {"md_tags.mov", kName, "The Title"},
      {"md_tags.mov", kArtist, "An Artist"},
      {"md_tags.mov", kAuthor, "An Author"},
      {"md_tags.mov", kCopyright, "(c) 2026 Kestrel"},
      {"md_itunes.m4a", kName, "Song Title"},
      {"md_itunes.m4a", kComposer, "Song Composer"},
      {"md_itunes.m4a", kWriter, "Song Composer"},
      {"md_itunes.m4a", kCopyright, "(c) Label"},
      {"md_tags.aif", kName, "Aiff Name"},
      {"md_tags.aif", kAuthor, "Aiff Author"},
      {"md_tags.aif", kCopyright, "(c) Aiff"},
      {"md_tags.aif", kComment, "Aiff note"},
      {"md_tags.caf", kName, "Caf Title"},
      {"md_tags.caf", kArtist, "Caf Artist"},
      {"md_all31.mov", 0xA9616C62, "Caf\xE9 del Mar"},
      {"md_all31.mov", kArtist, "Bj\xF6rk \x80"},
      {"md_all31.mov", 0xA975726C, "https://example.com/?"},
  };
  for (const Case& c : cases) {
    OpenedMovie movie(Fixture(c.file));
    ASSERT_TRUE(movie.get()) << c.file;
    EXPECT_EQ(Text(movie.get(), c.type), c.text) << c.file;
  }
  OpenedMovie dv(Fixture("dv.dv"));
  ASSERT_TRUE(dv.get());
  EXPECT_NE(GetMovieUserData(dv.get()), nullptr);
  EXPECT_EQ(Text(dv.get(), kComment), "<-2026>");
}

TEST_F(UserDataMovies, WrittenTimeCodeTracks) {
  // 25 fps, 24-hour wrap: the second sample starts at frame 0x01010101.
  OpenedMovie nd(WriteTemp("tc25.mov", testmovie::Write(TimeCodeSpec(tc24HourMax, 25, 1, 25))));
  ASSERT_TRUE(nd.get());
  int32_t frame = -1, flags = -1;
  EXPECT_EQ(TimeCodeAt(nd.get(), 0, &frame, &flags), "00:00:00:00");
  EXPECT_EQ(flags, tc24HourMax);
  EXPECT_EQ(TimeCodeAt(nd.get(), 249, &frame), "00:00:09:24");
  EXPECT_EQ(frame, 249);
  // 16843009 frames less seven days of 25 fps: 1723009 = 19:08:40:09.
  EXPECT_EQ(TimeCodeAt(nd.get(), 250, &frame), "19:08:40:09");
  EXPECT_EQ(frame, 0x01010101);

  // 29.97 drop-frame in a 2997 media.
  OpenedMovie df(WriteTemp("tc2997.mov", testmovie::Write(TimeCodeSpec(tcDropFrame, 2997, 100, 30))));
  ASSERT_TRUE(df.get());
  EXPECT_EQ(TimeCodeAt(df.get(), 5994, &frame), "00:00:01:29");
  EXPECT_EQ(frame, 59);

  // Broken definitions fail; they do not crash or divide by zero.
  for (auto movie_layout : {TimeCodeSpec(0, 25, 0, 25), TimeCodeSpec(0, 25, 1, 0), TimeCodeSpec(0, 0, 1, 25)}) {
    OpenedMovie broken(WriteTemp("tcbroken.mov", testmovie::Write(movie_layout)));
    ASSERT_TRUE(broken.get());
    EXPECT_EQ(TimeCodeAt(broken.get(), 0), "<-208>");
  }
  testmovie::MovieSpec cut = TimeCodeSpec(0, 25, 1, 25);
  cut.tracks[0].extensions.resize(8);  // the definition cut off
  OpenedMovie short_desc(WriteTemp("tcshort.mov", testmovie::Write(cut)));
  ASSERT_TRUE(short_desc.get());
  EXPECT_EQ(TimeCodeAt(short_desc.get(), 0), "<-208>");
}

TEST_F(UserDataMovies, FixtureTimeCodes) {
  OpenedMovie df(Fixture("md_tc_df.mov"));
  ASSERT_TRUE(df.get());
  int32_t frame = -1, flags = 0;
  EXPECT_EQ(TimeCodeAt(df.get(), 0, &frame, &flags), "01:00:00:00");
  EXPECT_EQ(frame, 107892);
  EXPECT_EQ(flags & tcDropFrame, tcDropFrame);
  EXPECT_EQ(TimeCodeAt(df.get(), 29 * 1001), "01:00:00:29");
  OpenedMovie nd(Fixture("md_tc_25.mov"));
  ASSERT_TRUE(nd.get());
  EXPECT_EQ(TimeCodeAt(nd.get(), 0, nullptr, &flags), "10:20:30:12");
  EXPECT_EQ(flags & tcDropFrame, 0);
  OpenedMovie none(Fixture("md_base.mov"));
  ASSERT_TRUE(none.get());
  EXPECT_EQ(GetMovieIndTrackType(none.get(), 1, TimeCodeMediaType, movieTrackMediaType), nullptr);
}
