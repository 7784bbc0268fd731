// Movie audio extraction against the ffmpeg tool's decode of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "audio_test_support.h"

namespace qtm::test {
namespace {

struct PcmCase {
  const char* file;
  uint32_t track_id;
  uint32_t bits;
  const char* oracle;  // raw PCM beside the fixture
};

TEST(AudioExtraction, PcmIsTheFfmpegDecodeSampleForSample) {
  const PcmCase cases[] = {
      {"aud_s16.aif", 1, 16, "s16le"},  {"aud_s24.aif", 1, 24, "s24le"},  {"aud_s24.aif", 1, 32, "s32le"},
      {"aud_s24.aif", 1, 16, "s16le"},  {"aud_sowt.mov", 1, 16, "s16le"}, {"aud_s16.caf", 1, 16, "s16le"},
      {"aud_alac.m4a", 1, 16, "s16le"}, {"aud_aac.m4a", 1, 16, "s16le"},  {"aud_aac.m4a", 1, 32, "s32le"},
      {"aud_aac.mp4", 2, 16, "s16le"},  {"aud_aac.aac", 1, 16, "s16le"},  {"aud_u8.mov", 1, 8, "u8"},
      {"aud_s16.aif", 1, 8, "u8"},      {"aud_51.m4a", 1, 16, "s16le"},   {"aud_30.caf", 1, 16, "s16le"},
  };
  for (const PcmCase& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.oracle);
    Extraction x(c.file, c.track_id);
    ASSERT_EQ(x.status(), noErr);
    ASSERT_EQ(x.SetPcm(c.bits), noErr);
    // In FFmpeg's order, as the ffmpeg tool writes it (wave order for 5.1).
    if (x.Format().mChannelsPerFrame == 6) {
      ASSERT_EQ(x.SetLayoutTag(0x790006), noErr);
    }
    std::vector<uint8_t> expected = ReadAll(Fixture(c.file) + "." + c.oracle);
    ASSERT_FALSE(expected.empty());
    uint32_t rate = static_cast<uint32_t>(x.Format().mSampleRate);
    bool all_full = false;
    std::vector<uint8_t> got = x.ExtractAll(rate, &all_full);
    EXPECT_TRUE(all_full);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
}

TEST(AudioExtraction, DefaultsAreTheSourceRateChannelsAndLayout) {
  struct Case {
    const char* file;
    double rate;
    uint32_t channels;
    AudioChannelLayoutTag tag;
  } cases[] = {
      {"aud_s16.aif", 44100, 2, 0x650002},  {"aud_s24.aif", 48000, 2, 0x650002},
      {"aud_aac.m4a", 44100, 2, 0x650002},  {"aud_51.m4a", 48000, 6, 0x7C0006},  // AAC 5.1: C L R Ls Rs LFE
      {"aud_30.caf", 44100, 3, 0x710003},                                        // L R C
      {"aud_9ch.caf", 8000, 9, 0xFFFF0009},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Extraction x(c.file);
    ASSERT_EQ(x.status(), noErr);
    AudioStreamBasicDescription f = x.Format();
    EXPECT_EQ(f.mSampleRate, c.rate);
    EXPECT_EQ(f.mChannelsPerFrame, c.channels);
    EXPECT_EQ(f.mFormatID, static_cast<uint32_t>(kAudioFormatLinearPCM));
    EXPECT_EQ(x.LayoutTag(), c.tag);
  }
}

TEST(AudioExtraction, EveryFillIsExactUntilTheEndThenCompleteWithNothing) {
  Extraction x("aud_s16.aif");
  ASSERT_EQ(x.SetPcm(16), noErr);
  std::vector<uint8_t> buffer;
  uint32_t flags = 0;
  // Three seconds: three full fills, then the end with no frames.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(x.Fill(44100, &buffer, &flags), 44100u);
    EXPECT_EQ(buffer.size(), 176400u);
    EXPECT_EQ(x.Time().value, (i + 1) * 1000);
  }
  OSStatus err = -1;
  EXPECT_EQ(x.Fill(44100, &buffer, &flags, &err), 0u);
  EXPECT_EQ(err, noErr);
  EXPECT_EQ(flags, static_cast<uint32_t>(kQTMovieAudioExtractionComplete));
  EXPECT_EQ(x.Fill(44100, &buffer, &flags), 0u);
  EXPECT_EQ(flags, static_cast<uint32_t>(kQTMovieAudioExtractionComplete));
}

// Frequency with the most energy among candidates (Goertzel).
double Strongest(const std::vector<int16_t>& pcm, size_t channels, size_t channel, double rate,
                 const std::vector<double>& candidates) {
  double best = 0, best_power = -1;
  for (double f : candidates) {
    double k = 2 * std::cos(2 * M_PI * f / rate), s1 = 0, s2 = 0;
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

TEST(AudioExtraction, FivePointOneTonesLandOnTheirSpeakers) {
  const std::vector<double> tones = {300, 500, 700, 60, 1100, 1300};  // FL FR FC LFE BL BR
  struct Case {
    AudioChannelLayoutTag tag;
    std::vector<double> order;
  } cases[] = {
      {0x790006, {300, 500, 700, 60, 1100, 1300}},  // wave order: L R C LFE Ls Rs
      {0x7C0006, {700, 300, 500, 1100, 1300, 60}},  // AAC order: C L R Ls Rs LFE
      {0x7A0006, {300, 500, 1100, 1300, 700, 60}},  // L R Ls Rs C LFE
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    Extraction x("aud_51.m4a");
    ASSERT_EQ(x.SetPcm(16), noErr);
    ASSERT_EQ(x.SetLayoutTag(c.tag), noErr);
    EXPECT_EQ(x.LayoutTag(), c.tag);
    std::vector<uint8_t> bytes;
    uint32_t flags = 0;
    ASSERT_EQ(x.Fill(48000, &bytes, &flags), 48000u);
    std::vector<int16_t> pcm(bytes.size() / 2);
    memcpy(pcm.data(), bytes.data(), bytes.size());
    for (size_t ch = 0; ch < 6; ++ch) EXPECT_EQ(Strongest(pcm, 6, ch, 48000, tones), c.order[ch]) << "channel " << ch;
  }
}

TEST(AudioExtraction, SeekLandsOnTheExactSample) {
  std::vector<uint8_t> oracle = ReadAll(Fixture("aud_aac.m4a.s16le"));
  ASSERT_GT(oracle.size(), 441000u * 4 + 44100 * 4);
  Extraction x("aud_aac.m4a");
  ASSERT_EQ(x.SetPcm(16), noErr);
  std::vector<uint8_t> buffer;
  uint32_t flags = 0;
  for (int64_t at_ms : {10000, 2500, 0, 7321}) {
    SCOPED_TRACE(at_ms);
    if (at_ms % 10 == 0) {
      ASSERT_EQ(x.Seek(at_ms * 6 / 10, 600), noErr);
    } else {
      ASSERT_EQ(x.Seek(at_ms, 1000), noErr);
    }
    // At the sample at or just before the time asked for.
    TimeRecord t = x.Time();
    EXPECT_EQ(t.scale, 1000);
    EXPECT_LE(t.value, at_ms);
    EXPECT_GE(t.value, at_ms - 1);
    ASSERT_EQ(x.Fill(44100, &buffer, &flags), 44100u);
    size_t from = static_cast<size_t>(at_ms * 441 / 10) * 4;
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), oracle.begin() + from));
  }
}

TEST(AudioExtraction, SeekAfterTheEndDeliversAgain) {
  std::vector<uint8_t> oracle = ReadAll(Fixture("aud_aac.aac.s16le"));
  Extraction x("aud_aac.aac");
  ASSERT_EQ(x.SetPcm(16), noErr);
  std::vector<uint8_t> all = x.ExtractAll(44100);
  EXPECT_EQ(all.size(), oracle.size());
  std::vector<uint8_t> buffer;
  uint32_t flags = 0;
  EXPECT_EQ(x.Fill(44100, &buffer, &flags), 0u);
  EXPECT_EQ(flags, static_cast<uint32_t>(kQTMovieAudioExtractionComplete));
  // Past the end: still the end.
  ASSERT_EQ(x.Seek(60000, 1000), noErr);
  EXPECT_EQ(x.Fill(44100, &buffer, &flags), 0u);
  EXPECT_EQ(flags, static_cast<uint32_t>(kQTMovieAudioExtractionComplete));
  ASSERT_EQ(x.Seek(1000, 1000), noErr);
  ASSERT_EQ(x.Fill(44100, &buffer, &flags), 44100u);
  EXPECT_EQ(flags, 0u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), oracle.begin() + 44100 * 4));
}

// Fills of every size, and format changes, seeks and time queries between
// them while the session decodes ahead: each fill is the ffmpeg decode at the
// position the session reports.
TEST(AudioExtraction, CallsBetweenFillsWhileDecodingAheadKeepEveryFrameInPlace) {
  const std::vector<uint8_t> s16 = ReadAll(Fixture("aud_aac.m4a.s16le"));
  const std::vector<uint8_t> s32 = ReadAll(Fixture("aud_aac.m4a.s32le"));
  ASSERT_EQ(s16.size() * 2, s32.size());
  const size_t total = s16.size() / 4;
  Extraction x("aud_aac.m4a");
  ASSERT_EQ(x.SetPcm(16), noErr);
  uint32_t bits = 16;
  int64_t at = 0;  // frame index
  std::vector<uint8_t> buffer;
  uint32_t flags = 0;
  auto fill = [&](uint32_t frames) {
    SCOPED_TRACE(testing::Message() << "fill of " << frames << " at " << at << ", " << bits << " bits");
    ASSERT_EQ(x.Time().value, at * 1000 / 44100);
    const uint32_t expected = static_cast<uint32_t>(std::min<int64_t>(frames, total - at));
    ASSERT_EQ(x.Fill(frames, &buffer, &flags), expected);
    const std::vector<uint8_t>& oracle = bits == 16 ? s16 : s32;
    const size_t frame_bytes = bits / 4;
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), oracle.begin() + at * frame_bytes));
    at += expected;
  };
  auto set_bits = [&](uint32_t b) {
    ASSERT_EQ(x.SetPcm(b), noErr);
    bits = b;
  };
  // The position survives a format change at whole milliseconds.
  fill(44100);
  fill(1);
  fill(440);
  set_bits(32);
  fill(7);
  fill(44100 - 7);
  fill(88200);
  set_bits(16);
  fill(2);
  fill(4410 - 2);
  ASSERT_EQ(x.Seek(2500, 1000), noErr);
  at = 2500 * 441 / 10;
  fill(300);
  fill(44100 - 300);
  ASSERT_EQ(x.Seek(0, 1000), noErr);
  at = 0;
  fill(1000);
  set_bits(32);
  ASSERT_EQ(x.Seek(total * 1000 / 44100 - 500, 1000), noErr);
  at = (total * 1000 / 44100 - 500) * 441 / 10;
  fill(44100);
  EXPECT_EQ(flags, static_cast<uint32_t>(kQTMovieAudioExtractionComplete));
  EXPECT_EQ(at, static_cast<int64_t>(total));
  // Ended while the thread may still be decoding ahead after a seek.
  ASSERT_EQ(x.Seek(1000, 1000), noErr);
  at = 44100;
  fill(10);
}

TEST(AudioExtraction, DamagedFilesEndEarlyOrSkipWithoutFailing) {
  {
    // Cut in half: what exists, as the ffmpeg tool decodes it.
    Extraction x("aud_trunc.m4a");
    ASSERT_EQ(x.status(), noErr);
    ASSERT_EQ(x.SetPcm(16), noErr);
    std::vector<uint8_t> got = x.ExtractAll(44100);
    std::vector<uint8_t> expected = ReadAll(Fixture("aud_trunc.m4a.s16le"));
    std::vector<uint8_t> full = ReadAll(Fixture("aud_full_fs.m4a.s16le"));
    EXPECT_GT(got.size(), 44100u * 4);
    EXPECT_LT(got.size(), full.size());
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), full.begin()));
  }
  {
    // A zeroed frame in the middle: the rest keeps its place in time.
    Extraction x("aud_corrupt.aac");
    ASSERT_EQ(x.status(), noErr);
    ASSERT_EQ(x.SetPcm(16), noErr);
    std::vector<uint8_t> got = x.ExtractAll(44100);
    std::vector<uint8_t> clean = ReadAll(Fixture("aud_aac.aac.s16le"));
    EXPECT_GE(got.size() + 4096 * 4, clean.size());
    EXPECT_LE(got.size(), clean.size());
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 44100 * 4, clean.begin()));
  }
}

TEST(AudioExtraction, RefusesWhatItCannotDeliver) {
  MovieAudioExtractionRef ref = reinterpret_cast<MovieAudioExtractionRef>(1);
  EXPECT_EQ(MovieAudioExtractionBegin(nullptr, 0, &ref), invalidMovie);
  EXPECT_EQ(ref, nullptr);
  EXPECT_EQ(MovieAudioExtractionEnd(nullptr), paramErr);

  Extraction x("aud_s16.aif");
  ASSERT_EQ(x.status(), noErr);
  AudioStreamBasicDescription f = PcmFormat(44100, 2, 16);
  f.mFormatFlags |= kAudioFormatFlagIsBigEndian;
  EXPECT_EQ(x.SetFormat(f), paramErr);
  f = PcmFormat(44100, 2, 12);
  EXPECT_EQ(x.SetFormat(f), paramErr);
  f = PcmFormat(44100, 2, 16);
  f.mBytesPerFrame = 6;
  EXPECT_EQ(x.SetFormat(f), paramErr);
  ASSERT_EQ(x.SetFormat(PcmFormat(44100, 2, 16)), noErr);
  EXPECT_EQ(x.SetLayoutTag(0x790006), paramErr);  // six channels for two
  EXPECT_EQ(x.SetLayoutTag(0x123456), paramErr);

  AudioStreamBasicDescription small{};
  EXPECT_EQ(MovieAudioExtractionGetProperty(x.ref(), kQTPropertyClass_MovieAudioExtraction_Audio,
                                            kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription, 39,
                                            &small, nullptr),
            kQTPropertyBadValueSizeErr);
  EXPECT_EQ(MovieAudioExtractionGetProperty(x.ref(), 0x61626364, 0x61626364, sizeof small, &small, nullptr),
            kQTPropertyNotSupportedErr);
  ByteCount size = 0;
  EXPECT_EQ(MovieAudioExtractionGetPropertyInfo(x.ref(), kQTPropertyClass_MovieAudioExtraction_Audio,
                                                kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, nullptr,
                                                &size, nullptr),
            noErr);
  EXPECT_EQ(size, 32u);
  uint32_t frames = 10, flags = 7;
  EXPECT_EQ(MovieAudioExtractionFillBuffer(x.ref(), &frames, nullptr, &flags), paramErr);
  EXPECT_EQ(flags, 0u);
}

TEST(AudioExtraction, OtherRatesAndLayoutsAreConverted) {
  // Stereo at 44,100 Hz out as 22,050 Hz mono.
  Extraction x("aud_s16.aif");
  ASSERT_EQ(x.SetFormat(PcmFormat(22050, 1, 16)), noErr);
  EXPECT_EQ(x.LayoutTag(), 0xFFFF0001u);
  ASSERT_EQ(x.SetLayoutTag(0x640001), noErr);
  bool all_full = false;
  std::vector<uint8_t> got = x.ExtractAll(22050, &all_full);
  EXPECT_NEAR(static_cast<double>(got.size()) / 2, 3 * 22050.0, 64);
  // Channels reversed by a description layout: R then L.
  Extraction y("aud_s16.aif");
  ASSERT_EQ(y.SetPcm(16), noErr);
  AudioChannelLayout* layout = static_cast<AudioChannelLayout*>(calloc(1, 12 + 2 * 20));
  layout->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
  layout->mNumberChannelDescriptions = 2;
  uint32_t labels[2] = {2, 1};
  memcpy(reinterpret_cast<uint8_t*>(layout) + 12, &labels[0], 4);
  memcpy(reinterpret_cast<uint8_t*>(layout) + 32, &labels[1], 4);
  EXPECT_EQ(MovieAudioExtractionSetProperty(y.ref(), kQTPropertyClass_MovieAudioExtraction_Audio,
                                            kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, 52, layout),
            noErr);
  free(layout);
  std::vector<uint8_t> swapped = y.ExtractAll(44100);
  std::vector<uint8_t> oracle = ReadAll(Fixture("aud_s16.aif.s16le"));
  ASSERT_EQ(swapped.size(), oracle.size());
  bool same = true;
  for (size_t i = 0; i + 4 <= oracle.size() && same; i += 4)
    same = memcmp(&swapped[i], &oracle[i + 2], 2) == 0 && memcmp(&swapped[i + 2], &oracle[i], 2) == 0;
  EXPECT_TRUE(same);
}

}  // namespace
}  // namespace qtm::test
