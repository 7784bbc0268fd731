// Frames delivered by MovieSession against ffmpeg's decode of the same file:
// every frame, display order, pixel-identical, with ffprobe's presentation
// times. Times compared are media times (the edit list ignored on both
// sides: ffprobe -ignore_editlist 1).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_env.h"
#include "video/frame_formats.h"
#include "video/md5.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

class EveryMovie : public testing::TestWithParam<const char*> {};

TEST_P(EveryMovie, EveryFrameInDisplayOrderMatchesFfmpeg) {
  std::string name = GetParam();
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath(name).c_str()), S_OK);
  int32_t w = 0, h = 0;
  ASSERT_EQ(session.GetDimensions(&w, &h), S_OK);
  for (const Format& f : kFormats) {
    SCOPED_TRACE(std::string(f.oracle) + (f.flip ? " flip" : ""));
    Expected e = LoadExpected(name, f.oracle);
    ASSERT_FALSE(e.md5.empty());
    ASSERT_EQ(session.CreateDecoder(f.qt), S_OK);
    session.SeekTo(0);
    session.SetStride(w * f.bytes_per_pixel);
    session.SetFlip(f.flip);
    bool bottom_up = f.flip && f.bytes_per_pixel == 4;
    Delivered d =
        DeliverFrames(session, w, h, f.bytes_per_pixel, static_cast<size_t>(w) * f.bytes_per_pixel, bottom_up);
    EXPECT_EQ(d.last, S_FALSE);
    EXPECT_EQ(d.md5, e.md5);
    EXPECT_EQ(d.start, e.start);
    EXPECT_EQ(d.stop, e.stop);
    // After the end, the end again.
    std::vector<uint8_t> buffer(static_cast<size_t>(w) * h * f.bytes_per_pixel);
    EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), S_FALSE);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryMovie,
                         testing::Values("h264_bframes.mov", "h264_bframes.mp4", "mpeg4.mp4", "mjpeg.mov", "prores.mov",
                                         "dv.mov", "raw2vuy.mov", "h263.3gp", "png_alpha.mov", "qtrle_argb.mov",
                                         "raw32.mov", "raw24.mov", "cinepak.mov", "svq1.mov", "v210.mov",
                                         "fragmented.mp4", "frag_base.mp4", "frag_implicit.mp4", "same_time.mov"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(FrameSource, FirstRequestAfterOpeningDeliversTheFirstSample) {
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("mjpeg.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  Expected e = LoadExpected("mjpeg.mov", "uyvy422");
  Delivered d = DeliverFrames(session, 320, 240, 2, 640, false, 1);
  ASSERT_EQ(d.md5.size(), 1u);
  EXPECT_EQ(d.md5[0], e.md5[0]);
  EXPECT_EQ(d.start[0], 0);
  EXPECT_EQ(d.stop[0], 400000);  // 512 of 12800
}

TEST(FrameSource, WideStrideAndBottomUpRowsLeaveThePaddingAlone) {
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("odd_width.mov").c_str()), S_OK);  // 98 x 50
  Expected e = LoadExpected("odd_width.mov", "bgra");
  ASSERT_EQ(session.CreateDecoder(0x42475241), S_OK);
  const size_t stride = 98 * 4 + 24;
  session.SetStride(static_cast<int32_t>(stride));
  session.SetFlip(1);
  std::vector<uint8_t> buffer(stride * 50, 0xAB);
  int64_t start = 0, stop = 0;
  ASSERT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), &start, &stop), S_OK);
  EXPECT_EQ(PictureMd5(buffer.data(), 98, 50, 4, stride, true), e.md5[0]);
  for (int y = 0; y < 50; ++y)
    for (size_t x = 98 * 4; x < stride; ++x) ASSERT_EQ(buffer[y * stride + x], 0xAB) << y << " " << x;

  // YUV stays top-down whatever the flip flag says.
  Expected yuv = LoadExpected("odd_width.mov", "yuyv422");
  ASSERT_EQ(session.CreateDecoder(0x79757673), S_OK);
  session.SetStride(98 * 2 + 10);
  std::vector<uint8_t> yuv_buffer((98 * 2 + 10) * 50);
  ASSERT_EQ(session.ProduceFrame(yuv_buffer.data(), yuv_buffer.size(), nullptr, nullptr), S_OK);
  EXPECT_EQ(PictureMd5(yuv_buffer.data(), 98, 50, 2, 98 * 2 + 10, false), yuv.md5[1]);
}

TEST(FrameSource, APictureLargerThanTheDestinationIsCutNotOverrun) {
  MovieSession full, cut;
  ASSERT_EQ(full.Open(FixturePath("mjpeg.mov").c_str()), S_OK);
  ASSERT_EQ(cut.Open(FixturePath("mjpeg.mov").c_str()), S_OK);
  for (MovieSession* s : {&full, &cut}) ASSERT_EQ(s->CreateDecoder(0x42475241), S_OK);
  std::vector<uint8_t> whole(320 * 4 * 240);
  ASSERT_EQ(full.ProduceFrame(whole.data(), whole.size(), nullptr, nullptr), S_OK);
  for (int flip : {0, 1}) {
    SCOPED_TRACE(flip);
    cut.SeekTo(0);
    cut.SetFlip(flip);
    // Room for 100 rows and a half, then a guard the session was not given.
    const size_t given = 320 * 4 * 100 + 320 * 2;
    std::vector<uint8_t> buffer(given + 4096, 0xCD);
    ASSERT_EQ(cut.ProduceFrame(buffer.data(), given, nullptr, nullptr), S_OK);
    for (size_t i = given; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xCD) << i;
    if (!flip) {
      EXPECT_EQ(memcmp(buffer.data(), whole.data(), given), 0);
    } else {
      // Bottom-up: destination row r holds picture row 239 - r.
      for (int r = 0; r < 100; ++r) ASSERT_EQ(memcmp(&buffer[r * 1280], &whole[(239 - r) * 1280], 1280), 0) << r;
    }
  }
}

TEST(FrameSource, ChangingThePixelFormatMidStreamGoesOnWithCorrectPictures) {
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("h264_bframes.mov").c_str()), S_OK);
  Expected yuv = LoadExpected("h264_bframes.mov", "uyvy422");
  Expected rgb = LoadExpected("h264_bframes.mov", "bgra");
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  Delivered first = DeliverFrames(session, 320, 240, 2, 640, false, 17);
  ASSERT_EQ(first.md5.size(), 17u);
  ASSERT_EQ(session.CreateDecoder(0x42475241), S_OK);  // primed from the sync sample before
  session.SetStride(1280);
  Delivered rest = DeliverFrames(session, 320, 240, 4, 1280, false);
  EXPECT_EQ(rest.last, S_FALSE);
  ASSERT_EQ(rest.md5.size(), rgb.md5.size() - 17);
  for (size_t i = 0; i < rest.md5.size(); ++i) {
    EXPECT_EQ(rest.md5[i], rgb.md5[17 + i]) << i;
    EXPECT_EQ(rest.start[i], rgb.start[17 + i]) << i;
  }
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(first.md5[i], yuv.md5[i]);
}

TEST(FrameSource, ADamagedH264SampleIsConcealedAndTheStreamGoesOn) {
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("corrupt_h264.mov").c_str()), S_OK);
  Expected clean = LoadExpected("h264_bframes.mov", "uyvy422");
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  Delivered d = DeliverFrames(session, 320, 240, 2, 640, false);
  EXPECT_EQ(d.last, S_FALSE);
  // Samples 12 to 23 form the damaged closed group; the rest is intact.
  ASSERT_EQ(d.md5.size(), clean.md5.size());
  int damaged = 0;
  for (size_t i = 0; i < d.md5.size(); ++i) {
    if (i < 12 || i >= 24)
      EXPECT_EQ(d.md5[i], clean.md5[i]) << i;
    else
      damaged += d.md5[i] != clean.md5[i];
    EXPECT_EQ(d.start[i], clean.start[i]) << i;
  }
  EXPECT_GT(damaged, 0);
}

TEST(FrameSource, WithoutADecoderOrACodecNothingIsProduced) {
  std::vector<uint8_t> buffer(64 * 48 * 2);
  MovieSession unopened;
  EXPECT_EQ(unopened.CreateDecoder(0x32767579), E_FAIL);
  EXPECT_EQ(unopened.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), E_FAIL);
  EXPECT_EQ(unopened.SeekTo(10000000), S_OK);
  EXPECT_EQ(unopened.SkipAhead(10000000), S_OK);

  MovieSession unknown;
  ASSERT_EQ(unknown.Open(FixturePath("unknown_codec.mov").c_str()), S_OK);
  EXPECT_EQ(unknown.CreateDecoder(0x32767579), E_FAIL);
  EXPECT_EQ(unknown.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), E_FAIL);
  int32_t value = 0;
  EXPECT_EQ(unknown.GetDecodeAccuracy(&value), S_OK);  // the options exist without a session
  EXPECT_EQ(unknown.ProduceFrame(nullptr, 0, nullptr, nullptr), E_POINTER);

  MovieSession known;
  ASSERT_EQ(known.Open(FixturePath("mjpeg.mov").c_str()), S_OK);
  EXPECT_EQ(known.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), E_FAIL);  // no decoder yet
  EXPECT_EQ(known.CreateDecoder(0x52474241 /* 'RGBA' */), E_FAIL);
  ASSERT_EQ(known.CreateDecoder(0x32767579), S_OK);
  known.Close();
  EXPECT_EQ(known.GetDecodeAccuracy(&value), E_FAIL);  // closing released the decoder
  EXPECT_EQ(known.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), E_FAIL);
}

TEST(CopyRows, TopDownBottomUpAndNothingOutsideTheDestination) {
  const uint8_t src[3][4] = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
  uint8_t dst[3][6];
  memset(dst, 0, sizeof(dst));
  MovieSession::CopyRows(3, &src[0][0], 4, &dst[0][0], 6, 4, false, sizeof(dst));
  EXPECT_EQ(dst[0][0], 1);
  EXPECT_EQ(dst[2][3], 3);
  EXPECT_EQ(dst[0][4], 0);
  memset(dst, 0, sizeof(dst));
  MovieSession::CopyRows(3, &src[0][0], 4, &dst[0][0], 6, 4, true, sizeof(dst));
  EXPECT_EQ(dst[0][0], 3);
  EXPECT_EQ(dst[2][0], 1);
  memset(dst, 0, sizeof(dst));
  MovieSession::CopyRows(0, &src[0][0], 4, &dst[0][0], 6, 4, false, sizeof(dst));
  for (auto& row : dst)
    for (uint8_t b : row) EXPECT_EQ(b, 0);
  // Eight bytes: row 0 whole, half of row 1.
  uint8_t small[12];
  memset(small, 0, sizeof(small));
  MovieSession::CopyRows(3, &src[0][0], 4, small, 6, 4, false, 8);
  EXPECT_EQ(small[3], 1);
  EXPECT_EQ(small[6], 2);
  EXPECT_EQ(small[7], 2);
  EXPECT_EQ(small[8], 0);
  // A stride narrower than the row: each row cut to the stride.
  memset(small, 0, sizeof(small));
  MovieSession::CopyRows(3, &src[0][0], 4, small, 3, 4, false, 9);
  EXPECT_EQ(small[2], 1);
  EXPECT_EQ(small[3], 2);
  EXPECT_EQ(small[8], 3);
  EXPECT_EQ(small[9], 0);
}

}  // namespace
}  // namespace kestrel::test
