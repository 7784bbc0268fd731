// The movie calls as the filter makes them: files, movies, tracks, media,
// stepping through samples, reading samples, handles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
}

#include "movie_writer.h"
#include "open_movie.h"
#include "qtmedia.h"

namespace {

using testmovie::Bytes;
using testmovie::Sample;

std::string FixturePath(const std::string& name) {
  const char* dir = std::getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

// A file that goes away with the test.
class TempFile {
 public:
  TempFile(const Bytes& bytes, const char* ext) {
    char name[] = "/tmp/qtm_movie_XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    unlink(name);
    path_ = std::string(name) + ext;
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

using qtm::support::CountSampleTimes;
using qtm::support::OpenMovieAt;

class MovieApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitializeQTML(0), noErr);
    ASSERT_EQ(EnterMovies(), noErr);
  }
  void TearDown() override {
    ExitMovies();
    TerminateQTML();
  }
};

// I b b P b b I b b P b b: sync every 6th, b droppable, P depended on.
Bytes GopMovie() {
  testmovie::MovieSpec m;
  m.with_sdtp = true;
  testmovie::TrackSpec v;
  v.compressor = "Kestrel Test";
  for (int i = 0; i < 12; ++i) {
    bool b = i % 3 != 0;
    v.samples.push_back({50, uint32_t(100 + i), i % 6 == 0, uint8_t(b ? 0x18 : 0x14), b ? 0 : 100});
  }
  m.tracks.push_back(v);
  testmovie::TrackSpec a;
  a.media_type = "soun";
  a.codec = "twos";
  a.timescale = 1000;
  a.samples.assign(6, Sample{100, 400, true, 0, 0});
  a.samples_per_chunk = 3;
  m.tracks.push_back(a);
  return testmovie::Write(m);
}

TEST_F(MovieApi, FilesAndMovieFacts) {
  TempFile file(GopMovie(), ".mov");
  OSErr err;
  Movie movie = OpenMovieAt(file.path(), &err);
  ASSERT_EQ(err, noErr);
  ASSERT_TRUE(movie);
  EXPECT_EQ(GetMovieTrackCount(movie), 2);
  EXPECT_EQ(GetMovieTimeScale(movie), 600);
  EXPECT_EQ(GetMovieDuration(movie), 600);
  EXPECT_EQ(GetMoviePreferredRate(movie), fixed1);
  TimeRecord now;
  EXPECT_EQ(GetMovieTime(movie, &now), 0);
  EXPECT_EQ(now.scale, 600);
  EXPECT_EQ(PrerollMovie(movie, 0, fixed1), noErr);
  SetMovieActive(movie, 1);

  Track video = GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType);
  Track sound = GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType);
  ASSERT_TRUE(video);
  ASSERT_TRUE(sound);
  EXPECT_EQ(GetMovieIndTrackType(movie, 2, VideoMediaType, movieTrackMediaType), nullptr);
  EXPECT_EQ(GetMovieIndTrackType(movie, 0, VideoMediaType, movieTrackMediaType), nullptr);
  EXPECT_EQ(GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType), nullptr);
  EXPECT_EQ(GetMovieIndTrackType(movie, 1, 0x65617273 /* 'ears' */, movieTrackCharacteristic), sound);
  EXPECT_TRUE(GetTrackEnabled(video));

  Media media = GetTrackMedia(video);
  ASSERT_TRUE(media);
  OSType type = 0, maker = 0;
  Str255 creator;
  GetMediaHandlerDescription(media, &type, creator, &maker);
  EXPECT_EQ(type, uint32_t(VideoMediaType));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(creator + 1), creator[0]), "Test Media Handler");
  EXPECT_EQ(GetMediaTimeScale(media), 600);
  EXPECT_EQ(GetMediaDuration(media), 600);
  EXPECT_EQ(GetMediaDecodeDuration(media), 600);
  EXPECT_EQ(GetMediaSampleCount(media), 12);
  EXPECT_EQ(GetMediaSampleDescriptionCount(media), 1);
  MediaHandler handler = GetMediaHandler(media);
  EXPECT_NE(handler, nullptr);
  EXPECT_EQ(GetMediaHandler(media), handler);

  Handle h = NewHandle(4);
  GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(h));
  EXPECT_EQ(GetMoviesError(), noErr);
  ASSERT_EQ(GetHandleSize(h), 86);
  auto* desc = reinterpret_cast<ImageDescription*>(*h);
  EXPECT_EQ(desc->idSize, 86);
  EXPECT_EQ(desc->width, 64);
  EXPECT_EQ(desc->height, 48);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(desc->name + 1), desc->name[0]), "Kestrel Test");
  GetMediaSampleDescription(media, 2, reinterpret_cast<SampleDescriptionHandle>(h));
  EXPECT_NE(GetMoviesError(), noErr);
  DisposeHandle(h);
  DisposeMovie(movie);
}

TEST_F(MovieApi, MissingAndBadFiles) {
  OSErr err;
  EXPECT_EQ(OpenMovieAt("/nonexistent/movie.mov", &err), nullptr);
  EXPECT_EQ(err, fnfErr);
  Str255 name = {4, 'n', 'o', 'p', 'e'};
  FSSpec file_spec;
  EXPECT_EQ(FSMakeFSSpec(0, 0, name, &file_spec), fnfErr);
  EXPECT_EQ(memcmp(file_spec.name, name, 5), 0);
  EXPECT_EQ(FSMakeFSSpec(0, 0, name, nullptr), paramErr);
  int16_t ref = 7;
  EXPECT_EQ(OpenMovieFile(&file_spec, &ref, fsRdPerm), fnfErr);
  EXPECT_EQ(ref, 0);
  Movie movie = nullptr;
  EXPECT_EQ(NewMovieFromFile(&movie, 12345, nullptr, nullptr, 0, nullptr), paramErr);
  EXPECT_EQ(OpenMovieAt(FixturePath("empty.mov"), &err), nullptr);
  EXPECT_EQ(err, eofErr);
  EXPECT_EQ(OpenMovieAt(FixturePath("not_a_movie.mov"), &err), nullptr);
  EXPECT_EQ(err, badFileFormat);
  // Null references answer an error, never crash.
  EXPECT_EQ(GetMovieTrackCount(nullptr), 0);
  EXPECT_EQ(GetMoviesError(), invalidMovie);
  EXPECT_EQ(GetTrackMedia(nullptr), nullptr);
  EXPECT_EQ(GetMediaSample2(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr,
                            nullptr),
            invalidMedia);
  DisposeMovie(nullptr);
}

// A header that declares a block of hundreds of megabytes (an AIFF comment
// chunk of 707 MB in a file of 400 bytes, found by the import fuzz target)
// makes FFmpeg allocate nothing of that size: no block beyond 512 MB.
TEST_F(MovieApi, DeclaredSizesAllocateNoHugeBlock) {
  void* block = av_malloc(size_t{600} << 20);
  EXPECT_EQ(block, nullptr);
  av_free(block);
  block = av_malloc(size_t{64} << 20);
  EXPECT_NE(block, nullptr);
  av_free(block);
  std::ifstream in(std::string(QTM_FUZZ_DIR) + "/regressions/import/aiff-comment-700mb", std::ios::binary);
  Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(input.size(), 1u);
  TempFile file(Bytes(input.begin() + 1, input.end()), ".aif");  // the target's first byte picks the extension
  OSErr err = noErr;
  Movie movie = OpenMovieAt(file.path(), &err);
  EXPECT_EQ(movie, nullptr);
  EXPECT_EQ(err, badFileFormat);
  DisposeMovie(movie);
}

struct Step {
  int16_t flags;
  TimeValue64 from;
  Fixed rate;
  TimeValue64 expect;
};

TEST_F(MovieApi, SteppingThroughSamples) {
  TempFile file(GopMovie(), ".mov");
  Movie movie = OpenMovieAt(file.path());
  ASSERT_TRUE(movie);
  Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
  const Fixed back = static_cast<Fixed>(0xFFFF0000);
  const Step steps[] = {
      {0x4001, 0, fixed1, 0},                                 // the sample at the time itself
      {0x0001, 0, fixed1, 50},                                // the next one
      {0x0001, 25, fixed1, 50},                               // from inside a sample
      {0x4001, 25, fixed1, 50},   {0x0001, 550, fixed1, -1},  // after the last sample
      {0x4001, 550, fixed1, 550},                             // the last sample itself
      {0x0001, -1, fixed1, -1},                               // stepping from the end stays at the end
      {0x4001, -1, fixed1, -1},   {0x4008, 250, back, 0},     // sync at or before, backwards
      {0x4008, 300, back, 300},   {0x4008, 320, back, 300},  {0x0008, 300, back, 0},
      {0x4008, 5000, back, 300},  {0x4008, -1, back, -1},    {0x0008, 0, fixed1, 300},  // next sync forward
      {0x0008, 300, fixed1, -1},  {0x0001, 100, back, 50},                              // previous sample
      {0x0001, 0, back, -1},
  };
  for (const Step& s : steps) {
    TimeValue64 t = 123, d = 123;
    GetMediaNextInterestingDecodeTime(media, s.flags, s.from, s.rate, &t, &d);
    EXPECT_EQ(t, s.expect) << std::hex << s.flags << std::dec << " from " << s.from;
    EXPECT_EQ(d, s.expect < 0 ? 0 : 50);
  }
  // Counting frames as the movie session does.
  EXPECT_EQ(CountSampleTimes(media), 12);
  DisposeMovie(movie);
}

TEST_F(MovieApi, ReadingSamples) {
  TempFile file(GopMovie(), ".mov");
  Movie movie = OpenMovieAt(file.path());
  ASSERT_TRUE(movie);
  Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    ByteCount size = 0, count = 0;
    MediaSampleFlags flags = 0xFFFFFFFF;
    TimeValue64 decode = 0, duration = 0, offset = 0;
    ByteCount desc_index = 0;
    // Size and flags only.
    ASSERT_EQ(GetMediaSample2(media, nullptr, 0, &size, i * 50 + 10, &decode, &duration, &offset, nullptr, &desc_index,
                              1, &count, &flags),
              noErr);
    EXPECT_EQ(size, ByteCount(100 + i));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(decode, i * 50);
    EXPECT_EQ(duration, 50);
    EXPECT_EQ(offset, i % 3 ? 0 : 100);
    EXPECT_EQ(desc_index, 1u);
    EXPECT_EQ((flags & mediaSampleNotSync) != 0, i % 6 != 0);
    EXPECT_EQ((flags & mediaSampleDroppable) != 0, i % 3 != 0);
    // The data.
    std::vector<uint8_t> data(size);
    ASSERT_EQ(GetMediaSample2(media, data.data(), size, &size, i * 50, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                              &count, nullptr),
              noErr);
    EXPECT_EQ(data, std::vector<uint8_t>(100 + i, testmovie::SampleByte(0, i)));
    // Too small a buffer.
    EXPECT_EQ(GetMediaSample2(media, data.data(), size - 1, &size, i * 50, nullptr, nullptr, nullptr, nullptr, nullptr,
                              1, &count, nullptr),
              paramErr);
    int64_t number = 0;
    TimeValue64 st = 0, sd = 0;
    MediaDecodeTimeToSampleNum(media, i * 50 + 49, &number, &st, &sd);
    EXPECT_EQ(number, i + 1);
    EXPECT_EQ(st, i * 50);
    EXPECT_EQ(sd, 50);
    TimeValue64 display = 0, display_duration = 0;
    SampleNumToMediaDisplayTime(media, i + 1, &display, &display_duration);
    EXPECT_EQ(display, i * 50 + (i % 3 ? 0 : 100));
    EXPECT_EQ(display_duration, 50);
  }
  ByteCount size = 0;
  EXPECT_EQ(
      GetMediaSample2(media, nullptr, 0, &size, 600, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
      invalidTime);
  EXPECT_EQ(GetMoviesError(), invalidTime);
  int64_t number = 9;
  MediaDecodeTimeToSampleNum(media, 600, &number, nullptr, nullptr);
  EXPECT_EQ(number, 0);

  // Several sound samples at once: all that lie next to each other, up to the count asked for.
  Media sound = GetTrackMedia(GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType));
  std::vector<uint8_t> pcm(4000);
  ByteCount count = 0;
  ASSERT_EQ(GetMediaSample2(sound, pcm.data(), pcm.size(), &size, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 10,
                            &count, nullptr),
            noErr);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(size, 2400u);
  EXPECT_EQ(pcm[0], testmovie::SampleByte(1, 0));
  EXPECT_EQ(pcm[2399], testmovie::SampleByte(1, 5));
  ASSERT_EQ(GetMediaSample2(sound, pcm.data(), pcm.size(), &size, 100, nullptr, nullptr, nullptr, nullptr, nullptr, 2,
                            &count, nullptr),
            noErr);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 800u);
  EXPECT_EQ(pcm[0], testmovie::SampleByte(1, 1));
  // A buffer for two and a half samples takes two.
  ASSERT_EQ(GetMediaSample2(sound, pcm.data(), 1000, &size, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 10, &count,
                            nullptr),
            noErr);
  EXPECT_EQ(count, 2u);
  Handle h = NewHandle(0);
  ASSERT_EQ(GetMediaSample2(sound, nullptr, 0, &size, 150, nullptr, nullptr, nullptr,
                            reinterpret_cast<SampleDescriptionHandle>(h), nullptr, 1, &count, nullptr),
            noErr);
  EXPECT_EQ(GetHandleSize(h), 36);
  EXPECT_EQ(reinterpret_cast<SoundDescription*>(*h)->dataFormat, 0x74776F73u);
  DisposeHandle(h);
  DisposeMovie(movie);
}

TEST_F(MovieApi, FixtureFrameCountsByStepping) {
  struct Case {
    const char* name;
    int32_t frames;
  } cases[] = {{"frames250.mov", 250}, {"h264_bframes.mp4", 50}, {"dv.dv", 25}, {"fragmented.mp4", 50}};
  for (const Case& c : cases) {
    Movie movie = OpenMovieAt(FixturePath(c.name));
    ASSERT_TRUE(movie) << c.name;
    Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
    ASSERT_TRUE(media);
    EXPECT_EQ(CountSampleTimes(media), c.frames) << c.name;
    EXPECT_EQ(GetMediaSampleCount(media), c.frames);
    DisposeMovie(movie);
  }
}

// A movie cut short: the samples its tables declare are all there to step
// through; reading one whose data lies beyond the end answers eofErr (sizes
// alone too), the others their bytes. ffprobe gives each packet's place in
// the whole file ("stream,size,pos").
TEST_F(MovieApi, FileCutShort) {
  std::ifstream whole_file(FixturePath("cut_av_full.mov"), std::ios::binary);
  std::vector<uint8_t> whole((std::istreambuf_iterator<char>(whole_file)), std::istreambuf_iterator<char>());
  std::ifstream cut_file(FixturePath("cut_av.mov"), std::ios::binary | std::ios::ate);
  const uint64_t cut = static_cast<uint64_t>(cut_file.tellg());
  ASSERT_GT(whole.size(), cut);
  struct Packet {
    uint64_t size, pos;
  };
  std::vector<Packet> video;
  std::ifstream list(FixturePath("cut_av_full.mov.packets"));
  for (std::string line; std::getline(list, line);) {
    unsigned stream = 0;
    unsigned long long size = 0, pos = 0;
    if (sscanf(line.c_str(), "%u,%llu,%llu", &stream, &size, &pos) == 3 && stream == 0) video.push_back({size, pos});
  }
  ASSERT_EQ(video.size(), 100u);

  Movie movie = OpenMovieAt(FixturePath("cut_av.mov"));
  ASSERT_TRUE(movie);
  Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
  ASSERT_TRUE(media);
  EXPECT_EQ(GetMediaSampleCount(media), 100);
  EXPECT_EQ(GetMediaDecodeDuration(media), 100 * 512);
  int missing = 0;
  for (int i = 0; i < 100; ++i) {
    SCOPED_TRACE(i);
    const bool inside = video[i].pos + video[i].size <= cut;
    missing += inside ? 0 : 1;
    ByteCount size = 0;
    OSErr err = GetMediaSample2(media, nullptr, 0, &size, i * 512, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                                nullptr, nullptr);
    ASSERT_EQ(err, inside ? noErr : eofErr);
    EXPECT_EQ(GetMoviesError(), err);
    std::vector<uint8_t> data(video[i].size);
    err = GetMediaSample2(media, data.data(), data.size(), &size, i * 512, nullptr, nullptr, nullptr, nullptr, nullptr,
                          1, nullptr, nullptr);
    ASSERT_EQ(err, inside ? noErr : eofErr);
    if (inside) {
      EXPECT_EQ(size, video[i].size);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), whole.begin() + video[i].pos));
    }
  }
  EXPECT_GT(missing, 0);
  DisposeMovie(movie);
}

std::vector<UniChar> Utf16(const std::u16string& text) {
  std::vector<UniChar> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

// Wide paths carry any characters and any length: a file named in three
// scripts, in folders that take its path past 300 characters.
TEST_F(MovieApi, WidePathsOfAnyLengthAndCharacters) {
  EXPECT_EQ(qtm_GetInterfaceVersion(), QTM_INTERFACE_VERSION);
  char root_template[] = "/tmp/qtm_wide_XXXXXX";
  ASSERT_TRUE(mkdtemp(root_template));
  std::u16string dir = std::u16string(root_template, root_template + strlen(root_template));
  std::string dir_utf8 = root_template;
  for (int i = 0; i < 6; ++i) {
    dir += u"/\u00e9l\u00e9phant-\u5927\u8c61-\u0441\u043b\u043e\u043d-" + std::u16string(30, u'x');
    dir_utf8 +=
        "/\xc3\xa9l\xc3\xa9phant-\xe5\xa4\xa7\xe8\xb1\xa1-\xd1\x81\xd0\xbb\xd0\xbe\xd0\xbd-" + std::string(30, 'x');
    ASSERT_EQ(mkdir(dir_utf8.c_str(), 0700), 0);
  }
  std::u16string file = dir + u"/\u00e9t\u00e9 \u263c.mov";
  std::string file_utf8 = dir_utf8 + "/\xc3\xa9t\xc3\xa9 \xe2\x98\xbc.mov";
  ASSERT_GT(file.size(), 300u);
  Bytes bytes = GopMovie();
  std::ofstream(file_utf8, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  int16_t ref = 0;
  ASSERT_EQ(qtm_OpenMovieFileW(Utf16(file).data(), &ref), noErr);
  Movie movie = nullptr;
  EXPECT_EQ(NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr), noErr);
  EXPECT_EQ(CloseMovieFile(ref), noErr);
  ASSERT_TRUE(movie);
  EXPECT_EQ(GetMovieTrackCount(movie), 2);
  DisposeMovie(movie);

  Handle text = nullptr;
  EXPECT_EQ(qtm_DumpAtoms(Utf16(file).data(), &text), noErr);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(*text, 4), "ftyp");
  DisposeHandle(text);

  EXPECT_EQ(qtm_OpenMovieFileW(Utf16(dir + u"/missing.mov").data(), &ref), fnfErr);
  EXPECT_EQ(qtm_OpenMovieFileW(Utf16(dir).data(), &ref), fnfErr);  // a folder
  const UniChar lone_surrogate[] = {u'/', 0xD800, u'a', 0};
  EXPECT_EQ(qtm_OpenMovieFileW(lone_surrogate, &ref), fnfErr);
  EXPECT_EQ(qtm_OpenMovieFileW(nullptr, &ref), paramErr);

  unlink(file_utf8.c_str());
  for (int i = 0; i < 6; ++i) {
    rmdir(dir_utf8.c_str());
    dir_utf8.resize(dir_utf8.find_last_of('/'));
  }
  rmdir(root_template);
}

// Ten samples of 60 units, and an edit list: 300 units empty, 120 showing
// from 60, one of no duration (no time), 240 from 300, and a last one of
// no duration from 120 (it runs to the end of the media: 480 units).
Bytes EditedMovie() {
  testmovie::MovieSpec m;
  testmovie::TrackSpec v;
  v.samples.assign(10, Sample{60, 8, true, 0, 0});
  v.edits = {{300, -1}, {120, 60}, {0, 0}, {240, 300}, {0, 120}};
  m.tracks.push_back(v);
  return testmovie::Write(m);
}

TEST_F(MovieApi, EditListSegments) {
  TempFile file(EditedMovie(), ".mov");
  Movie movie = OpenMovieAt(file.path());
  ASSERT_TRUE(movie);
  Track track = GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType);
  ASSERT_TRUE(track);
  struct Step {
    int16_t flags;
    TimeValue from;
    Fixed rate;
    TimeValue start, duration;
  };
  constexpr int16_t kEdit = nextTimeTrackEdit, kEdge = nextTimeTrackEdit | nextTimeEdgeOK;
  constexpr Fixed kBack = static_cast<Fixed>(0xFFFF0000);
  for (const Step& s :
       {Step{kEdge, 0, fixed1, 0, 300}, Step{kEdit, 0, fixed1, 300, 120}, Step{kEdge, 300, fixed1, 300, 120},
        Step{kEdit, 300, fixed1, 420, 240}, Step{kEdge, 661, fixed1, -1, 0}, Step{kEdit, 420, kBack, 300, 120},
        Step{kEdge, 420, kBack, 420, 240}, Step{kEdge, 5000, kBack, 660, 480}, Step{kEdit, 0, kBack, -1, 0}}) {
    TimeValue start = 7, duration = 7;
    GetTrackNextInterestingTime(track, s.flags, s.from, s.rate, &start, &duration);
    EXPECT_EQ(start, s.start) << s.flags << " from " << s.from;
    EXPECT_EQ(duration, s.duration) << s.flags << " from " << s.from;
  }
  // Media display times: none in the empty edit or outside every edit.
  for (auto [at, shown] : {std::pair<TimeValue64, TimeValue64>{-5, -1},
                           {0, -1},
                           {299, -1},
                           {300, 60},
                           {419, 179},
                           {420, 300},
                           {659, 539},
                           {660, 120},
                           {1139, 599},
                           {1140, -1}}) {
    EXPECT_EQ(TrackTimeToMediaDisplayTime(at, track), shown) << at;
  }
  EXPECT_EQ(GetTrackEditRate64(track, 500), fixed1);
  EXPECT_EQ(GetTrackEditRate64(track, 1140), 0);
  DisposeMovie(movie);
}

// 20,000 edits, walked as the filter walks them: each segment found from the
// end of the one before, with its media time and rate.
TEST_F(MovieApi, LongEditListWalkedSegmentBySegment) {
  testmovie::MovieSpec m;
  testmovie::TrackSpec v;
  v.samples.assign(10, Sample{60, 8, true, 0, 0});
  const int kEdits = 20000;
  for (int i = 0; i < kEdits; ++i) v.edits.push_back({30, i % 3 == 2 ? -1 : (i * 7) % 570});
  m.tracks.push_back(v);
  TempFile file(testmovie::Write(m), ".mov");
  Movie movie = OpenMovieAt(file.path());
  ASSERT_TRUE(movie);
  Track track = GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType);
  int found = 0;
  TimeValue time = 0;
  for (;;) {
    TimeValue start = -1, duration = 0;
    GetTrackNextInterestingTime(track, nextTimeTrackEdit | nextTimeEdgeOK, time, fixed1, &start, &duration);
    if (start < 0) break;
    ASSERT_EQ(start, 30 * found);
    ASSERT_EQ(duration, 30);
    ASSERT_EQ(TrackTimeToMediaDisplayTime(start + 10, track), found % 3 == 2 ? -1 : (found * 7) % 570 + 10);
    ASSERT_EQ(GetTrackEditRate64(track, start), fixed1);
    ++found;
    time = start + duration;
  }
  EXPECT_EQ(found, kEdits);
  DisposeMovie(movie);
}

TEST(Handles, SizeResizeAppendLock) {
  Handle h = NewHandle(10);
  ASSERT_TRUE(h);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 10);
  memset(*h, 7, 10);
  SetHandleSize(h, 100000);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 100000);
  EXPECT_EQ((*h)[9], 7);
  SetHandleSize(h, 3);
  EXPECT_EQ(GetHandleSize(h), 3);
  HLock(h);
  EXPECT_EQ(PtrAndHand("abcd", h, 4), noErr);
  HUnlock(h);
  EXPECT_EQ(GetHandleSize(h), 7);
  EXPECT_EQ(std::string(*h + 3, 4), "abcd");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(*h) % 16, 0u);
  DisposeHandle(h);

  Handle z = NewHandleClear(64);
  ASSERT_TRUE(z);
  for (int i = 0; i < 64; ++i) EXPECT_EQ((*z)[i], 0);
  DisposeHandle(z);

  EXPECT_EQ(NewHandle(-1), nullptr);
  EXPECT_EQ(MemError(), paramErr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
  EXPECT_EQ(PtrAndHand("x", nullptr, 1), nilHandleErr);
  Handle empty = NewHandle(0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(GetHandleSize(empty), 0);
  SetHandleSize(empty, -5);
  EXPECT_EQ(MemError(), paramErr);
  DisposeHandle(empty);
}

}  // namespace
