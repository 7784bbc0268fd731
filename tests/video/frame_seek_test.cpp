// Seeking and skipping: the first frame delivered is the first one shown at
// or after the target, and from there every frame follows once.
#include <gtest/gtest.h>

#include <vector>

#include "support/test_env.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

// Index of the first expected frame starting at or after t, or size().
size_t FirstAtOrAfter(const Expected& e, int64_t t) {
  size_t best = e.start.size();
  for (size_t i = 0; i < e.start.size(); ++i)
    if (e.start[i] >= t && (best == e.start.size() || e.start[i] < e.start[best])) best = i;
  return best;
}

void ExpectRestFrom(const Delivered& d, const Expected& e, size_t first) {
  ASSERT_EQ(d.md5.size(), e.md5.size() - first);
  for (size_t i = 0; i < d.md5.size(); ++i) {
    EXPECT_EQ(d.md5[i], e.md5[first + i]) << "frame " << first + i;
    EXPECT_EQ(d.start[i], e.start[first + i]) << "frame " << first + i;
  }
}

class Seeks : public testing::TestWithParam<const char*> {};

TEST_P(Seeks, FirstFrameIsTheFirstShownAtOrAfterTheTarget) {
  std::string name = GetParam();
  Expected e = LoadExpected(name, "uyvy422");
  ASSERT_GT(e.md5.size(), 30u);
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath(name).c_str()), S_OK);
  int32_t w = 0, h = 0;
  session.GetDimensions(&w, &h);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  // Exactly on frames (sync samples and others), between frames (the
  // position converts to media time truncating: a hundred nanoseconds past a
  // frame is still that frame), backwards after forwards.
  std::vector<int64_t> targets = {e.start[12], e.start[24], e.start[17],     e.start[17] - 1, e.start[29] + 200000,
                                  e.start[5],  0,           e.start[40] - 1, e.start[3]};
  for (int64_t target : targets) {
    SCOPED_TRACE(target);
    // Read a few frames first so the decoder holds pictures of its own.
    DeliverFrames(session, w, h, 2, static_cast<size_t>(w) * 2, false, 3);
    EXPECT_EQ(session.SeekTo(target), S_OK);
    Delivered d = DeliverFrames(session, w, h, 2, static_cast<size_t>(w) * 2, false);
    EXPECT_EQ(d.last, S_FALSE);
    ExpectRestFrom(d, e, FirstAtOrAfter(e, target));
    session.SeekTo(0);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Seeks,
                         testing::Values("h264_bframes.mov", "h264_bframes.mp4", "mpeg4.mp4", "mjpeg.mov"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(Seek, PastTheEndTheNextRequestAnswersTheEnd) {
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("h264_bframes.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  std::vector<uint8_t> buffer(320 * 240 * 2);
  EXPECT_EQ(session.SeekTo(30000000), S_OK);
  EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), S_FALSE);
  EXPECT_EQ(session.ProduceFrame(buffer.data(), buffer.size(), nullptr, nullptr), S_FALSE);
  // And back in.
  Expected e = LoadExpected("h264_bframes.mov", "uyvy422");
  EXPECT_EQ(session.SeekTo(e.start[45]), S_OK);
  Delivered d = DeliverFrames(session, 320, 240, 2, 640, false);
  ExpectRestFrom(d, e, 45);
}

TEST(Seek, WithATimeScaleOf600OneSecondIsMediaTime600) {
  // 30 frames a second, 20 units each.
  Expected e = LoadExpected("scale600.mov", "uyvy422");
  ASSERT_EQ(e.md5.size(), 90u);
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("scale600.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  session.SeekTo(10000000);
  Delivered d = DeliverFrames(session, 64, 48, 2, 128, false, 31);
  ASSERT_EQ(d.md5.size(), 31u);
  EXPECT_EQ(d.start[0], 10000000);
  EXPECT_EQ(d.md5[0], e.md5[30]);
  // Display time 1200, duration 20.
  EXPECT_EQ(d.start[30], 20000000);
  EXPECT_EQ(d.stop[30], 20333333);
  EXPECT_EQ(d.md5[30], e.md5[60]);
}

TEST(SkipAhead, LateFramesAreSkippedAndNoneIsDeliveredTwice) {
  Expected e = LoadExpected("h264_bframes.mov", "uyvy422");
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("h264_bframes.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  Delivered first = DeliverFrames(session, 320, 240, 2, 640, false, 5);
  ASSERT_EQ(first.md5.size(), 5u);
  // A lateness of nothing skips nothing and repeats nothing.
  EXPECT_EQ(session.SkipAhead(0), S_OK);
  Delivered next = DeliverFrames(session, 320, 240, 2, 640, false, 1);
  ASSERT_EQ(next.md5.size(), 1u);
  EXPECT_EQ(next.md5[0], e.md5[5]);
  // Half a second late: what follows is later, correct, and in order.
  EXPECT_EQ(session.SkipAhead(5000000), S_OK);
  Delivered rest = DeliverFrames(session, 320, 240, 2, 640, false);
  EXPECT_EQ(rest.last, S_FALSE);
  ASSERT_FALSE(rest.md5.empty());
  size_t at = FirstAtOrAfter(e, rest.start[0]);
  ASSERT_LT(at, e.md5.size());
  EXPECT_GT(at, 6u);
  ExpectRestFrom(rest, e, at);
}

TEST(SkipAhead, RightAfterOpeningTheFirstSampleIsStillDecoded) {
  Expected e = LoadExpected("h264_bframes.mov", "uyvy422");
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("h264_bframes.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  session.SkipAhead(2000000);  // 0.2 s
  Delivered d = DeliverFrames(session, 320, 240, 2, 640, false);
  ASSERT_FALSE(d.md5.empty());
  ExpectRestFrom(d, e, FirstAtOrAfter(e, d.start[0]));
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// Every sample of droppable.mov is marked droppable (not depended on).
TEST(DroppableSamples, AreDeliveredInPlaybackAndPassedOverOnlyBeforeATarget) {
  Expected e = LoadExpected("mjpeg.mov", "uyvy422");
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath("droppable.mov").c_str()), S_OK);
  ASSERT_EQ(session.CreateDecoder(0x32767579), S_OK);
  Delivered all = DeliverFrames(session, 320, 240, 2, 640, false);
  EXPECT_EQ(all.last, S_FALSE);
  ExpectRestFrom(all, e, 0);

  session.SeekTo(e.start[20]);
  Delivered from20 = DeliverFrames(session, 320, 240, 2, 640, false, 5);
  ASSERT_EQ(from20.md5.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(from20.md5[i], e.md5[20 + i]);

  session.SkipAhead(4000000);  // 0.4 s: ten frames passed over undecoded
  Delivered rest = DeliverFrames(session, 320, 240, 2, 640, false);
  ASSERT_FALSE(rest.md5.empty());
  size_t at = FirstAtOrAfter(e, rest.start[0]);
  EXPECT_GE(at, 34u);
  ExpectRestFrom(rest, e, at);
}

}  // namespace
}  // namespace kestrel::test
