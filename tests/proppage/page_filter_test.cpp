// The page on the real filter from kestrel.ax with fixture movies: what it
// shows against ffprobe's view and the filter's own answers, and settings
// picked on the page reaching the running decoder without any registry
// write.
#include <dshow.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "play/play_graph.h"
#include "proppage/page_resources.h"
#include "proppage/page_test_support.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

using Row = std::pair<std::wstring, std::wstring>;

// The filter from the module with a fixture loaded (none for an empty name).
ComPtr<IBaseFilter> LoadedFilter(const std::string& fixture) {
  ComPtr<IBaseFilter> filter;
  EXPECT_HR(S_OK, play::CreateKestrelFilter(filter.ReleaseAndGetAddressOf()));
  if (!filter || fixture.empty()) return filter;
  ComPtr<IFileSourceFilter> source;
  EXPECT_HR(S_OK, filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress()));
  std::string path = FixturePath(fixture);
  std::wstring wide(path.begin(), path.end());
  EXPECT_HR(S_OK, source->Load(wide.c_str(), nullptr));
  return filter;
}

// ffprobe's first video stream: width, height, duration (100 ns), frames.
struct ProbedVideo {
  int width = 0, height = 0;
  long long duration = 0;
  int frames = 0;
};
ProbedVideo Probed(const std::string& fixture) {
  ProbedVideo v;
  std::ifstream in(FixturePath(fixture + ".video.txt"));
  in >> v.width >> v.height >> v.duration >> v.frames;
  EXPECT_TRUE(in) << fixture;
  return v;
}

std::wstring Resolution(int width, int height, ULONG depth) {
  return std::to_wstring(width) + L" x " + std::to_wstring(height) + L" x " + std::to_wstring(depth);
}

// "%.2f sec" of a 100-ns duration cut to hundredths.
std::wstring Seconds(long long duration) {
  long long hundredths = duration / 100000;
  std::wstring cents = std::to_wstring(hundredths % 100);
  return std::to_wstring(hundredths / 100) + L"." + (cents.size() < 2 ? L"0" : L"") + cents + L" sec";
}

// The filter's non-empty tags, last first: what the list must show.
std::vector<Row> ExpectedTags(IBaseFilter* filter) {
  ComPtr<IQTInfo> info;
  EXPECT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
  std::vector<Row> rows;
  ULONG count = 0;
  if (info->GetUserDataCount(&count) != S_OK) return rows;
  for (ULONG i = 0; i < count; ++i) {
    BSTR name = nullptr, value = nullptr;
    EXPECT_HR(S_OK, info->GetUserDataName(i, &name));
    EXPECT_HR(S_OK, info->GetUserDataValue(i, &value));
    if (value && value[0]) rows.insert(rows.begin(), Row(name, value));
    SysFreeString(name);
    SysFreeString(value);
  }
  return rows;
}

TEST(PageOnTheFilter, VideoAndAudioMovie) {
  ComPtr<IBaseFilter> filter = LoadedFilter("h264_bframes.mov");
  ASSERT_TRUE(filter);
  ComPtr<IQTInfo> info;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
  BSTR video_codec = nullptr, audio_codec = nullptr, layout = nullptr;
  ULONG width, height, depth, frames, rate;
  double frame_rate, duration;
  ASSERT_HR(S_OK, info->GetVideoInfo(&video_codec, &width, &height, &depth, &frame_rate, &frames, &duration));
  ASSERT_HR(S_OK, info->GetAudioInfo(&audio_codec, &layout, &rate));

  OpenPage open(filter.Get());
  page::PageControls page = open.Read();
  ProbedVideo probed = Probed("h264_bframes.mov");
  EXPECT_EQ(page.Text(IDC_VIDEO_CODEC), video_codec);
  EXPECT_FALSE(page.Text(IDC_VIDEO_CODEC).empty());
  EXPECT_EQ(page.Text(IDC_VIDEO_RESOLUTION), Resolution(probed.width, probed.height, depth));
  EXPECT_EQ(page.Text(IDC_VIDEO_FRAMERATE), L"25.00");
  EXPECT_EQ(page.Text(IDC_VIDEO_FRAMECOUNT), std::to_wstring(probed.frames));
  EXPECT_EQ(page.Text(IDC_VIDEO_DURATION), Seconds(probed.duration));
  EXPECT_EQ(page.Text(IDC_AUDIO_CODEC), audio_codec);
  EXPECT_EQ(page.Text(IDC_AUDIO_LAYOUT), layout);
  EXPECT_FALSE(page.Text(IDC_AUDIO_LAYOUT).empty());
  EXPECT_EQ(page.Text(IDC_AUDIO_SAMPLERATE), L"44.100 kHz");
  EXPECT_TRUE(page.disabled.empty());
  // Without a connected video pin there is no decoder to report settings.
  EXPECT_EQ(page.quality, -1);
  EXPECT_EQ(page.fieldmode, -1);
  SysFreeString(video_codec);
  SysFreeString(audio_codec);
  SysFreeString(layout);
}

TEST(PageOnTheFilter, NtscFrameRateIsCutNotRounded) {
  ComPtr<IBaseFilter> filter = LoadedFilter("dv.mov");  // 30000/1001
  ASSERT_TRUE(filter);
  OpenPage open(filter.Get());
  page::PageControls page = open.Read();
  ProbedVideo probed = Probed("dv.mov");
  EXPECT_EQ(page.Text(IDC_VIDEO_FRAMERATE), L"29.97");
  const std::wstring size = std::to_wstring(probed.width) + L" x " + std::to_wstring(probed.height) + L" x ";
  EXPECT_EQ(page.Text(IDC_VIDEO_RESOLUTION).rfind(size, 0), 0u) << page.Text(IDC_VIDEO_RESOLUTION);
  EXPECT_EQ(page.Text(IDC_VIDEO_FRAMECOUNT), std::to_wstring(probed.frames));
}

TEST(PageOnTheFilter, AudioOnlyMovieGreysTheVideoGroup) {
  ComPtr<IBaseFilter> filter = LoadedFilter("audio.m4a");
  ASSERT_TRUE(filter);
  OpenPage open(filter.Get());
  page::PageControls page = open.Read();
  for (int id : {1013, 1015, 1016, 1017, 1024, 1026, 1006, 1007, 1008, 1023, 1025, 1029, 1027, 1030, 1028})
    EXPECT_TRUE(page.Disabled(id)) << id;
  for (int id : {1006, 1007, 1008, 1023, 1025}) EXPECT_EQ(page.Text(id), L"") << id;
  for (int id : {1014, 1018, 1019, 1020, 1009, 1010, 1011}) EXPECT_FALSE(page.Disabled(id)) << id;
  EXPECT_FALSE(page.Text(IDC_AUDIO_CODEC).empty());
  EXPECT_EQ(page.Text(IDC_AUDIO_SAMPLERATE), L"44.100 kHz");
  EXPECT_EQ(SendMessageW(open.Control(IDC_QUALITY), CB_GETCOUNT, 0, 0), 6);
  EXPECT_EQ(page.quality, -1);
  EXPECT_EQ(page.fieldmode, -1);
}

TEST(PageOnTheFilter, TagsOfATaggedMovieLastFirst) {
  ComPtr<IBaseFilter> filter = LoadedFilter("md_tags.mov");
  ASSERT_TRUE(filter);
  std::vector<Row> expected = ExpectedTags(filter.Get());
  OpenPage open(filter.Get());
  page::PageControls page = open.Read();
  EXPECT_EQ(page.tags, expected);
  ASSERT_GE(page.tags.size(), 10u);
  // Album is the catalogue's first entry, so the list's last row.
  EXPECT_EQ(page.tags.back(), Row(L"Album", L"The Album"));
  EXPECT_NE(std::find(page.tags.begin(), page.tags.end(), Row(L"Full Name", L"The Title")), page.tags.end());
}

TEST(PageOnTheFilter, NothingLoaded) {
  ComPtr<IBaseFilter> filter = LoadedFilter("");
  ASSERT_TRUE(filter);
  OpenPage open(filter.Get());
  page::PageControls page = open.Read();
  for (int id : {1013, 1027, 1028, 1006, 1014, 1009, 1011}) EXPECT_TRUE(page.Disabled(id)) << id;
  for (int id : {1006, 1007, 1008, 1023, 1025, 1009, 1010, 1011}) EXPECT_EQ(page.Text(id), L"") << id;
  EXPECT_TRUE(page.tags.empty());
  EXPECT_EQ(page.quality, -1);
  EXPECT_EQ(page.fieldmode, -1);
}

TEST(PageOnTheFilter, PickedSettingsReachTheDecoderAndNotTheRegistry) {
  const std::vector<std::string> settings = SettingsSnapshot();
  ComPtr<IBaseFilter> filter = LoadedFilter("h264_bframes.mov");
  ASSERT_TRUE(filter);
  // The video pin connected: its decoder now exists and has settings.
  play::PlayGraph graph;
  ASSERT_HR(S_OK, graph.Create(filter.Get()));
  std::vector<ComPtr<IPin>> pins = graph.SourcePins();
  ASSERT_FALSE(pins.empty());
  ComPtr<play::SampleRecorder> recorder;
  recorder.Attach(new play::SampleRecorder);
  ASSERT_HR(S_OK, graph.Connect(pins[0].Get(), nullptr, recorder.Get()));
  ComPtr<IQTControl> control;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTControl, control.ReleaseAndGetVoidAddress()));
  QT_VIDEO_QUALITY quality;
  QT_VIDEO_FIELDMODE mode;
  ASSERT_HR(S_OK, control->GetVideoQuality(&quality));
  ASSERT_HR(S_OK, control->GetVideoFieldMode(&mode));
  ASSERT_EQ(quality, Video_NormalQuality);  // the prefix holds no "quality" value
  ASSERT_EQ(mode, Video_FieldMode_BothFields);

  RegistryWriteCounter registry;
  OpenPage open(filter.Get());
  EXPECT_EQ(open.Read().quality, 3);  // "Normal"
  EXPECT_EQ(open.Read().fieldmode, 0);
  SendMessageW(open.Control(IDC_QUALITY), WM_KEYDOWN, VK_UP, 0);  // "High"
  ASSERT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(quality, Video_HighQuality);
  SendMessageW(open.Control(IDC_FIELDMODE), WM_KEYDOWN, VK_DOWN, 0);  // "Top Field Only"
  ASSERT_HR(S_OK, control->GetVideoFieldMode(&mode));
  EXPECT_EQ(mode, Video_FieldMode_TopFieldOnly);

  EXPECT_HR(S_FALSE, open.Page()->IsPageDirty());
  EXPECT_HR(S_OK, open.Page()->Apply());
  ASSERT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(quality, Video_HighQuality);
  open.Close();
  EXPECT_EQ(registry.Writes(), 0);
  EXPECT_EQ(SettingsSnapshot(), settings);
}

}  // namespace
}  // namespace kestrel::test
