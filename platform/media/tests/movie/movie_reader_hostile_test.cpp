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

// Samples of 16 bytes, 20 units each, in fragments of four.
Bytes FragmentedMovie(int samples) {
  testmovie::MovieSpec m;
  m.fragmented = true;
  testmovie::TrackSpec t;
  for (int i = 0; i < samples; ++i) t.samples.push_back({20, 16, true, 0, 0});
  m.tracks.push_back(t);
  return testmovie::Write(m);
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

uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
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

// A child that claims more than its parent holds is held to the parent's
// end: the last track of the movie atom reads as it is, and a table that
// claims the rest of its 'stbl' hides the tables after it, so its track has
// no samples.
TEST(HostileMovie, ChildOverrunningItsParentIsHeldInside) {
  Bytes b = GoodMovie();
  Set32(b, FindType(b, "trak") - 4, 0x7FFFFFF0);
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  ASSERT_EQ(movie->tracks.size(), 1u);
  EXPECT_EQ(movie->tracks[0]->samples->Count(), 8u);

  b = GoodMovie();
  Set32(b, FindType(b, "stts") - 4, 0x7FFFFFF0);
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  EXPECT_EQ(movie->tracks[0]->samples->Count(), 0u);
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
      {"stts", 8, "stts entry count exceeds the atom"},  {"stsc", 8, "stsc entry count exceeds the atom"},
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

// A file cut short, or a chunk offset past its end: every sample the tables
// declare is kept (the data of those outside is missing when read).
TEST(HostileMovie, SamplesOutsideTheFileAreKept) {
  Bytes b = GoodMovie();
  size_t stco = FindType(b, "stco");
  Set32(b, stco + 12 + 4 * 5, 0x7FFFFFF0);  // chunk 6 of 8 far beyond the end
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  const qtm::SampleTable& samples = *movie->tracks[0]->samples;
  ASSERT_EQ(samples.Count(), 8u);
  qtm::SampleInfo s;
  ASSERT_TRUE(samples.Get(5, &s));
  EXPECT_EQ(s.offset, 0x7FFFFFF0u);
  ASSERT_TRUE(samples.Get(6, &s));
  EXPECT_LE(s.offset + s.size, b.size());
  EXPECT_EQ(samples.TotalDuration(), 160);
}

// Sample-to-chunk runs whose first chunks run past the chunk-offset table
// (10 offsets, runs from chunks 1 and 1001, 1000 samples): the samples are
// those the ten chunks hold, each at its chunk's offset.
TEST(HostileMovie, ChunkRunsPastTheChunkTable) {
  testmovie::MovieSpec m;
  testmovie::TrackSpec t;
  for (int i = 0; i < 1000; ++i) t.samples.push_back({20, 4, true, 0, 0});
  m.tracks.push_back(t);
  Bytes b = testmovie::Write(m);
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  ASSERT_EQ(movie->tracks[0]->samples->Count(), 1000u);
  std::vector<uint64_t> offsets;
  for (uint32_t i = 0; i < 10; ++i) {
    qtm::SampleInfo s;
    movie->tracks[0]->samples->Get(i, &s);
    offsets.push_back(s.offset);
  }
  // Ten chunk offsets, and a second run (1001, 2 per chunk): the sample-to-
  // chunk atom grows by one entry, its parents with it.
  Set32(b, FindType(b, "stco") + 8, 10);
  size_t stsc = FindType(b, "stsc");
  Set32(b, stsc + 8, 2);
  Bytes entry;
  testmovie::Put32(entry, 1001);
  testmovie::Put32(entry, 2);
  testmovie::Put32(entry, 1);
  b.insert(b.begin() + stsc + 12 + 12, entry.begin(), entry.end());
  for (const char* parent : {"moov", "trak", "mdia", "minf", "stbl", "stsc"}) {
    size_t at = FindType(b, parent) - 4;
    Set32(b, at, Get32(b, at) + 12);
  }
  std::string reason;
  ASSERT_EQ(ReadBytes(b, &reason, &movie), noErr) << reason;
  const qtm::SampleTable& samples = *movie->tracks[0]->samples;
  ASSERT_EQ(samples.Count(), 10u);
  for (uint32_t i = 0; i < 10; ++i) {
    qtm::SampleInfo s;
    ASSERT_TRUE(samples.Get(i, &s));
    EXPECT_EQ(s.offset, offsets[i]);
    EXPECT_EQ(s.decode_time, 20 * i);
  }
  EXPECT_EQ(samples.TotalDuration(), 200);
}

// A fragment that starts far ahead: the movie duration made from the media's
// is the largest there is, not an overflowed product.
TEST(HostileMovie, FragmentFarAheadDoesNotOverflowTheDuration) {
  Bytes b = FragmentedMovie(4);
  Set32(b, FindType(b, "mvhd") + 16, 0x7FFFFFFF);  // movie time scale
  size_t tfdt = FindType(b, "tfdt");
  Set32(b, tfdt + 8, 0x10000000);  // decode time 2^60
  Set32(b, tfdt + 12, 0);
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  EXPECT_EQ(movie->tracks[0]->media_duration, (int64_t{1} << 60) + 80);
  EXPECT_EQ(movie->duration, INT64_MAX);
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

// Atoms are followed only inside the parent they belong in: containers
// nested in themselves, a movie atom inside the movie atom, a track inside
// a track, are passed over (the walker's own depth bound is tested with it).
// A track atom that holds neither a header nor a media is no track.
TEST(HostileMovie, AtomsOutOfPlaceAreNotFollowed) {
  Bytes inner = testmovie::Atom("free", {});
  for (int i = 0; i < 200; ++i) inner = testmovie::Atom("edts", inner);
  Bytes file = testmovie::Atom("ftyp", Bytes(8, 'a'));
  testmovie::Append(file, testmovie::Atom("moov", testmovie::Atom("trak", inner)));
  std::unique_ptr<qtm::MovieModel> movie;
  EXPECT_EQ(ReadBytes(file, nullptr, &movie), noErr);
  EXPECT_TRUE(movie->tracks.empty());
  Bytes loop = testmovie::Atom("moov", testmovie::Atom("moov", testmovie::Atom("moov", {})));
  EXPECT_EQ(ReadBytes(loop), noErr);
  Bytes good = GoodMovie();
  size_t trak = FindType(good, "trak") - 4;
  Bytes track(good.begin() + trak, good.begin() + trak + Get32(good, trak));
  file = testmovie::Atom("ftyp", Bytes(8, 'a'));
  testmovie::Append(file, testmovie::Atom("moov", testmovie::Atom("trak", track)));
  ASSERT_EQ(ReadBytes(file, nullptr, &movie), noErr);
  EXPECT_TRUE(movie->tracks.empty());
  // 100,000 empty track atoms beside a real one: the real one alone.
  file = testmovie::Atom("ftyp", Bytes(8, 'a'));
  Bytes moov = track;
  for (int i = 0; i < 100000; ++i) testmovie::Append(moov, testmovie::Atom("trak", {}));
  testmovie::Append(file, testmovie::Atom("moov", moov));
  ASSERT_EQ(ReadBytes(file, nullptr, &movie), noErr);
  ASSERT_EQ(movie->tracks.size(), 1u);
  EXPECT_EQ(movie->tracks[0]->samples->Count(), 8u);
}

// A fragment that starts at the end of time, with a duration of 2^32 - 1:
// its samples continue after what came before.
TEST(HostileMovie, FragmentAtTheEndOfTimeContinues) {
  Bytes b = FragmentedMovie(8);
  size_t second = FindType(b, "tfdt", FindType(b, "tfdt") + 4);
  Set32(b, second + 8, 0x7FFFFFFF);
  Set32(b, second + 12, 0xFFFFFFF0);
  Set32(b, FindType(b, "trun", second) + 16, 0xFFFFFFFF);  // first sample's duration
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(b, nullptr, &movie), noErr);
  const qtm::SampleTable& samples = *movie->tracks[0]->samples;
  ASSERT_EQ(samples.Count(), 8u);
  qtm::SampleInfo s;
  ASSERT_TRUE(samples.Get(4, &s));
  EXPECT_EQ(s.decode_time, 80);
  EXPECT_EQ(s.duration, 0);
  ASSERT_TRUE(samples.Get(7, &s));
  EXPECT_EQ(s.decode_time, 120);
  EXPECT_EQ(samples.TotalDuration(), 140);
}

TEST(HostileMovie, FragmentWithAbsurdSampleCount) {
  Bytes b = FragmentedMovie(8);
  Set32(b, FindType(b, "trun") + 8, 0xFFFFFFFF);
  std::string reason;
  EXPECT_EQ(ReadBytes(b, &reason), invalidMovie);
  EXPECT_EQ(reason, "trun sample count exceeds the atom");
}

// A fragment of one track fragment for each of tracks 1 to `tracks`: a run
// of count samples without fields of their own, each one unit long and of
// the given size; the first one sync, the others not and depending on
// others (sdtp byte 0x10).
Bytes RunsOfDefaults(int tracks, uint32_t count, uint32_t size) {
  Bytes moof;
  Bytes mfhd;
  testmovie::Put32(mfhd, 99);
  testmovie::Append(moof, testmovie::FullAtom("mfhd", 0, 0, mfhd));
  for (int t = 1; t <= tracks; ++t) {
    Bytes tfhd, trun;
    testmovie::Put32(tfhd, uint32_t(t));
    testmovie::Put32(tfhd, 1);           // duration
    testmovie::Put32(tfhd, size);        // size
    testmovie::Put32(tfhd, 0x01010000);  // flags: not sync, depends on others
    testmovie::Put32(trun, count);
    testmovie::Put32(trun, 0x02000000);                           // the first: depends on none
    Bytes traf = testmovie::FullAtom("tfhd", 0, 0x020038, tfhd);  // base at the moof, duration, size, flags
    testmovie::Append(traf, testmovie::FullAtom("trun", 0, 0x000004, trun));
    testmovie::Append(moof, testmovie::Atom("traf", traf));
  }
  return testmovie::Atom("moof", moof);
}

// The sample entries of all tracks together are held to one for each byte
// of the file, whatever the tables say; samples of no size count too.
TEST(HostileMovie, AllTracksTogetherHoldASampleForEachByte) {
  testmovie::MovieSpec m;
  m.fragmented = true;
  testmovie::TrackSpec t;
  t.samples.push_back({20, 16, true, 0, 0});
  m.tracks.assign(4, t);
  const Bytes base = testmovie::Write(m);
  const size_t kFile = 40000;
  auto file = [&](uint32_t count, uint32_t size) {
    Bytes b = base;
    testmovie::Append(b, RunsOfDefaults(4, count, size));
    testmovie::Append(b, testmovie::Atom("free", Bytes(kFile - b.size() - 8, 0)));
    EXPECT_EQ(b.size(), kFile);
    return b;
  };
  // Each run alone is smaller than the file, four are not.
  std::string reason;
  EXPECT_EQ(ReadBytes(file(12000, 1), &reason), invalidMovie);
  EXPECT_EQ(reason, "more samples than the file can hold");
  EXPECT_EQ(ReadBytes(file(12000, 0), &reason), invalidMovie);
  EXPECT_EQ(reason, "more samples than the file can hold");

  // Four that fit, of no size: kept as runs, every sample as its run says.
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(ReadBytes(file(9000, 0), &reason, &movie), noErr) << reason;
  ASSERT_EQ(movie->tracks.size(), 4u);
  for (const auto& track : movie->tracks) {
    const qtm::SampleTable& samples = *track->samples;
    ASSERT_EQ(samples.Count(), 9001u);
    EXPECT_EQ(samples.SyncCount(), 2u);
    qtm::SampleInfo s;
    ASSERT_TRUE(samples.Get(1, &s));
    EXPECT_TRUE(s.sync);
    EXPECT_EQ(s.size, 0u);
    EXPECT_EQ(s.decode_time, 20);
    EXPECT_EQ(s.dependency, 0x20);
    ASSERT_TRUE(samples.Get(9000, &s));
    EXPECT_FALSE(s.sync);
    EXPECT_EQ(s.decode_time, 20 + 8999);
    EXPECT_EQ(s.dependency, 0x10);
    // Runs, and per sample 2 bytes of size (the first sample's differs) and
    // one of dependencies.
    EXPECT_LT(samples.MemoryBytes(), 9001u * 4);
  }
}

// Random damage to the movie atom: any status, never a crash, and every
// sample that is reported can be looked up.
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
        ASSERT_GE(s.duration, 0);
      }
      ASSERT_FALSE(t->samples->Get(t->samples->Count(), &s));
    }
  }
}

}  // namespace
