// Every picture delivered once, in ffmpeg's order: pictures that share a
// display time, a skip over pictures already decoded, and a decoder made
// anew while the last pictures are being drained.
#include <gtest/gtest.h>

#include <vector>

#include "support/test_env.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

constexpr OSType k2vuy = 0x32767579;
constexpr OSType kBgra = 0x42475241;

void ExpectFrames(const Delivered& d, const Expected& e, size_t first, size_t count) {
  ASSERT_EQ(d.md5.size(), count);
  ASSERT_LE(first + count, e.md5.size());
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(d.md5[i], e.md5[first + i]) << "frame " << first + i;
    EXPECT_EQ(d.start[i], e.start[first + i]) << "frame " << first + i;
    EXPECT_EQ(d.stop[i], e.stop[first + i]) << "frame " << first + i;
  }
}

// Opens name with a UYVY decoder and delivers all but its last k frames.
void DeliverAllButTheLast(MovieSession& session, const char* name, const Expected& yuv, size_t k) {
  const size_t n = yuv.md5.size();
  ASSERT_EQ(session.Open(FixturePath(name).c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(k2vuy), S_OK);
  ExpectFrames(DeliverFrames(session, 320, 240, 2, 640, false, n - k), yuv, 0, n - k);
}

// same_time.mov: MJPEG whose samples 5 and 6 are both shown at 3,072 of
// 12,800 (frame 6's time); nothing is shown at frame 5's.
TEST(SharedDisplayTime, BothPicturesAreDeliveredWithThatTime) {
  Expected e = LoadExpected("same_time.mov", "uyvy422");
  ASSERT_EQ(e.md5.size(), 50u);
  ASSERT_EQ(e.start[5], 2400000);
  ASSERT_EQ(e.start[6], 2400000);
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("same_time.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(k2vuy), S_OK);
  Delivered all = DeliverFrames(session, 320, 240, 2, 640, false);
  EXPECT_EQ(all.last, S_FALSE);
  ExpectFrames(all, e, 0, 50);

  // A seek to that time delivers both.
  session.SeekTo(2400000);
  ExpectFrames(DeliverFrames(session, 320, 240, 2, 640, false, 3), e, 5, 3);

  // A new decoder between the two: the second comes next, the first not again.
  session.SeekTo(0);
  ExpectFrames(DeliverFrames(session, 320, 240, 2, 640, false, 6), e, 0, 6);
  Expected rgb = LoadExpected("same_time.mov", "bgra");
  ASSERT_EQ(session.CreateDecoder(kBgra), S_OK);
  session.SetStride(1280);
  Delivered rest = DeliverFrames(session, 320, 240, 4, 1280, false);
  EXPECT_EQ(rest.last, S_FALSE);
  ExpectFrames(rest, rgb, 6, 44);
}

// A skip k frames before the end, for every k up to well past the decoder's
// delay: near the end the last pictures come out of the decoder together and
// wait to be delivered; the skip passes over those it overtakes too. What
// follows the skip is the rest of ffmpeg's frames from some point on, none
// shown within the lateness after the last frame delivered.
TEST(SkipAhead, NothingShownWithinTheLatenessIsDeliveredNotEvenAtTheEnd) {
  const int64_t late = 1000000;  // 0.1 s: two frames and a half
  for (const char* name : {"h264_bframes.mov", "mjpeg.mov"}) {
    Expected e = LoadExpected(name, "uyvy422");
    const size_t n = e.md5.size();
    for (size_t k = 1; k <= 8; ++k) {
      SCOPED_TRACE(std::string(name) + ", " + std::to_string(k) + " before the end");
      MovieSession session;
      ASSERT_NO_FATAL_FAILURE(DeliverAllButTheLast(session, name, e, k));
      EXPECT_EQ(session.SkipAhead(late), S_OK);
      Delivered rest = DeliverFrames(session, 320, 240, 2, 640, false);
      EXPECT_EQ(rest.last, S_FALSE);
      if (rest.md5.empty()) continue;
      EXPECT_GE(rest.start[0], e.start[n - k - 1] + late);
      size_t first = n - k;
      while (first < n && e.start[first] != rest.start[0]) ++first;
      ExpectFrames(rest, e, first, n - first);
    }
  }
}

// Changing the pixel format k frames before the end, for every k up to well
// past the decoder's delay: the pictures still to come, whether held or in
// the decoder, all come in the new format, once.
TEST(NewDecoder, DuringTheFinalDrainTheLastPicturesStillCome) {
  for (const char* name : {"h264_bframes.mov", "mjpeg.mov"}) {
    Expected yuv = LoadExpected(name, "uyvy422");
    Expected rgb = LoadExpected(name, "bgra");
    const size_t n = yuv.md5.size();
    for (size_t k = 1; k <= 8; ++k) {
      SCOPED_TRACE(std::string(name) + ", " + std::to_string(k) + " before the end");
      MovieSession session;
      ASSERT_NO_FATAL_FAILURE(DeliverAllButTheLast(session, name, yuv, k));
      ASSERT_EQ(session.CreateDecoder(kBgra), S_OK);
      session.SetStride(1280);
      Delivered rest = DeliverFrames(session, 320, 240, 4, 1280, false);
      EXPECT_EQ(rest.last, S_FALSE);
      ExpectFrames(rest, rgb, n - k, k);
    }
  }
  // Once everything has been delivered, a new decoder finds the end again.
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("mjpeg.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(k2vuy), S_OK);
  EXPECT_EQ(DeliverFrames(session, 320, 240, 2, 640, false).last, S_FALSE);
  ASSERT_EQ(session.CreateDecoder(kBgra), S_OK);
  std::vector<uint8_t> buffer(320 * 240 * 4);
  EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), S_FALSE);
}

}  // namespace
}  // namespace kestrel::test
