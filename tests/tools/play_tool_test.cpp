// kestrel-play as a user runs it: the JSON report, frames and their times on
// disk, the sound as a wave file, seeks, and its exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "video/md5.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

std::string Play(const std::string& args, unsigned long* code) { return RunTool("play", args, code); }

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

// A scratch folder under the fixtures, emptied first.
std::string ScratchDir(const std::string& name) {
  std::string dir = FixturePath(name);
  std::string pattern = dir + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

TEST(PlayTool, ReportsWhatEachPinDelivered) {
  unsigned long code = 9;
  std::string json = Play("--json " + FixturePath("h264_bframes.mov"), &code);
  EXPECT_EQ(code, 0u) << json;
  for (const char* part : {"\"status\": \"S_OK\"", "\"result\": \"EC_COMPLETE\"", "\"seconds\": ",
                           "\"video\": {\"subtype\": \"UYVY\", \"width\": 320, \"height\": 240, \"stride\": 640, "
                           "\"samples\": 50, \"first_start\": 0, \"last_stop\": 20000000}",
                           "\"audio\": {\"rate\": 44100, \"channels\": 1, \"bits\": 16, \"track\": 0, \"samples\": 3, "
                           "\"bytes\": 178176, \"first_start\": 0",
                           "\"released\": true"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
}

// Frames as delivered (RGB bottom-up), one file each, with their times.
TEST(PlayTool, WritesFramesAndTheirTimes) {
  std::string dir = ScratchDir("play_tool_frames");
  Expected e = LoadExpected("mjpeg.mov.play", "bgra");
  unsigned long code = 9;
  std::string json = Play("--format RGB32 --frames 5 --out " + dir + " --json " + FixturePath("mjpeg.mov"), &code);
  EXPECT_EQ(code, 0u) << json;
  EXPECT_NE(json.find("\"subtype\": \"RGB32\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"samples\": 5"), std::string::npos) << json;
  for (int i = 0; i < 5; ++i) {
    char name[32];
    snprintf(name, sizeof(name), "\\frame_%04d.raw", i);
    std::string bytes = ReadFileBytes(dir + name);
    ASSERT_EQ(bytes.size(), 320u * 240u * 4u) << name;
    EXPECT_EQ(PictureMd5(reinterpret_cast<const uint8_t*>(bytes.data()), 320, 240, 4, 1280, true), e.md5[i]) << name;
  }
  EXPECT_TRUE(ReadFileBytes(dir + "\\frame_0005.raw").empty());
  std::vector<std::string> times = Lines(ReadFileBytes(dir + "\\times.txt"));
  ASSERT_EQ(times.size(), 5u);
  EXPECT_EQ(times[0], std::to_string(e.start[0]) + " " + std::to_string(e.stop[0]) + " D S");
  EXPECT_EQ(times[4], std::to_string(e.start[4]) + " " + std::to_string(e.stop[4]) + " S");
}

TEST(PlayTool, WritesTheSoundAsAWaveFileFromTheSeekPosition) {
  std::string wav = FixturePath("play_tool.wav");
  DeleteFileA(wav.c_str());
  unsigned long code = 9;
  Play("--seek 10 --wav " + wav + " " + FixturePath("long_av.mov"), &code);
  EXPECT_EQ(code, 0u);
  std::string bytes = ReadFileBytes(wav);
  std::string pcm = ReadFileBytes(FixturePath("long_av.mov.s16le"));
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_TRUE(bytes.substr(44) == pcm.substr(10 * 88200)) << bytes.size();
  std::vector<std::string> times = Lines(ReadFileBytes(wav + ".times.txt"));
  ASSERT_EQ(times.size(), 11u);
  EXPECT_EQ(times[0], "0 10000000 D S");
  EXPECT_EQ(times[1], "10000000 20000000");
}

// After the first picture the tool seeks both pins: the stream restarts at
// the target with a discontinuity.
TEST(PlayTool, SeeksWhileRunning) {
  std::string dir = ScratchDir("play_tool_seek");
  unsigned long code = 9;
  std::string json = Play("--seek-while-running 15 --out " + dir + " --json " + FixturePath("long_av.mov"), &code);
  EXPECT_EQ(code, 0u) << json;
  std::vector<std::string> times = Lines(ReadFileBytes(dir + "\\times.txt"));
  ASSERT_FALSE(times.empty());
  size_t restart = times.size();
  for (size_t i = 1; i < times.size(); ++i)
    if (times[i].find(" D") != std::string::npos) restart = i;
  ASSERT_LT(restart, times.size()) << "no restart";
  EXPECT_EQ(times[restart], "0 400000 D S");
  EXPECT_EQ(times.size() - restart, 125u);  // 15 s to 20 s at 25 a second
  EXPECT_NE(json.find("\"last_stop\": 50000000"), std::string::npos) << json;
}

TEST(PlayTool, ExitCodes) {
  unsigned long code = 9;
  std::string json = Play("--json " + FixturePath("not_a_movie.mov"), &code);
  EXPECT_EQ(code, 1u);
  EXPECT_NE(json.find("\"status\": \"E_FAIL\""), std::string::npos) << json;
  Play("--format BGR24 " + FixturePath("mjpeg.mov"), &code);
  EXPECT_EQ(code, 2u);
  Play("--frames", &code);
  EXPECT_EQ(code, 2u);
  Play("", &code);
  EXPECT_EQ(code, 2u);
  json = Play("--json " + FixturePath("unknown_codec.mov"), &code);
  EXPECT_EQ(code, 1u);  // its one stream does not decode: nothing plays
  EXPECT_NE(json.find("\"reason_code\": \"unsupported_codec\""), std::string::npos) << json;
  json = Play("--json " + FixturePath("wide_video.mov"), &code);
  EXPECT_EQ(code, 0u);  // the video pin does not connect; the sound plays
  EXPECT_NE(json.find("\"connect\": \"E_FAIL\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"released\": true"), std::string::npos) << json;
}

// The first picture at or after the time, as a 32-bit bitmap of the rows
// the ffmpeg tool decodes there.
TEST(PlayTool, SnapshotIsTheFirstPictureAtOrAfterTheTime) {
  std::string bmp = FixturePath("play_tool_snapshot.bmp");
  DeleteFileA(bmp.c_str());
  unsigned long code = 9;
  Play("--snapshot 1.0 " + bmp + " " + FixturePath("long_av.mov"), &code);
  EXPECT_EQ(code, 0u);
  std::string bytes = ReadFileBytes(bmp);
  ASSERT_EQ(bytes.size(), 54u + 160u * 120u * 4u);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data() + sizeof(BITMAPFILEHEADER));
  EXPECT_EQ(info->biWidth, 160);
  EXPECT_EQ(info->biHeight, 120);  // bottom-up
  EXPECT_EQ(info->biBitCount, 32);
  EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
  Expected e = LoadExpected("long_av.mov.play", "bgra");
  size_t first = 0;
  while (first < e.start.size() && e.start[first] < 10000000) ++first;
  EXPECT_EQ(PictureMd5(reinterpret_cast<const uint8_t*>(bytes.data()) + 54, 160, 120, 4, 640, true), e.md5[first]);
}

// The summary a person reads: both streams start together on a movie whose
// edit list hides the decoder's delay; no progress line on a file.
TEST(PlayTool, SummaryAndNoProgressOffATerminal) {
  unsigned long code = 9;
  std::string errors;
  std::string out = RunTool("play", "--headless " + FixturePath("h264_bframes.mov"), &code, &errors);
  EXPECT_EQ(code, 0u);
  for (const char* line :
       {"result: EC_COMPLETE after ", "video: 50 frames, UYVY 320x240, ", "first starts 0.000 s, last ends 2.000 s",
        "audio: 2.020 s delivered, 44100 Hz, 1 channel(s)", "A/V start offset: 0.000 s"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(errors.find('\r'), std::string::npos) << errors;
  EXPECT_EQ(errors.find("fps"), std::string::npos) << errors;
  // The late video starts a second after the sound.
  out = RunTool("play", "--headless " + FixturePath("late_video.mov"), &code);
  EXPECT_NE(out.find("A/V start offset: 1.000 s"), std::string::npos) << out;
}

// kestrel-info reports through the filter what the probe reports of the
// engine, in the same words.
TEST(InfoTool, SaysWhatTheProbeSays) {
  auto section = [](const std::string& json, const std::string& key) {
    size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return std::string();
    at += key.size() + 4;
    if (json.compare(at, 4, "null") == 0) return std::string("null");
    int depth = 0;
    for (size_t i = at; i < json.size(); ++i) {
      if (json[i] == '{') ++depth;
      if (json[i] == '}' && --depth == 0) return json.substr(at, i - at + 1);
    }
    return std::string();
  };
  for (const char* movie : {"md_tags.mov", "md_tc_df.mov", "h264_bframes.mov", "audio.m4a", "turn90.mov"}) {
    SCOPED_TRACE(movie);
    unsigned long code = 9;
    std::string info = RunTool("info", "--json " + FixturePath(movie), &code);
    EXPECT_EQ(code, 0u);
    std::string probe = RunProbe("--json " + FixturePath(movie));
    for (const char* key : {"video", "user_data", "timecode"})
      EXPECT_EQ(section(info, key), section(probe, key)) << key;
    std::string audio = section(info, "audio");
    if (audio == "null") {
      EXPECT_EQ(section(probe, "audio"), "null");
    } else {
      // The three facts the info interface gives, as the probe gives them.
      EXPECT_EQ(section(probe, "audio").rfind(audio.substr(0, audio.size() - 1), 0), 0u) << audio;
    }
  }
  // The turn applied, and the size delivered after it.
  std::string turned = section(RunTool("info", "--json " + FixturePath("turn90.mov")), "video");
  EXPECT_NE(turned.find("\"width\": 60, \"height\": 100,"), std::string::npos) << turned;
  EXPECT_NE(turned.find("\"rotation\": 90}"), std::string::npos) << turned;
  EXPECT_NE(section(RunTool("info", "--json " + FixturePath("h264_bframes.mov")), "video").find("\"rotation\": 0}"),
            std::string::npos);
  unsigned long code = 9;
  RunTool("info", FixturePath("not_a_movie.mov"), &code);
  EXPECT_EQ(code, 1u);
  RunTool("info", "", &code);
  EXPECT_EQ(code, 2u);
}

// The sound tracks and chapters, each as one JSON object of fixed keys.
TEST(InfoTool, ListsTheSoundTracksAndTheChapters) {
  unsigned long code = 9;
  std::string info = RunTool("info", "--json " + FixturePath("trk_lang.mp4"), &code);
  EXPECT_EQ(code, 0u);
  const char* tracks =
      "\"audio_tracks\": ["
      "{\"index\": 0, \"language\": \"eng\", \"name\": \"SoundHandler\", \"codec\": \"aac\", \"channels\": 2, "
      "\"rate\": 48000, \"bits\": 16, \"selected\": false}, "
      "{\"index\": 1, \"language\": \"ger\", \"name\": \"Deutsch\", \"codec\": \"ac-3\", \"channels\": 6, "
      "\"rate\": 48000, \"bits\": 16, \"selected\": true}, "
      "{\"index\": 2, \"language\": \"eng\", \"name\": \"Commentary\", \"codec\": \"aac\", \"channels\": 2, "
      "\"rate\": 48000, \"bits\": 16, \"selected\": false}]";
  EXPECT_NE(info.find(tracks), std::string::npos) << info;
  EXPECT_NE(info.find("\"chapters\": []"), std::string::npos) << info;

  info = RunTool("info", "--json " + FixturePath("cover_art.m4a"), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(info.find("\"video\": null"), std::string::npos) << info;
  EXPECT_NE(info.find("\"chapters\": [{\"name\": \"Intro\", \"start\": 0}, {\"name\": \"Middle part\", \"start\": "
                      "0.69999999999999996}, {\"name\": \"Schluss \xC3\x84\xC3\x96\xC3\x9C\", \"start\": 1.5}]"),
            std::string::npos)
      << info;
  // A movie without sound lists none.
  info = RunTool("info", "--json " + FixturePath("mjpeg.mov"), &code);
  EXPECT_NE(info.find("\"audio_tracks\": []"), std::string::npos) << info;
}

// --audio-track N plays that track, chosen before the graph runs: the wave
// file is its sound and the report says which.
TEST(PlayTool, PlaysTheAudioTrackAskedFor) {
  std::string wav = FixturePath("play_tool_track.wav");
  DeleteFileA(wav.c_str());
  unsigned long code = 9;
  std::string json = Play("--audio-track 2 --wav " + wav + " --json " + FixturePath("trk_lang.mp4"), &code);
  EXPECT_EQ(code, 0u) << json;
  EXPECT_NE(json.find("\"audio\": {\"rate\": 48000, \"channels\": 2, \"bits\": 16, \"track\": 2,"), std::string::npos)
      << json;
  std::string bytes = ReadFileBytes(wav);
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_TRUE(bytes.substr(44) == ReadFileBytes(FixturePath("trk_lang.mp4.a2.s16le")));
  // The default: the German 5.1 track, a plain PCM wave file of 6 channels.
  json = Play("--wav " + wav + " --json " + FixturePath("trk_lang.mp4"), &code);
  EXPECT_EQ(code, 0u) << json;
  EXPECT_NE(json.find("\"channels\": 6, \"bits\": 16, \"track\": 1,"), std::string::npos) << json;
  bytes = ReadFileBytes(wav);
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes[20], 1);  // WAVE_FORMAT_PCM
  EXPECT_TRUE(bytes.substr(44) == ReadFileBytes(FixturePath("trk_lang.mp4.a1.s16le")));
  // A track the file does not have: it does not play.
  Play("--audio-track 3 --json " + FixturePath("trk_lang.mp4"), &code);
  EXPECT_EQ(code, 1u);
  Play("--audio-track x " + FixturePath("trk_lang.mp4"), &code);
  EXPECT_EQ(code, 2u);
}

}  // namespace
}  // namespace kestrel::test
