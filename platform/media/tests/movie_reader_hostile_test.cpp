// The reader on damaged and hostile files: every one gives a clear status,
// none crashes, hangs or allocates by an unchecked field.
#include <gtest/gtest.h>

#include <random>

#include "movie/movie_model.h"
#include "movie_writer.h"
#include "qtmedia.h"

namespace {

using testmovie::Bytes;

OSErr ReadBytes(const Bytes& bytes, std::string* reason = nullptr, std::unique_ptr<qtm::MovieModel>* out = nullptr) {
  std::unique_ptr<qtm::MovieModel> movie;
  OSErr err = qtm::ReadMovie(qtm::MakeMemorySource(bytes), &movie, reason);
  if (out) *out = std::move(movie);
  return err;
}

Bytes GoodMovie() {
  testmovie::MovieSpec m;
  testmovie::TrackSpec t;
  for (int i = 0; i < 8; ++i) t.samples.push_back({20, 16, i % 4 == 0, 0, 0});
  m.tracks.push_back(t);
  return testmovie::Write(m);
}

size_t FindType(const Bytes& b, const char* type, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (memcmp(&b[i], type, 4) == 0) return i;
  ADD_FAILURE() << "no " << type;
  return 0;
}

void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

TEST(HostileMovie, EmptyAndNotAMovie) {
  std::string reason;
  EXPECT_EQ(ReadBytes({}, &reason), eofErr);
  EXPECT_EQ(reason, "empty file");
  std::string text = "this is not a movie at all\n";
  EXPECT_EQ(ReadBytes(Bytes(text.begin(), text.end()), &reason), badFileFormat);
  EXPECT_EQ(reason, "not a movie file");
  EXPECT_EQ(ReadBytes(Bytes(3, 0), &reason), badFileFormat);
  // Atoms, but no movie among them.
  EXPECT_EQ(ReadBytes(testmovie::Atom("free", Bytes(20, 0)), &reason), invalidMovie);
  EXPECT_EQ(reason, "no movie atom");
}

TEST(HostileMovie, EveryTruncationFailsCleanly) {
  Bytes good = GoodMovie();
  ASSERT_EQ(ReadBytes(good), noErr);
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + n);
    OSErr err = ReadBytes(cut);
    EXPECT_NE(err, noErr) << "cut at " << n;
  }
}

TEST(HostileMovie, ChildOverrunningItsParent) {
  Bytes b = GoodMovie();
  size_t trak = FindType(b, "trak") - 4;
  Set32(b, trak, 0x7FFFFFF0);
  std::string reason;
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "atom overruns its parent");
}

TEST(HostileMovie, SizeSmallerThanHeader) {
  Bytes b = GoodMovie();
  size_t mdia = FindType(b, "mdia") - 4;
  Set32(b, mdia, 4);
  std::string reason;
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "atom size smaller than its header");
}

TEST(HostileMovie, AbsurdEntryCounts) {
  struct Case {
    const char* type;
    size_t count_at;  // from the type field
    const char* reason;
  } cases[] = {
      {"stts", 8, "stts entry count exceeds the atom"}, {"stsc", 8, "stsc entry count exceeds the atom"},
      {"stsz", 12, "stsz entry count exceeds the atom"}, {"stco", 8, "stco entry count exceeds the atom"},
      {"stss", 8, "stss entry count exceeds the atom"},  {"stsd", 8, "stsd entry count exceeds the atom"},
  };
  for (const Case& c : cases) {
    Bytes b = GoodMovie();
    Set32(b, FindType(b, c.type) + c.count_at, 0xFFFFFFFF);
    std::string reason;
    EXPECT_EQ(ReadBytes(b, &reason), invalidMovie) << c.type;
    EXPECT_EQ(reason, c.reason);
  }
  // One time-to-sample run of 2^32-1 samples, and a constant-size table of
  // as many: more samples than the file has bytes.
  Bytes b = GoodMovie();
  Set32(b, FindType(b, "stts") + 12, 0xFFFFFFFF);
  std::string reason;
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "more samples than the file can hold");
  b = GoodMovie();
  size_t stsz = FindType(b, "stsz");
  Set32(b, stsz + 8, 16);
  Set32(b, stsz + 12, 0xFFFFFFFF);
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "more samples than the file can hold");
}

TEST(HostileMovie, SamplesOutsideTheFileAreDropped) {
  Bytes b = GoodMovie();
  size_t stco = FindType(b, "stco");
  Set32(b, stco + 12 + 4 * 5, 0x7FFFFFF0);  // chunk 6 of 8 far beyond the end
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  EXPECT_EQ(movie->tracks[0]->samples->Count(), 5u);
}

TEST(HostileMovie, ZeroTimeScalesOpen) {
  Bytes b = GoodMovie();
  Set32(b, FindType(b, "mvhd") + 16, 0);
  Set32(b, FindType(b, "mdhd") + 16, 0);
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  EXPECT_EQ(movie->timescale, 0);
  EXPECT_EQ(movie->tracks[0]->timescale, 0);
  EXPECT_EQ(movie->tracks[0]->samples->Count(), 8u);
}

TEST(HostileMovie, DeepNestingIsRefused) {
  Bytes inner = testmovie::Atom("free", {});
  for (int i = 0; i < 200; ++i) inner = testmovie::Atom("edts", inner);
  Bytes moov = testmovie::Atom("trak", inner);
  Bytes file = testmovie::Atom("ftyp", Bytes(8, 'a'));
  testmovie::Append(file, testmovie::Atom("moov", moov));
  std::string reason;
  EXPECT_EQ(ReadBytes(file, &reason), invalidMovie);
  EXPECT_EQ(reason, "atoms nested too deep");
  // A movie atom inside the movie atom is not followed.
  Bytes loop = testmovie::Atom("moov", testmovie::Atom("moov", testmovie::Atom("moov", {})));
  EXPECT_EQ(ReadBytes(loop), noErr);
}

TEST(HostileMovie, FragmentWithAbsurdSampleCount) {
  testmovie::MovieSpec m;
  m.fragmented = true;
  testmovie::TrackSpec t;
  for (int i = 0; i < 8; ++i) t.samples.push_back({20, 16, true, 0, 0});
  m.tracks.push_back(t);
  Bytes b = testmovie::Write(m);
  Set32(b, FindType(b, "trun") + 8, 0xFFFFFFFF);
  std::string reason;
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "trun sample count exceeds the atom");
}

// Random damage to the movie atom: any status, never a crash, and every
// sample that is reported lies inside the file.
TEST(HostileMovie, RandomDamage) {
  Bytes good = GoodMovie();
  size_t moov = FindType(good, "moov");
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    Bytes b = good;
    int flips = 1 + round % 4;
    for (int k = 0; k < flips; ++k) {
      size_t at = moov + rng() % (b.size() - moov);
      b[at] = uint8_t(rng());
    }
    std::unique_ptr<qtm::MovieModel> movie;
    if (ReadBytes(b, nullptr, &movie) != noErr) continue;
    for (const auto& t : movie->tracks) {
      qtm::SampleInfo s;
      for (uint32_t i = 0; i < t->samples->Count(); ++i) {
        ASSERT_TRUE(t->samples->Get(i, &s));
        ASSERT_LE(s.offset + s.size, b.size());
      }
    }
  }
}

}  // namespace
