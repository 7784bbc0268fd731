// AudioExtractor over real movies, against the ffmpeg tool's decodes.
#include "audio/audio_extractor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

using test::FixturePath;
using test::ReadFileBytes;

std::string Oracle(const std::string& name) { return ReadFileBytes(FixturePath(name)); }

struct Fill {
  HRESULT hr = E_FAIL;
  std::string data;
  int64_t start = -1, stop = -1;
};

Fill FillOnce(AudioExtractor& x) {
  WAVEFORMATEX wf{};
  x.GetWaveFormat(&wf);
  std::vector<BYTE> buffer(wf.nAvgBytesPerSec ? wf.nAvgBytesPerSec : 16);
  Fill f;
  uint32_t bytes = 0;
  f.hr = x.Fill(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, &f.start, &f.stop);
  f.data.assign(reinterpret_cast<char*>(buffer.data()), bytes);
  return f;
}

// Every fill up to the end of data; checks that they follow one another.
std::string ExtractAll(AudioExtractor& x, int* fills = nullptr) {
  std::string all;
  int64_t expected_start = -1;
  for (int i = 0; i < 10000; ++i) {
    Fill f = FillOnce(x);
    if (f.hr != S_OK) {
      EXPECT_EQ(f.hr, S_FALSE);
      break;
    }
    if (expected_start >= 0) EXPECT_NEAR(f.start, expected_start, 10000);  // within a millisecond
    expected_start = f.stop;
    all += f.data;
    if (fills) ++*fills;
  }
  return all;
}

TEST(AudioExtractor, PcmIsTheFfmpegDecodeAtTheSourceDepth) {
  struct Case {
    const char* file;
    const char* oracle;
    int bits;
    const wchar_t* format_name;
  } cases[] = {
      {"aud_s16.aif", "s16le", 16, L"Linear PCM"},
      {"aud_s24.aif", "s24le", 24, L"Linear PCM"},
      {"aud_u8.mov", "u8", 8, L"Linear PCM"},  // unsigned, as wave PCM
      {"aud_sowt.mov", "s16le", 16, L"Linear PCM"},
      {"aud_s16.caf", "s16le", 16, L"Linear PCM"},
      {"aud_alac.m4a", "s16le", 16, L"Apple Lossless"},
      {"aud_aac.m4a", "s16le", 16, L"MPEG-4 Low Complexity AAC"},
      {"aud_aac.mp4", "s16le", 16, L"MPEG-4 Low Complexity AAC"},
      {"aud_aac.aac", "s16le", 16, L"MPEG-4 Low Complexity AAC"},
      // Lossless at its real depth, whether imported or read.
      {"aud_alac24.caf", "s24le", 24, L"Apple Lossless"},
      {"aud_alac24.m4a", "s24le", 24, L"Apple Lossless"},
      {"aud_s24.caf", "s24le", 24, L"Linear PCM"},
      // Compressed sources of every imported kind: 16 bits, whatever the
      // coded size (8 for u-law, 4 for IMA).
      {"aud_ulaw.caf", "s16le", 16, L"\u00B5Law 2:1"},
      {"aud_ima4.aifc", "s16le", 16, L"IMA 4:1 ADPCM"},
      {"aud_gsm.gsm", "s16le", 16, L"Unknown"},
      {"aud_amr.amr", "s16le", 16, L"AMR Narrow Band"},
      {"aud_dv.dv", "s16le", 16, L"Linear PCM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    AudioExtractor x;
    ASSERT_EQ(x.Open(FixturePath(c.file).c_str()), S_OK);
    int32_t has_audio = 0;
    EXPECT_EQ(x.HasAudio(&has_audio), S_OK);
    EXPECT_EQ(has_audio, 1);
    WAVEFORMATEX wf{};
    ASSERT_EQ(x.GetWaveFormat(&wf), S_OK);
    EXPECT_EQ(wf.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wf.wBitsPerSample, c.bits);
    EXPECT_STREQ(x.FormatName, c.format_name);
    std::string expected = Oracle(std::string(c.file) + "." + c.oracle);
    ASSERT_FALSE(expected.empty());
    std::string got = ExtractAll(x);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    // The movie's length is the sound's, to within one AAC frame of padding.
    int64_t duration = 0;
    ASSERT_EQ(x.GetDuration(&duration), S_OK);
    double seconds = static_cast<double>(got.size() / wf.nBlockAlign) / wf.nSamplesPerSec;
    EXPECT_NEAR(duration / 1e7, seconds, 0.05);
  }
}

TEST(AudioExtractor, StereoSixteenBitIsOneSecondPerFill) {
  ASSERT_EQ(ResetLog(), 1);
  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("aud_s16.aif").c_str()), S_OK);
  WAVEFORMATEX wf{};
  x.GetWaveFormat(&wf);
  EXPECT_EQ(wf.nChannels, 2);
  EXPECT_EQ(wf.nSamplesPerSec, 44100u);
  EXPECT_EQ(wf.nBlockAlign, 4);
  EXPECT_EQ(wf.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(wf.cbSize, 0);
  EXPECT_STREQ(x.ChannelLayoutName, L"Stereo (L R)");
  for (int i = 0; i < 3; ++i) {
    Fill f = FillOnce(x);
    ASSERT_EQ(f.hr, S_OK);
    EXPECT_EQ(f.data.size(), 176400u);
    EXPECT_EQ(f.start, i * 10000000LL);
    EXPECT_EQ(f.stop, (i + 1) * 10000000LL);  // the frames delivered, not 1000 units
  }
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);

  std::string path;
  for (const wchar_t* p = GetLogPath(); *p; ++p) path += static_cast<char>(*p);
  std::string log = ReadFileBytes(path);
  size_t in = log.find(" - Audio In: 44100 sample rate, 2 channel(s), 16 bits per channel");
  size_t out = log.find(" - Audio Out: 44100 sample rate, 2 channel(s), 16 bits per channel");
  size_t avg = log.find(" - Audio Out: 176400 Average Bytes per Sec");
  EXPECT_NE(in, std::string::npos) << log;
  EXPECT_LT(in, out);
  EXPECT_LT(out, avg);
  EXPECT_NE(avg, std::string::npos) << log;
}

// Frequency with the most energy among candidates (Goertzel).
double Strongest(const std::string& bytes, size_t channels, size_t channel, double rate,
                 const std::vector<double>& candidates) {
  std::vector<int16_t> pcm(bytes.size() / 2);
  memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
  double best = 0, best_power = -1;
  for (double f : candidates) {
    double k = 2 * std::cos(2 * 3.14159265358979323846 * f / rate), s1 = 0, s2 = 0;
    for (size_t i = channel; i < pcm.size(); i += channels) {
      double s = pcm[i] + k * s1 - s2;
      s2 = s1;
      s1 = s;
    }
    double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    if (power > best_power) best_power = power, best = f;
  }
  return best;
}

TEST(AudioExtractor, SurroundComesOutInWaveOrder) {
  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("aud_51.m4a").c_str()), S_OK);
  EXPECT_STREQ(x.ChannelLayoutName, L"5.1 (C L R Ls Rs LFE)");  // the source's own order
  WAVEFORMATEX wf{};
  x.GetWaveFormat(&wf);
  ASSERT_EQ(wf.nChannels, 6);
  Fill f = FillOnce(x);
  ASSERT_EQ(f.hr, S_OK);
  // FL FR FC LFE BL BR, as WAVE_FORMAT_PCM's default speaker order.
  const std::vector<double> tones = {300, 500, 700, 60, 1100, 1300};
  for (size_t ch = 0; ch < 6; ++ch) EXPECT_EQ(Strongest(f.data, 6, ch, 48000, tones), tones[ch]) << ch;
  // Wave order is FFmpeg's too: the whole stream is the ffmpeg decode.
  AudioExtractor y;
  ASSERT_EQ(y.Open(FixturePath("aud_51.m4a").c_str()), S_OK);
  EXPECT_TRUE(ExtractAll(y) == Oracle("aud_51.m4a.s16le"));

  AudioExtractor three;
  ASSERT_EQ(three.Open(FixturePath("aud_30.caf").c_str()), S_OK);
  EXPECT_STREQ(three.ChannelLayoutName, L"3.0 (L R C)");
  EXPECT_TRUE(ExtractAll(three) == Oracle("aud_30.caf.s16le"));

  AudioExtractor nine;
  EXPECT_EQ(nine.Open(FixturePath("aud_9ch.caf").c_str()), E_FAIL);
  int32_t has_audio = 1;
  EXPECT_EQ(nine.HasAudio(&has_audio), E_FAIL);  // closed
  EXPECT_EQ(has_audio, 0);
}

TEST(AudioExtractor, SeekLandsWithinOneCodecFrameAndEndRestoresASecond) {
  std::string oracle = Oracle("aud_aac.m4a.s16le");
  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("aud_aac.m4a").c_str()), S_OK);
  ASSERT_EQ(x.Seek(100000000), S_OK);
  Fill f = FillOnce(x);
  ASSERT_EQ(f.hr, S_OK);
  EXPECT_LE(f.start, 100000000);
  EXPECT_GT(f.start, 100000000 - 1024 * 10000000LL / 44100);
  size_t frame = static_cast<size_t>(f.start * 44100 / 10000000);
  ASSERT_LE(frame * 4 + f.data.size(), oracle.size());
  EXPECT_TRUE(oracle.compare(frame * 4, f.data.size(), f.data) == 0);
  // Full fills, one short one, then the end; then one second again after a
  // seek back.
  Fill last;
  for (int i = 0; i < 5; ++i) {
    last = FillOnce(x);
    if (last.hr != S_OK || last.data.size() < 176400u) break;
  }
  ASSERT_EQ(last.hr, S_OK);
  EXPECT_LT(last.data.size(), 176400u);
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  ASSERT_EQ(x.Seek(20000000), S_OK);
  Fill again = FillOnce(x);
  ASSERT_EQ(again.hr, S_OK);
  EXPECT_EQ(again.data.size(), 176400u);
  EXPECT_EQ(again.start, 20000000);
  EXPECT_TRUE(oracle.compare(88200 * 4, again.data.size(), again.data) == 0);
  // Beyond the end: the end at once, however far (the product with the time
  // scale does not overflow into an early position).
  ASSERT_EQ(x.Seek(600000000), S_OK);
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  ASSERT_EQ(x.Seek(INT64_MAX), S_OK);
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  ASSERT_EQ(x.Seek(INT64_MAX / 44100 + 1), S_OK);
  EXPECT_EQ(FillOnce(x).hr, S_FALSE);
}

TEST(AudioExtractor, AnInitialEmptyEditDelaysTheSound) {
  // The sound track starts 0.5 s into the movie.
  std::string oracle = Oracle("aud_delay.mov.s16le");
  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("aud_delay.mov").c_str()), S_OK);
  Fill f = FillOnce(x);
  ASSERT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.start, 5000000);
  EXPECT_EQ(f.stop, 15000000);
  EXPECT_TRUE(oracle.compare(0, f.data.size(), f.data) == 0);
  // Movie time 1.5 s is one second into the sound.
  ASSERT_EQ(x.Seek(15000000), S_OK);
  f = FillOnce(x);
  ASSERT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.start, 15000000);
  EXPECT_TRUE(oracle.compare(44100 * 4, f.data.size(), f.data) == 0);
  // Inside the empty edit: the sound from its start.
  ASSERT_EQ(x.Seek(2000000), S_OK);
  f = FillOnce(x);
  EXPECT_EQ(f.start, 5000000);
  EXPECT_TRUE(oracle.compare(0, f.data.size(), f.data) == 0);
}

TEST(AudioExtractor, SeekAndFillFromTwoThreadsStayConsistent) {
  std::string oracle = Oracle("aud_aac.m4a.s16le");
  AudioExtractor x;
  ASSERT_EQ(x.Open(FixturePath("aud_aac.m4a").c_str()), S_OK);
  std::thread seeker([&] {
    for (int i = 0; i < 40; ++i) x.Seek((i % 10) * 10000000LL);
  });
  int bad = 0;
  for (int i = 0; i < 40; ++i) {
    Fill f = FillOnce(x);
    if (f.hr != S_OK) continue;
    size_t frame = static_cast<size_t>(f.start * 44100 / 10000000);
    // Each fill is whole and matches the decode at the time it reports.
    if (frame * 4 + f.data.size() > oracle.size() || oracle.compare(frame * 4, f.data.size(), f.data) != 0) ++bad;
  }
  seeker.join();
  EXPECT_EQ(bad, 0);
}

TEST(AudioExtractor, BadInputFailsCleanlyOrEndsEarly) {
  for (const char* name : {"not_a_movie.mov", "empty.mov", "no-such-file.mov"}) {
    AudioExtractor x;
    EXPECT_EQ(x.Open(FixturePath(name).c_str()), E_FAIL) << name;
    int64_t duration = 0;
    EXPECT_EQ(x.GetDuration(&duration), E_FAIL);
    EXPECT_EQ(x.Seek(0), E_FAIL);
    EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  }
  {
    // Truncated: what exists, as the ffmpeg tool decodes it.
    AudioExtractor x;
    ASSERT_EQ(x.Open(FixturePath("aud_trunc.m4a").c_str()), S_OK);
    std::string got = ExtractAll(x);
    EXPECT_TRUE(got == Oracle("aud_trunc.m4a.s16le"));
  }
  {
    // A zeroed frame in the middle: skipped or silenced, the rest on time.
    AudioExtractor x;
    ASSERT_EQ(x.Open(FixturePath("aud_corrupt.aac").c_str()), S_OK);
    std::string got = ExtractAll(x);
    std::string clean = Oracle("aud_aac.aac.s16le");
    EXPECT_LE(got.size(), clean.size());
    EXPECT_GE(got.size() + 4096 * 4, clean.size());
    EXPECT_TRUE(clean.compare(0, 176400, got, 0, 176400) == 0);
  }
  {
    // No sound: opened, nothing to fill.
    AudioExtractor x;
    ASSERT_EQ(x.Open(FixturePath("mpeg4.mp4").c_str()), S_OK);
    int32_t has_audio = 1;
    EXPECT_EQ(x.HasAudio(&has_audio), S_OK);
    EXPECT_EQ(has_audio, 0);
    WAVEFORMATEX wf{};
    x.GetWaveFormat(&wf);
    EXPECT_EQ(wf.nSamplesPerSec, 0u);
    EXPECT_EQ(FillOnce(x).hr, S_FALSE);
  }
  AudioExtractor x;
  EXPECT_EQ(x.HasAudio(nullptr), E_POINTER);
  EXPECT_EQ(x.GetDuration(nullptr), E_POINTER);
  EXPECT_EQ(x.GetWaveFormat(nullptr), E_POINTER);
  uint32_t bytes = 0;
  EXPECT_EQ(x.Fill(nullptr, 0, &bytes, nullptr, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kestrel
