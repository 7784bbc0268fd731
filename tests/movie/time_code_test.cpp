// MovieFacts::GetTimeCode against ffprobe's time codes, and the engine's
// 'tmcd' handler asked at the converted time.
#include "movie/time_code.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "movie/movie_facts.h"
#include "movie/movie_file.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

// "hh:mm:ss:ff" ("hh:mm:ss;ff" for drop-frame), as ffprobe writes it; or the status.
std::string TimeCodeOf(MovieFacts& session) {
  int32_t drop = -1;
  uint8_t h = 0, m = 0, s = 0, f = 0;
  HRESULT hr = session.GetTimeCode(&drop, &h, &m, &s, &f);
  if (hr == S_FALSE) return "S_FALSE";
  if (hr != S_OK) return "hr " + std::to_string(hr);
  char text[32];
  snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", h, m, s, drop ? ';' : ':', f);
  return text;
}

std::string ProbeTimeCode(const std::string& fixture) {
  std::string json = test::ReadFileBytes(test::FixturePath(fixture + ".probe.json"));
  const std::string key = "\"timecode\": \"";
  size_t at = json.find(key);
  return at == std::string::npos ? "" : json.substr(at + key.size(), 11);
}

TEST(TimeCode, FirstFrameMatchesFfprobe) {
  for (const char* name : {"md_tc_df.mov", "md_tc_25.mov"}) {
    MovieFacts session;
    ASSERT_EQ(session.Open(test::FixturePath(name).c_str()), S_OK) << name;
    std::string want = ProbeTimeCode(name);
    EXPECT_EQ(TimeCodeOf(session), want) << name;
    // No frame decoded in between: the same answer.
    EXPECT_EQ(TimeCodeOf(session), want) << name;
  }
  EXPECT_EQ(ProbeTimeCode("md_tc_df.mov"), "01:00:00;00");
  EXPECT_EQ(ProbeTimeCode("md_tc_25.mov"), "10:20:30:12");

  MovieFacts session;
  ASSERT_EQ(session.Open(test::FixturePath("md_tc_df.mov").c_str()), S_OK);
  int32_t drop = -1;
  uint8_t h = 9, m = 9, s = 9, f = 9;
  ASSERT_EQ(session.GetTimeCode(&drop, &h, &m, &s, &f), S_OK);
  EXPECT_EQ(drop, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(f, 0);
}

TEST(TimeCode, AbsentBrokenAndMissingPointers) {
  MovieFacts closed;
  EXPECT_EQ(TimeCodeOf(closed), "S_FALSE");
  for (const char* name : {"md_base.mov", "h264_bframes.mov"}) {
    MovieFacts session;
    ASSERT_EQ(session.Open(test::FixturePath(name).c_str()), S_OK);
    EXPECT_EQ(TimeCodeOf(session), "S_FALSE") << name;
  }
  for (const char* name : {"md_tc_scale0.mov", "md_tc_broken.mov"}) {
    MovieFacts session;
    ASSERT_EQ(session.Open(test::FixturePath(name).c_str()), S_OK) << name;
    EXPECT_EQ(TimeCodeOf(session), "hr " + std::to_string(E_FAIL)) << name;
  }
  MovieFacts broken;
  ASSERT_EQ(broken.Open(test::FixturePath("md_tc_broken.mov").c_str()), S_OK);

  int32_t d;
  uint8_t h, m, s, f;
  EXPECT_EQ(broken.GetTimeCode(nullptr, &h, &m, &s, &f), E_POINTER);
  EXPECT_EQ(broken.GetTimeCode(&d, nullptr, &m, &s, &f), E_POINTER);
  EXPECT_EQ(broken.GetTimeCode(&d, &h, nullptr, &s, &f), E_POINTER);
  EXPECT_EQ(broken.GetTimeCode(&d, &h, &m, nullptr, &f), E_POINTER);
  EXPECT_EQ(broken.GetTimeCode(&d, &h, &m, &s, nullptr), E_POINTER);
}

TEST(TimeCode, VideoTimeIsConvertedToTimeCodeUnits) {
  TimeValue t = 0;
  ASSERT_TRUE(TimeCodeMediaTime(1200, 600, 2997, &t));
  EXPECT_EQ(t, 5994);
  EXPECT_TRUE(TimeCodeMediaTime(-600, 600, 2997, &t));
  EXPECT_EQ(t, -2997);
  EXPECT_FALSE(TimeCodeMediaTime(1200, 0, 2997, &t));
  EXPECT_FALSE(TimeCodeMediaTime(int64_t{1} << 40, 600, 2997, &t));  // no 32-bit time

  // md_tc_600.mov: video in 600 units, time code in 2997 (100 a frame, 30
  // frames, non-drop, from 0). Video time 1200 (two seconds) is asked at 5994:
  // frame 59, 00:00:01:29; unconverted it would be frame 12.
  Movie movie = nullptr;
  ASSERT_EQ(OpenMovieFromPath(test::FixturePath("md_tc_600.mov").c_str(), &movie), S_OK);
  Media video = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
  Media tc = GetTrackMedia(GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType));
  ASSERT_TRUE(video && tc);
  EXPECT_EQ(GetMediaTimeScale(video), 600);
  EXPECT_EQ(GetMediaTimeScale(tc), 2997);
  MediaHandler handler = GetMediaHandler(tc);
  ASSERT_TRUE(handler);
  ASSERT_TRUE(TimeCodeMediaTime(1200, GetMediaTimeScale(video), GetMediaTimeScale(tc), &t));
  int32_t frame = -1;
  TimeCodeDef def = {};
  TimeCodeRecord rec = {};
  ASSERT_EQ(TCGetTimeCodeAtTime(handler, t, &frame, &def, &rec, nullptr), noErr);
  EXPECT_EQ(frame, 59);
  EXPECT_EQ(def.flags, 0);
  EXPECT_EQ(def.fTimeScale, 2997);
  EXPECT_EQ(def.frameDuration, 100);
  EXPECT_EQ(def.numFrames, 30);
  EXPECT_EQ(rec.t.hours, 0);
  EXPECT_EQ(rec.t.minutes, 0);
  EXPECT_EQ(rec.t.seconds, 1);
  EXPECT_EQ(rec.t.frames, 29);
  ASSERT_EQ(TCGetTimeCodeAtTime(handler, 1200, &frame, &def, &rec, nullptr), noErr);
  EXPECT_EQ(frame, 12);
  // Only the time-code media's handler answers.
  EXPECT_NE(TCGetTimeCodeAtTime(GetMediaHandler(video), t, &frame, &def, &rec, nullptr), noErr);
  DisposeMovieRef(&movie);

  MovieFacts session;
  ASSERT_EQ(session.Open(test::FixturePath("md_tc_600.mov").c_str()), S_OK);
  EXPECT_EQ(TimeCodeOf(session), "00:00:00:00");
}

}  // namespace
}  // namespace kestrel
