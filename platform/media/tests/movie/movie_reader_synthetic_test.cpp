// The reader on movies built byte by byte: dependency flags, edit lists,
// compressor names, 64-bit offsets and sizes, fragments, user data.
#include <gtest/gtest.h>

#include "movie/movie_model.h"
#include "movie_writer.h"
#include "qtmedia.h"

namespace {

using testmovie::Bytes;
using testmovie::MovieSpec;
using testmovie::Sample;
using testmovie::TrackSpec;

std::unique_ptr<qtm::MovieModel> Read(const Bytes& bytes, OSErr expect = noErr) {
  std::unique_ptr<qtm::MovieModel> movie;
  std::string reason;
  EXPECT_EQ(qtm::ReadMovie(qtm::MakeMemorySource(bytes), &movie, &reason), expect) << reason;
  return movie;
}

// A GOP of I P b b P b b ... with sdtp: I and P depended on, b droppable.
TrackSpec GopTrack(size_t n) {
  TrackSpec t;
  for (size_t i = 0; i < n; ++i) {
    Sample s;
    s.duration = 20;
    s.size = uint32_t(10 + i);
    s.sync = i % 6 == 0;
    bool b = i % 3 != 0;
    s.sdtp = b ? 0x18 : (s.sync ? 0x24 : 0x14);  // depends 1/2, depended-on 2/1
    s.display_offset = b ? 0 : 40;
    t.samples.push_back(s);
  }
  return t;
}

void ExpectGop(const qtm::SampleTable& table, size_t n) {
  ASSERT_EQ(table.Count(), n);
  qtm::SampleInfo s;
  for (uint32_t i = 0; i < n; ++i) {
    ASSERT_TRUE(table.Get(i, &s));
    EXPECT_EQ(s.decode_time, 20 * int64_t(i));
    EXPECT_EQ(s.duration, 20);
    EXPECT_EQ(s.size, 10 + i);
    EXPECT_EQ(s.sync, i % 6 == 0) << i;
    EXPECT_EQ(s.droppable, i % 3 != 0) << i;
    EXPECT_EQ(s.display_offset, i % 3 != 0 ? 0 : 40);
  }
  EXPECT_EQ(table.SyncCount(), (n + 5) / 6);
  EXPECT_EQ(table.TotalDuration(), 20 * int64_t(n));
}

TEST(SyntheticMovie, SdtpGivesDroppableSamplesAndSyncComesFromStss) {
  MovieSpec m;
  m.with_sdtp = true;
  m.tracks.push_back(GopTrack(30));
  auto movie = Read(testmovie::Write(m));
  ASSERT_TRUE(movie);
  ASSERT_EQ(movie->tracks.size(), 1u);
  ExpectGop(*movie->tracks[0]->samples, 30);
  qtm::SampleInfo s;
  movie->tracks[0]->samples->Get(1, &s);
  EXPECT_EQ(s.dependency, 0x18);
}

TEST(SyntheticMovie, SampleOffsetsPointAtEachSampleInChunksOfThree) {
  MovieSpec m;
  TrackSpec t = GopTrack(40);  // variable sizes: the checkpoints are crossed
  t.samples_per_chunk = 3;
  m.tracks.push_back(t);
  TrackSpec audio;
  audio.media_type = "soun";
  audio.codec = "twos";
  audio.timescale = 8000;
  audio.samples.assign(50, Sample{160, 320, true, 0, 0});
  audio.samples_per_chunk = 7;
  m.tracks.push_back(audio);
  Bytes file = testmovie::Write(m);
  auto movie = Read(file);
  ASSERT_TRUE(movie);
  for (size_t tr = 0; tr < 2; ++tr) {
    const qtm::SampleTable& table = *movie->tracks[tr]->samples;
    qtm::SampleInfo s;
    for (uint32_t k = 0; k < table.Count(); ++k) {
      ASSERT_TRUE(table.Get(k, &s));
      ASSERT_LE(s.offset + s.size, file.size());
      EXPECT_EQ(file[s.offset], testmovie::SampleByte(tr, k)) << tr << " " << k;
      EXPECT_EQ(file[s.offset + s.size - 1], testmovie::SampleByte(tr, k));
    }
  }
  EXPECT_EQ(movie->tracks[1]->samples->Count(), 50u);
  EXPECT_EQ(movie->tracks[1]->media_duration, 50 * 160);
}

TEST(SyntheticMovie, EditListsAndHandlerAreKept) {
  MovieSpec m;
  TrackSpec t = GopTrack(12);
  t.edits = {{300, -1}, {240, 40}};
  m.tracks.push_back(t);
  auto movie = Read(testmovie::Write(m));
  ASSERT_TRUE(movie);
  const auto& edits = movie->tracks[0]->edits;
  ASSERT_EQ(edits.size(), 2u);
  EXPECT_EQ(edits[0].segment_duration, 300);
  EXPECT_EQ(edits[0].media_time, -1);
  EXPECT_EQ(edits[1].segment_duration, 240);
  EXPECT_EQ(edits[1].media_time, 40);
  EXPECT_EQ(edits[1].rate, fixed1);
  EXPECT_EQ(movie->tracks[0]->handler_name, "Test Media Handler");
  EXPECT_EQ(movie->tracks[0]->media_type, uint32_t(VideoMediaType));
  EXPECT_EQ(movie->timescale, 600);
  EXPECT_EQ(movie->duration, 240);
}

TEST(SyntheticMovie, ImageDescriptionIsNativeWithTheWholeCompressorNameAndItsExtensions) {
  for (std::string name : {std::string("0123456789012345678901234567890"), std::string()}) {
    MovieSpec m;
    TrackSpec t = GopTrack(2);
    t.compressor = name;
    t.width = 1920;
    t.height = 1080;
    t.extensions = testmovie::Atom("avcC", Bytes{1, 2, 3, 4});
    testmovie::Append(t.extensions, testmovie::Atom("pasp", Bytes{0, 0, 0, 1, 0, 0, 0, 1}));
    m.tracks.push_back(t);
    auto movie = Read(testmovie::Write(m));
    ASSERT_TRUE(movie);
    const auto& rec = movie->tracks[0]->descriptions.at(0);
    ASSERT_EQ(rec.size(), 86u + 12 + 16);
    ImageDescription d;
    memcpy(&d, rec.data(), sizeof d);
    EXPECT_EQ(d.idSize, 86 + 12 + 16);
    EXPECT_EQ(d.cType, 0x61766331u);  // 'avc1'
    EXPECT_EQ(d.dataRefIndex, 1);
    EXPECT_EQ(d.width, 1920);
    EXPECT_EQ(d.height, 1080);
    EXPECT_EQ(d.hRes, 72 << 16);
    EXPECT_EQ(d.depth, 24);
    EXPECT_EQ(d.clutID, -1);
    EXPECT_EQ(d.name[0], name.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.name + 1), d.name[0]), name);
    EXPECT_EQ(Bytes(rec.begin() + 86, rec.begin() + 98), testmovie::Atom("avcC", Bytes{1, 2, 3, 4}));
  }
}

TEST(SyntheticMovie, SoundDescriptionIsNative) {
  MovieSpec m;
  TrackSpec a;
  a.media_type = "soun";
  a.codec = "sowt";
  a.timescale = 48000;
  a.samples.assign(10, Sample{1, 4, true, 0, 0});
  m.tracks.push_back(a);
  auto movie = Read(testmovie::Write(m));
  ASSERT_TRUE(movie);
  const auto& rec = movie->tracks[0]->descriptions.at(0);
  ASSERT_EQ(rec.size(), sizeof(SoundDescription));
  SoundDescription d;
  memcpy(&d, rec.data(), sizeof d);
  EXPECT_EQ(d.dataFormat, 0x736F7774u);
  EXPECT_EQ(d.numChannels, 2);
  EXPECT_EQ(d.sampleSize, 16);
  EXPECT_EQ(d.sampleRate, 48000u << 16);
}

TEST(SyntheticMovie, Co64AndA64BitMdat) {
  MovieSpec m;
  m.co64 = true;
  m.big_mdat = true;
  m.with_sdtp = true;
  m.tracks.push_back(GopTrack(9));
  Bytes file = testmovie::Write(m);
  auto movie = Read(file);
  ASSERT_TRUE(movie);
  ExpectGop(*movie->tracks[0]->samples, 9);
  qtm::SampleInfo s;
  movie->tracks[0]->samples->Get(8, &s);
  EXPECT_EQ(file[s.offset], testmovie::SampleByte(0, 8));
}

TEST(SyntheticMovie, FragmentsGiveTheSameTableAsAMovieAtom) {
  MovieSpec m;
  m.fragmented = true;
  m.with_sdtp = true;
  m.tracks.push_back(GopTrack(30));
  Bytes file = testmovie::Write(m);
  auto movie = Read(file);
  ASSERT_TRUE(movie);
  ExpectGop(*movie->tracks[0]->samples, 30);
  EXPECT_EQ(movie->tracks[0]->media_duration, 600);
  EXPECT_EQ(movie->duration, 600);
  const qtm::SampleTable& table = *movie->tracks[0]->samples;
  qtm::SampleInfo s;
  for (uint32_t k = 0; k < 30; ++k) {
    ASSERT_TRUE(table.Get(k, &s));
    EXPECT_EQ(file[s.offset], testmovie::SampleByte(0, k)) << k;
  }
}

// Every byte of every sample of track t is the one the writer put there.
void ExpectSampleBytes(const qtm::SampleTable& table, const Bytes& file, size_t t) {
  qtm::SampleInfo s;
  for (uint32_t k = 0; k < table.Count(); ++k) {
    ASSERT_TRUE(table.Get(k, &s));
    ASSERT_LE(s.offset + s.size, file.size()) << k;
    for (uint32_t i = 0; i < s.size; ++i) ASSERT_EQ(file[s.offset + i], testmovie::SampleByte(t, k)) << k << " " << i;
  }
}

TEST(SyntheticMovie, TrackFragmentsWithoutABaseStartWhereTheOneBeforeEnded) {
  MovieSpec m;
  m.fragmented = true;
  m.shared_fragments = true;
  m.with_sdtp = true;
  m.tracks.push_back(GopTrack(30));
  TrackSpec sound;
  sound.media_type = "soun";
  sound.codec = "sowt";
  sound.timescale = 22050;
  for (uint32_t i = 0; i < 13; ++i) sound.samples.push_back(Sample{1024, 100 + 7 * i, true, 0, 0});
  m.tracks.push_back(sound);
  Bytes file = testmovie::Write(m);
  auto movie = Read(file);
  ASSERT_TRUE(movie);
  ASSERT_EQ(movie->tracks.size(), 2u);
  ExpectGop(*movie->tracks[0]->samples, 30);
  ExpectSampleBytes(*movie->tracks[0]->samples, file, 0);
  const qtm::SampleTable& audio = *movie->tracks[1]->samples;
  ASSERT_EQ(audio.Count(), 13u);
  qtm::SampleInfo s;
  for (uint32_t k = 0; k < 13; ++k) {
    ASSERT_TRUE(audio.Get(k, &s));
    EXPECT_EQ(s.size, 100 + 7 * k);
    EXPECT_EQ(s.decode_time, 1024 * int64_t(k));
  }
  ExpectSampleBytes(audio, file, 1);
}

TEST(SyntheticMovie, UserDataChildrenAreKeptRaw) {
  MovieSpec m;
  m.tracks.push_back(GopTrack(2));
  Bytes udta = testmovie::Atom("\xA9nam", Bytes{0, 5, 0, 0, 'T', 'i', 't', 'l', 'e'});
  testmovie::Append(udta, testmovie::Atom("AllF", Bytes{1}));
  testmovie::Put32(udta, 0);  // the QuickTime terminator
  auto movie = Read(testmovie::Write(m, udta));
  ASSERT_TRUE(movie);
  ASSERT_EQ(movie->user_data.size(), 2u);
  EXPECT_EQ(movie->user_data[0].type, 0xA96E616Du);
  EXPECT_EQ(movie->user_data[0].payload, (Bytes{0, 5, 0, 0, 'T', 'i', 't', 'l', 'e'}));
  EXPECT_EQ(movie->user_data[1].type, 0x416C6C46u);
}

TEST(SyntheticMovie, DecodeTimeLookups) {
  MovieSpec m;
  TrackSpec t;
  for (uint32_t d : {10u, 10u, 0u, 30u, 30u}) t.samples.push_back(Sample{d, 4, true, 0, 0});
  m.tracks.push_back(t);
  auto movie = Read(testmovie::Write(m));
  ASSERT_TRUE(movie);
  const qtm::SampleTable& s = *movie->tracks[0]->samples;
  // starts 0 10 20(empty) 20 50, end 80
  EXPECT_EQ(s.IndexAtDecodeTime(-1), -1);
  EXPECT_EQ(s.IndexAtDecodeTime(0), 0);
  EXPECT_EQ(s.IndexAtDecodeTime(9), 0);
  EXPECT_EQ(s.IndexAtDecodeTime(10), 1);
  EXPECT_EQ(s.IndexAtDecodeTime(20), 3);  // the zero-length sample holds no time
  EXPECT_EQ(s.IndexAtDecodeTime(79), 4);
  EXPECT_EQ(s.IndexAtDecodeTime(80), -1);
  EXPECT_EQ(s.LastStartAtOrBefore(1000), 4);
}

TEST(SyntheticMovie, AMillionSamplesStayCompact) {
  MovieSpec m;
  TrackSpec t;
  t.samples.reserve(1000000);
  for (uint32_t i = 0; i < 1000000; ++i) t.samples.push_back(Sample{1, 1 + (i % 7), i % 25 == 0, 0, 0});
  t.samples_per_chunk = 10;
  m.tracks.push_back(t);
  auto movie = Read(testmovie::Write(m));
  ASSERT_TRUE(movie);
  const qtm::SampleTable& s = *movie->tracks[0]->samples;
  ASSERT_EQ(s.Count(), 1000000u);
  EXPECT_EQ(s.SyncCount(), 40000u);
  EXPECT_LT(s.MemoryBytes(), 8u * 1000000);
  qtm::SampleInfo info;
  ASSERT_TRUE(s.Get(999999, &info));
  EXPECT_EQ(info.decode_time, 999999);
  EXPECT_EQ(info.size, 1 + 999999u % 7);
}

}  // namespace
