// A movie cut short, as a download in progress leaves it. Its facts are what
// its tables declare (ffprobe's declared counts); playing, each stream
// delivers what the file holds and then ends as at the end of the media.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "audio/audio_extractor.h"
#include "support/test_env.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

constexpr OSType k2vuy = 0x32767579;

// How many packets of a stream, in file order, lie whole inside the first
// size bytes before the first one that does not.
size_t PacketsInside(int stream, size_t size) {
  std::istringstream in(ReadFileBytes(FixturePath("cut_av_full.mov.packets")));
  size_t inside = 0;
  for (std::string line; std::getline(in, line);) {
    int index = -1;
    long long bytes = 0, pos = 0;
    char comma = 0;
    std::istringstream fields(line);
    fields >> index >> comma >> bytes >> comma >> pos;
    if (index != stream) continue;
    if (static_cast<size_t>(pos + bytes) > size) break;
    ++inside;
  }
  return inside;
}

TEST(CutMovie, FactsAreWhatTheTablesDeclare) {
  std::istringstream declared(ReadFileBytes(FixturePath("cut_av.mov.declared")));
  uint32_t frames = 0;
  std::string rate;
  double seconds = 0;
  declared >> frames >> rate >> seconds;
  ASSERT_EQ(frames, 100u);
  ASSERT_EQ(rate, "25/1");

  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("cut_av.mov").c_str()), S_OK);
  uint32_t count = 0;
  double frame_rate = 0;
  int64_t duration = 0;
  EXPECT_EQ(session.GetFrameCount(&count), S_OK);
  EXPECT_EQ(session.GetFrameRate(&frame_rate), S_OK);
  EXPECT_EQ(session.GetDuration(&duration), S_OK);
  EXPECT_EQ(count, frames);
  EXPECT_DOUBLE_EQ(frame_rate, 25.0);
  EXPECT_EQ(duration, static_cast<int64_t>(seconds * 10000000));

  AudioExtractor sound;
  ASSERT_EQ(sound.Open(FixturePath("cut_av.mov").c_str()), S_OK);
  EXPECT_EQ(sound.GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, static_cast<int64_t>(seconds * 10000000));
}

TEST(CutMovie, VideoDeliversTheFramesTheFileHoldsThenEnds) {
  const size_t cut = ReadFileBytes(FixturePath("cut_av.mov")).size();
  const size_t whole = PacketsInside(0, cut);
  ASSERT_GT(whole, 10u);
  ASSERT_LT(whole, 100u);

  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("cut_av.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(k2vuy), S_OK);
  session.SetStride(160 * 2);
  Expected e = LoadExpected("cut_av_full.mov", "uyvy422");
  ASSERT_EQ(e.md5.size(), 100u);
  Delivered d = DeliverFrames(session, 160, 120, 2, 160 * 2, false);
  EXPECT_EQ(d.last, S_FALSE);
  ASSERT_EQ(d.md5.size(), whole);
  EXPECT_EQ(d.md5, std::vector<std::string>(e.md5.begin(), e.md5.begin() + whole));
  EXPECT_EQ(d.start, std::vector<int64_t>(e.start.begin(), e.start.begin() + whole));
  EXPECT_EQ(d.stop, std::vector<int64_t>(e.stop.begin(), e.stop.begin() + whole));

  std::vector<uint8_t> buffer(160 * 120 * 2);
  int64_t start = -1, stop = -1;
  EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), &start, &stop), S_FALSE);
  // A seek back inside what the file holds delivers again; one past the cut
  // ends at once.
  session.SeekTo(10000000);
  ASSERT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), &start, &stop), S_OK);
  EXPECT_EQ(start, 10000000);
  EXPECT_EQ(PictureMd5(buffer.data(), 160, 120, 2, 320, false), e.md5[25]);
  session.SeekTo(30000000);
  EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), &start, &stop), S_FALSE);
}

TEST(CutMovie, SoundDeliversWhatTheFileHoldsThenEnds) {
  std::string oracle = ReadFileBytes(FixturePath("cut_av.mov.s16le"));
  ASSERT_GT(oracle.size(), 44100u * 2);
  ASSERT_LT(oracle.size(), 4u * 44100 * 2);

  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("cut_av.mov").c_str()), S_OK);
  WAVEFORMATEX wf{};
  ASSERT_EQ(x.GetWaveFormat(&wf), S_OK);
  std::vector<BYTE> buffer(wf.nAvgBytesPerSec);
  std::string all;
  HRESULT hr = S_OK;
  for (int i = 0; i < 10 && hr == S_OK; ++i) {
    uint32_t bytes = 0;
    hr = x.Fill(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, nullptr, nullptr);
    all.append(reinterpret_cast<const char*>(buffer.data()), bytes);
  }
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_TRUE(all == oracle) << all.size() << " bytes, the ffmpeg tool's decode " << oracle.size();
}

}  // namespace
}  // namespace kestrel::test
