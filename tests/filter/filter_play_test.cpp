// Movies of every kind played through the filter in Wine's filter graph:
// every picture and its times as the ffmpeg tool decodes the file (edit
// list applied), every byte of sound as ffmpeg decodes it, and the two
// streams in step.

#include <tuple>

#include "filter/filter_harness.h"
#include "support/test_env.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

class VideoPlays : public FilterTest, public testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(VideoPlays, EveryPictureAndItsTimesAsFfmpegDecodesThem) {
  const std::string movie = std::get<0>(GetParam());
  const VideoFormat& format = kVideoFormats[std::get<1>(GetParam())];
  Expected e = LoadExpected(movie + ".play", format.oracle);
  ASSERT_FALSE(e.md5.empty());
  ASSERT_EQ(e.md5.size(), e.start.size());
  ASSERT_HR(S_OK, Load(movie));
  ASSERT_NE(Connect(L"Video", format.subtype), nullptr);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);

  Delivery d = Delivered(L"Video");
  ASSERT_NO_FATAL_FAILURE(ExpectPicturesAsOracle(d, e));
  for (size_t i = 0; i < d.records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(d.records[i].sync_point);
    EXPECT_EQ(d.records[i].discontinuity, i == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, VideoPlays,
                         testing::Combine(testing::Values("h264_bframes.mov", "h264_bframes.mp4", "hevc.mp4",
                                                          "mpeg4.mp4", "mjpeg.mov", "prores.mov", "dv.mov",
                                                          "raw2vuy.mov", "h263_aac.3gp", "png.mov", "qtrle.mov",
                                                          "late_video.mov"),
                                          testing::Range(0, 4)),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param);
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name + "_" + kVideoFormats[std::get<1>(info.param)].name;
                         });

struct SoundCase {
  const char* movie;
  const char* oracle;  // raw PCM beside the movie
  int bits;
};

class SoundPlays : public FilterTest, public testing::WithParamInterface<SoundCase> {};

TEST_P(SoundPlays, EveryByteAsFfmpegDecodesItInOneSecondSamples) {
  const SoundCase& c = GetParam();
  std::string expected = ReadFileBytes(FixturePath(std::string(c.movie) + "." + c.oracle));
  ASSERT_FALSE(expected.empty());
  ASSERT_HR(S_OK, Load(c.movie));
  play::PinChain* chain = Connect(L"Audio");
  ASSERT_NE(chain, nullptr);
  ASSERT_EQ(chain->type.formattype, FORMAT_WaveFormatEx);
  const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(chain->type.pbFormat);
  EXPECT_EQ(wf->wBitsPerSample, c.bits);
  EXPECT_EQ(chain->type.lSampleSize, wf->nBlockAlign);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);

  Delivery d = Delivered(L"Audio");
  EXPECT_TRUE(d.pcm == expected) << d.pcm.size() << " bytes, expected " << expected.size();
  ASSERT_FALSE(d.records.empty());
  EXPECT_EQ(d.records.size(), (expected.size() + wf->nAvgBytesPerSec - 1) / wf->nAvgBytesPerSec);
  EXPECT_EQ(d.records[0].start, 0);
  for (size_t i = 0; i < d.records.size(); ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      EXPECT_EQ(d.records[i].start, d.records[i - 1].stop);
    }
    EXPECT_EQ(d.records[i].discontinuity, i == 0);
    EXPECT_EQ(d.records[i].sync_point, i == 0);
    if (i + 1 < d.records.size()) {
      EXPECT_EQ(static_cast<DWORD>(d.records[i].bytes), wf->nAvgBytesPerSec);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SoundPlays,
                         testing::Values(SoundCase{"h264_bframes.mov", "s16le", 16}, SoundCase{"hevc.mp4", "s16le", 16},
                                         SoundCase{"aud_aac.m4a", "s16le", 16}, SoundCase{"aud_alac.m4a", "s16le", 16},
                                         SoundCase{"aud_s16.aif", "s16le", 16}, SoundCase{"aud_s24.aif", "s24le", 24},
                                         SoundCase{"aud_s16.caf", "s16le", 16}, SoundCase{"aud_aac.aac", "s16le", 16},
                                         SoundCase{"mp3.mov", "s16le", 16}, SoundCase{"aud_sowt.mov", "s16le", 16},
                                         SoundCase{"twos.mov", "s16le", 16}, SoundCase{"in24.mov", "s24le", 24},
                                         SoundCase{"in32.mov", "s32le", 32}, SoundCase{"raw8.mov", "u8", 8},
                                         SoundCase{"h263_aac.3gp", "s16le", 16},
                                         SoundCase{"aud_alac24.caf", "s24le", 24},
                                         SoundCase{"aud_amr.amr", "s16le", 16}, SoundCase{"aud_gsm.gsm", "s16le", 16},
                                         SoundCase{"aud_ulaw.caf", "s16le", 16},
                                         SoundCase{"aud_ima4.aifc", "s16le", 16}, SoundCase{"aud_51.m4a", "s16le", 16}),
                         [](const auto& info) {
                           std::string name = info.param.movie;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Both pins of one graph: the first picture and the first sound start
// together when the video's edit list hides the decoder's delay, and the
// video one second late when an empty edit says so.
TEST_F(FilterTest, VideoAndSoundStartInStep) {
  struct Case {
    const char* movie;
    int64_t video_start, audio_start;
  };
  for (Case c : {Case{"h264_bframes.mov", 0, 0}, Case{"h264_bframes.mp4", 0, 0}, Case{"late_video.mov", 10000000, 0}}) {
    SCOPED_TRACE(c.movie);
    ASSERT_HR(S_OK, Load(c.movie));
    ASSERT_NE(Connect(L"Video"), nullptr);
    ASSERT_NE(Connect(L"Audio"), nullptr);
    ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
    Delivery video = Delivered(L"Video");
    Delivery audio = Delivered(L"Audio");
    ASSERT_FALSE(video.records.empty());
    ASSERT_FALSE(audio.records.empty());
    EXPECT_EQ(video.records[0].start, c.video_start);
    EXPECT_EQ(audio.records[0].start, c.audio_start);
    graph.reset();
    recorders.clear();
    filter.Reset();
  }
}

// High quality through the graph, asked for by the registry value "quality"
// (read when the pin's decoder is made) or through IQTControl once the pin
// is connected: every picture as ffmpeg's default conversion, none as the
// normal-quality one.
TEST_F(FilterTest, HighQualityFromTheRegistryOrIQTControlConvertsAsFfmpegsDefault) {
  for (const VideoFormat& format : {kVideoFormats[0], kVideoFormats[1]}) {
    SCOPED_TRACE(format.name);
    Expected high = LoadExpected("h264_bframes.mov.play", std::string(format.oracle) + ".hq");
    Expected normal = LoadExpected("h264_bframes.mov.play", format.oracle);
    ASSERT_FALSE(high.md5.empty());
    ASSERT_EQ(high.md5.size(), normal.md5.size());
    for (bool registry : {true, false}) {
      SCOPED_TRACE(registry ? "registry" : "IQTControl");
      graph.reset();
      recorders.clear();
      filter.Reset();
      std::unique_ptr<ScopedSetting> value(registry ? new ScopedSetting(L"quality", 768) : nullptr);
      ASSERT_HR(S_OK, Load("h264_bframes.mov"));
      ASSERT_NE(Connect(L"Video", format.subtype), nullptr);
      ComPtr<IQTControl> control;
      ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTControl, control.ReleaseAndGetVoidAddress()));
      if (!registry) ASSERT_HR(S_OK, control->SetVideoQuality(Video_HighQuality));
      QT_VIDEO_QUALITY quality;
      ASSERT_HR(S_OK, control->GetVideoQuality(&quality));
      EXPECT_EQ(quality, Video_HighQuality);
      ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
      Delivery d = Delivered(L"Video");
      ASSERT_EQ(d.md5.size(), high.md5.size());
      for (size_t i = 0; i < d.md5.size(); ++i) {
        EXPECT_EQ(d.md5[i], high.md5[i]) << i;
        EXPECT_NE(d.md5[i], normal.md5[i]) << i;
      }
    }
  }
}

// The seeking range of the late video is where it lies on the movie's
// timeline, so its last second is not cut.
TEST_F(FilterTest, LateVideoKeepsItsLastSecond) {
  ASSERT_HR(S_OK, Load("late_video.mov"));
  ComPtr<IMediaSeeking> seeking;
  ASSERT_HR(S_OK, PinNamed(L"Video")->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress()));
  LONGLONG duration = 0, stop = 0;
  EXPECT_HR(S_OK, seeking->GetDuration(&duration));
  EXPECT_HR(S_OK, seeking->GetStopPosition(&stop));
  EXPECT_EQ(duration, 30000000);
  EXPECT_EQ(stop, 30000000);
}

}  // namespace
}  // namespace kestrel::test
