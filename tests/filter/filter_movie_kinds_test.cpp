// The movies people have, through the filter in Wine's filter graph: a
// phone video turned by its matrix (upright in every format, at the size
// delivered, which IQTInfo and the log report), HEVC Main 10, and a movie
// over 4 GiB with 64-bit chunk offsets (a sparse file) played whole; every
// picture and every byte of sound as the ffmpeg tool decodes the same file.
#include <ole2.h>

#include <algorithm>

#include "filter/filter_harness.h"
#include "support/test_env.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

bool Logged(const std::string& message) {
  std::vector<std::string> log = LogMessages();
  return std::find(log.begin(), log.end(), message) != log.end();
}

class MovieKinds : public FilterTest {
 protected:
  // Every picture of the movie in each format, with its times.
  void PlaysAsFfmpegDecodesIt(const std::string& movie) {
    for (const VideoFormat& format : kVideoFormats) {
      SCOPED_TRACE(format.name);
      Expected e = LoadExpected(movie + ".play", format.oracle);
      ASSERT_FALSE(e.md5.empty());
      graph.reset();
      recorders.clear();
      filter.Reset();
      ASSERT_HR(S_OK, Load(movie));
      ASSERT_NE(Connect(L"Video", format.subtype), nullptr);
      ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
      ExpectPicturesAsOracle(Delivered(L"Video"), e);
    }
  }
};

TEST_F(MovieKinds, APhoneVideoTurnedByItsMatrixPlaysUpright) { PlaysAsFfmpegDecodesIt("turn90.mov"); }

TEST_F(MovieKinds, HevcMain10Plays) { PlaysAsFfmpegDecodesIt("hevc_main10.mp4"); }

// The size delivered everywhere it is reported: the pin's types, IQTInfo,
// the negotiation's log lines, and the line that says why.
TEST_F(MovieKinds, TheSizeDeliveredIsTheSizeReported) {
  ASSERT_HR(S_OK, Load("turn90.mov"));  // 100 x 60, turned: 60 x 100
  EXPECT_TRUE(Logged("Video matrix: turned 90 degrees clockwise; delivered upright at 60 x 100."));
  CMediaType offered;
  ASSERT_TRUE(OfferedType(PinNamed(L"Video"), MEDIASUBTYPE_RGB32, &offered));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(offered.Format());
  EXPECT_EQ(vih->bmiHeader.biWidth, 60);
  EXPECT_EQ(vih->bmiHeader.biHeight, 100);
  EXPECT_EQ(vih->rcSource.right, 60);
  EXPECT_EQ(vih->rcSource.bottom, 100);
  EXPECT_EQ(vih->bmiHeader.biSizeImage, 60u * 100u * 4u);

  ComPtr<IQTInfo> info;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
  BSTR codec = nullptr;
  ULONG width = 0, height = 0, depth = 0, frames = 0;
  double rate = 0, duration = 0;
  ASSERT_HR(S_OK, info->GetVideoInfo(&codec, &width, &height, &depth, &rate, &frames, &duration));
  SysFreeString(codec);
  EXPECT_EQ(width, 60u);
  EXPECT_EQ(height, 100u);

  ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
  EXPECT_TRUE(Logged("Width: 60, Height: 100, Depth: 16."));

  // A matrix that is no turn: reported, and the pictures as stored.
  graph.reset();
  recorders.clear();
  filter.Reset();
  ASSERT_HR(S_OK, Load("scaled.mov"));
  EXPECT_TRUE(Logged("Video matrix [2 0 0 1 0 0] is neither a rotation nor a mirror image: ignored."));
  ASSERT_TRUE(OfferedType(PinNamed(L"Video"), MEDIASUBTYPE_UYVY, &offered));
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(offered.Format())->bmiHeader.biWidth, 100);
}

// Chunks just below 4 GiB (the sign bit of a 32-bit offset set) and above
// it; the rest of the file a hole.
TEST_F(MovieKinds, AMovieOver4GiBWith64BitChunkOffsetsPlaysWhole) {
  const std::string movie = "large_co64.mov";
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  ASSERT_TRUE(GetFileAttributesExA(FixturePath(movie).c_str(), GetFileExInfoStandard, &attributes));
  EXPECT_GT(attributes.nFileSizeHigh, 0u);
  Expected e = LoadExpected(movie + ".play", "uyvy422");
  std::string pcm = ReadFileBytes(FixturePath(movie + ".s16le"));
  ASSERT_FALSE(e.md5.empty());
  ASSERT_FALSE(pcm.empty());
  ASSERT_HR(S_OK, Load(movie));
  ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
  ASSERT_NE(Connect(L"Audio"), nullptr);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  Delivery video = Delivered(L"Video");
  EXPECT_EQ(video.md5, e.md5);
  ASSERT_EQ(video.records.size(), e.start.size());
  for (size_t i = 0; i < video.records.size(); ++i) EXPECT_EQ(video.records[i].start, e.start[i]) << i;
  Delivery audio = Delivered(L"Audio");
  EXPECT_TRUE(audio.pcm == pcm) << audio.pcm.size() << " bytes, expected " << pcm.size();
}

}  // namespace
}  // namespace kestrel::test
