// Why a movie does not play, as kestrel-play, kestrel-info and kestrel-probe
// say it: one line on standard error, "reason" and "reason_code" in JSON,
// the exit code, and the stream left out of a partial play. One case per
// reason, each with its exact sentence.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace kestrel::test {
namespace {

// The text of a JSON member: a string's characters (\\ and \" undone), or
// the literal (null, a number, an object) as it stands.
std::string Member(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return "(absent)";
  at += key.size() + 4;
  if (json[at] == '"') {
    std::string text;
    for (size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) text += json[i] == '\\' ? json[++i] : json[i];
    return text;
  }
  if (json[at] == '{') return json.substr(at, json.find('}', at) - at + 1);
  return json.substr(at, json.find_first_of(",}", at) - at);
}

struct ToolRun {
  unsigned long code = 9;
  std::string json, errors;
};

ToolRun RunJson(const char* tool, const std::string& file) {
  ToolRun r;
  r.json = RunTool(tool, "--json " + file, &r.code, &r.errors);
  r.errors.erase(std::remove(r.errors.begin(), r.errors.end(), '\r'), r.errors.end());
  return r;
}

// The tool's one line saying why, exactly once.
void ExpectLine(const ToolRun& r, const char* tool, const std::string& reason) {
  std::string line = std::string(tool) + ": " + reason + "\n";
  size_t at = r.errors.find(line);
  EXPECT_NE(at, std::string::npos) << r.errors;
  if (at != std::string::npos) {
    EXPECT_EQ(r.errors.find(line, at + 1), std::string::npos) << r.errors;
  }
}

// What the system says of a sharing violation, as the engine words it.
std::string SharingViolationText() {
  wchar_t words[256] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SHARING_VIOLATION,
                           0, words, 256, nullptr);
  std::string text;
  for (DWORD i = 0; i < n; ++i) text += static_cast<char>(words[i]);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

// A copy of a fixture under another name, for damaging or holding it.
std::string CopyFixture(const std::string& from, const std::string& to) {
  std::string path = FixturePath(to);
  EXPECT_TRUE(CopyFileA(FixturePath(from).c_str(), path.c_str(), FALSE));
  return path;
}

struct Case {
  const char* file;
  unsigned long play_exit;  // kestrel-play's: 1 when nothing plays
  unsigned long load_exit;  // kestrel-info's and kestrel-probe's: 1 when the file does not load
  const char* code;
  std::string reason;
};

// Each file through kestrel-play, then kestrel-info and kestrel-probe: the
// same reason in all three.
void ExpectReason(const std::string& path, const Case& c) {
  SCOPED_TRACE(c.file);
  ToolRun play = RunJson("play", path);
  EXPECT_EQ(play.code, c.play_exit) << play.json << play.errors;
  EXPECT_EQ(Member(play.json, "reason_code"), c.code) << play.json;
  EXPECT_EQ(Member(play.json, "reason"), c.reason) << play.json;
  EXPECT_EQ(Member(play.json, "released"), "true");
  ExpectLine(play, "kestrel-play", c.reason);
  for (const char* tool : {"info", "probe"}) {
    SCOPED_TRACE(tool);
    ToolRun r = RunJson(tool, path);
    // Only a pin refuses a media type; the others never connect one.
    if (std::string(c.code) == "media_type_refused") {
      EXPECT_EQ(Member(r.json, "reason_code"), "null") << r.json;
      continue;
    }
    EXPECT_EQ(r.code, c.load_exit) << r.json;
    EXPECT_EQ(Member(r.json, "reason_code"), c.code) << r.json;
    EXPECT_EQ(Member(r.json, "reason"), c.reason) << r.json;
    ExpectLine(r, (std::string("kestrel-") + tool).c_str(), c.reason);
  }
}

TEST(Reasons, FilesThatDoNotOpen) {
  const std::string not_a_movie = "It is not a movie of a kind Kestrel opens: by its first bytes, ";
  const Case cases[] = {
      {"no_such_file.mov", 1, 1, "not_found", "There is no such file."},
      {"folder.mov", 1, 1, "is_directory", "It is a folder, not a movie file."},
      {"empty.mov", 1, 1, "empty", "The file is empty."},
      {"not_a_movie.mov", 1, 1, "not_a_movie", not_a_movie + "text."},
      {"notes.txt", 1, 1, "not_a_movie", not_a_movie + "text."},
      {"clip.avi", 1, 1, "not_a_movie", not_a_movie + "AVI (Audio Video Interleaved)."},
      {"avi_named.mov", 1, 1, "not_a_movie", not_a_movie + "AVI (Audio Video Interleaved)."},
      {"clip.mkv", 1, 1, "not_a_movie", not_a_movie + "Matroska / WebM."},
      {"clip.mpg", 1, 1, "not_a_movie", not_a_movie + "MPEG-PS (MPEG-2 Program Stream)."},
      {"tone.wav", 1, 1, "not_a_movie", not_a_movie + "WAV / WAVE (Waveform Audio)."},
  };
  for (const Case& c : cases) ExpectReason(FixturePath(c.file), c);
}

// Another process holds the file without sharing it (root reads any file,
// so a permission would not do).
TEST(Reasons, AFileAnotherProcessHoldsExclusively) {
  std::string path = CopyFixture("mjpeg.mov", "reason_locked.mov");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ExpectReason(path,
               {"reason_locked.mov", 1, 1, "unreadable", "The file cannot be read: " + SharingViolationText() + "."});
  CloseHandle(held);
  ToolRun unheld = RunJson("play", path);
  EXPECT_EQ(unheld.code, 0u) << unheld.json;
  EXPECT_EQ(Member(unheld.json, "reason_code"), "null");
}

// The reader's refusal names the atom and its offset, as probe --atoms
// shows that atom.
TEST(Reasons, ADamagedMovie) {
  std::string path = CopyFixture("mjpeg.mov", "reason_damaged.mov");
  std::string bytes = ReadFileBytes(path);
  size_t stsz = bytes.find("stsz") - 4;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const unsigned char count[4] = {0x7F, 0xFF, 0xFF, 0xFF};
  DWORD written = 0;
  SetFilePointer(file, static_cast<LONG>(stsz + 16), nullptr, FILE_BEGIN);
  WriteFile(file, count, 4, &written, nullptr);
  CloseHandle(file);
  ExpectReason(path, {"reason_damaged.mov", 1, 1, "damaged",
                      "The movie is damaged: stsz entry count exceeds the atom (the 'stsz' atom at offset " +
                          std::to_string(stsz) + ")."});
  std::string atoms = RunProbe("--atoms " + path);
  size_t line = atoms.find(" @" + std::to_string(stsz) + " ");
  ASSERT_NE(line, std::string::npos) << atoms;
  EXPECT_NE(atoms.rfind("stsz ", line), std::string::npos);
  EXPECT_EQ(atoms.find('\n', atoms.rfind("stsz ", line)), atoms.find('\n', line));
  EXPECT_NE(atoms.find("failed: stsz entry count exceeds the atom"), std::string::npos) << atoms;
}

// A stream left out: the run goes on with the other, exits 0, and says so
// once; the stream's object is null.
TEST(Reasons, StreamsThatDoNotPlay) {
  const Case cases[] = {
      {"unknown_codec.mov", 1, 0, "unsupported_codec",
       "The video codec 'abcd' (\"Lavc rawvideo\") is not one this build of Kestrel decodes."},
      {"unknown_sound.mov", 0, 0, "unsupported_codec",
       "The sound codec 'wxyz' is not one this build of Kestrel decodes. The video still plays."},
      {"encrypted.mp4", 1, 0, "encrypted",
       "The video samples are encrypted ('encv', protecting 'avc1' (H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)): "
       "Kestrel plays no protected media. The sound samples are encrypted ('enca', protecting 'mp4a' (AAC "
       "(Advanced Audio Coding))): Kestrel plays no protected media."},
      {"wide_video.mov", 0, 0, "media_type_refused",
       "The Video pin refused UYVY 16400x48 (E_FAIL). The sound still plays."},
      {"neither.mov", 1, 0, "no_playable_stream", "The movie has no video or sound track."},
  };
  for (const Case& c : cases) ExpectReason(FixturePath(c.file), c);

  ToolRun sound = RunJson("play", FixturePath("unknown_sound.mov"));
  EXPECT_EQ(Member(sound.json, "result"), "EC_COMPLETE");
  EXPECT_EQ(Member(sound.json, "audio"), "null");
  EXPECT_NE(Member(sound.json, "video").find("\"samples\": 10"), std::string::npos) << sound.json;
  ToolRun wide = RunJson("play", FixturePath("wide_video.mov"));
  EXPECT_EQ(Member(wide.json, "video"), "null");
  EXPECT_NE(Member(wide.json, "audio").find("\"rate\": 8000"), std::string::npos) << wide.json;
  for (const char* tool : {"info", "probe"}) {
    ToolRun r = RunJson(tool, FixturePath("unknown_sound.mov"));
    EXPECT_EQ(Member(r.json, "audio"), "null") << tool;
    EXPECT_NE(Member(r.json, "video").find("\"width\": 64"), std::string::npos) << tool << r.json;
  }
}

TEST(Reasons, NoneWhenTheMoviePlaysWhole) {
  for (const char* tool : {"play", "info", "probe"}) {
    ToolRun r = RunJson(tool, FixturePath("h264_bframes.mov"));
    EXPECT_EQ(r.code, 0u) << tool;
    EXPECT_EQ(Member(r.json, "reason"), "null") << tool << r.json;
    EXPECT_EQ(Member(r.json, "reason_code"), "null") << tool;
    EXPECT_EQ(r.errors.find(std::string("kestrel-") + tool + ": "), std::string::npos) << r.errors;
  }
}

}  // namespace
}  // namespace kestrel::test
