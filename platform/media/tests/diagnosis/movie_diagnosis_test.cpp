// Why a movie does not play, as the engine says it: one case per reason,
// each with its exact sentence. The atom and offset of a refusal are those
// of the bytes the test damaged.
#include "diagnosis/movie_diagnosis.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "movie/data_source.h"

namespace {

using qtm::DiagnoseMovie;
using qtm::MovieDiagnosis;

std::string FixturePath(const std::string& name) {
  const char* dir = std::getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

std::vector<char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// A scratch file (or folder) named NAME, gone with the test.
class Scratch {
 public:
  explicit Scratch(const std::string& name) {
    char dir[] = "/tmp/qtm_diagnosis_XXXXXX";
    dir_ = mkdtemp(dir) ? dir : "/tmp";
    path_ = dir_ + "/" + name;
  }
  ~Scratch() {
    unlink(path_.c_str());
    rmdir(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& Write(const std::vector<char>& bytes) {
    std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
};

// Offset of the first atom of the type in bytes (its header).
size_t AtomOffset(const std::vector<char>& bytes, const char* type, size_t from = 0) {
  std::string text(bytes.begin(), bytes.end());
  size_t at = text.find(type, from);
  return at == std::string::npos ? at : at - 4;
}

void PutBE32(std::vector<char>* bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

TEST(MovieDiagnosis, TheFileItself) {
  MovieDiagnosis d = DiagnoseMovie(FixturePath("no_such_file.mov"));
  EXPECT_EQ(d.verdict, qtmNotFound);
  EXPECT_EQ(d.reason, "There is no such file.");
  EXPECT_EQ(DiagnoseMovie("").verdict, qtmNotFound);

  Scratch folder("folder.mov");
  ASSERT_EQ(mkdir(folder.path().c_str(), 0755), 0);
  d = DiagnoseMovie(folder.path());
  EXPECT_EQ(d.verdict, qtmIsDirectory);
  EXPECT_EQ(d.reason, "It is a folder, not a movie file.");

  for (const char* name : {"empty.mov", "empty.aif"}) {
    Scratch empty(name);
    d = DiagnoseMovie(empty.Write({}));
    EXPECT_EQ(d.verdict, qtmEmpty) << name;
    EXPECT_EQ(d.reason, "The file is empty.") << name;
  }
  EXPECT_FALSE(d.video.present || d.sound.present);
}

// What the system refuses ends the sentence in its own words. (Another
// program holding the file without sharing is Windows' own refusal: the
// tools' tests show it under Wine.)
TEST(MovieDiagnosis, AFileTheSystemDoesNotLetBeRead) {
  MovieDiagnosis d = DiagnoseMovie("/tmp/" + std::string(300, 'x') + ".mov");
  EXPECT_EQ(d.verdict, qtmUnreadable);
  EXPECT_EQ(d.reason, "The file cannot be read: File name too long.");
  d = DiagnoseMovie("/dev/null");
  EXPECT_EQ(d.verdict, qtmUnreadable);
  EXPECT_EQ(d.reason, "The file cannot be read: not a regular file.");
}

// Told by the first bytes, whatever the name says.
TEST(MovieDiagnosis, FilesThatAreNotMovies) {
  struct Case {
    const char* file;
    const char* reason;
  } cases[] = {
      {"not_a_movie.mov", "It is not a movie of a kind Kestrel opens: by its first bytes, text."},
      {"notes.txt", "It is not a movie of a kind Kestrel opens: by its first bytes, text."},
      {"clip.avi", "It is not a movie of a kind Kestrel opens: by its first bytes, AVI (Audio Video Interleaved)."},
      {"avi_named.mov",
       "It is not a movie of a kind Kestrel opens: by its first bytes, AVI (Audio Video Interleaved)."},
      {"clip.mkv", "It is not a movie of a kind Kestrel opens: by its first bytes, Matroska / WebM."},
      {"clip.mpg", "It is not a movie of a kind Kestrel opens: by its first bytes, MPEG-PS (MPEG-2 Program Stream)."},
      {"tone.wav", "It is not a movie of a kind Kestrel opens: by its first bytes, WAV / WAVE (Waveform Audio)."},
  };
  for (const Case& c : cases) {
    MovieDiagnosis d = DiagnoseMovie(FixturePath(c.file));
    EXPECT_EQ(d.verdict, qtmNotAMovie) << c.file;
    EXPECT_EQ(d.reason, c.reason) << c.file;
  }
  // Bytes no probe knows: shown as they are.
  Scratch unknown("unknown.mov");
  MovieDiagnosis d = DiagnoseMovie(unknown.Write({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(d.verdict, qtmNotAMovie);
  EXPECT_EQ(d.reason, "It is not a movie of a kind Kestrel opens: its first bytes are 00 01 02 03 04 05 06 07.");
  // An AIFF file named as a QuickTime movie.
  Scratch aiff("sound.mov");
  d = DiagnoseMovie(aiff.Write(ReadBytes(FixturePath("audio16.aif"))));
  EXPECT_EQ(d.verdict, qtmNotAMovie);
  EXPECT_EQ(d.reason, "It is Audio IFF, not the QuickTime or MPEG-4 movie its name says.");
}

// The reader's refusal, with the atom it was reading and its offset.
TEST(MovieDiagnosis, ADamagedMovieNamesTheAtomAndItsOffset) {
  std::vector<char> bytes = ReadBytes(FixturePath("mjpeg.mov"));
  ASSERT_FALSE(bytes.empty());
  const size_t stsz = AtomOffset(bytes, "stsz");
  PutBE32(&bytes, stsz + 16, 0x7FFFFFFF);  // sample count, after version, flags and the common size
  Scratch counted("counted.mov");
  MovieDiagnosis d = DiagnoseMovie(counted.Write(bytes));
  EXPECT_EQ(d.verdict, qtmDamaged);
  EXPECT_EQ(d.reason, "The movie is damaged: stsz entry count exceeds the atom (the 'stsz' atom at offset " +
                          std::to_string(stsz) + ").");

  // A child header too small for itself: the header's own offset.
  bytes = ReadBytes(FixturePath("mjpeg.mov"));
  const size_t stts = AtomOffset(bytes, "stts");
  PutBE32(&bytes, stts, 4);
  Scratch header("header.mov");
  d = DiagnoseMovie(header.Write(bytes));
  EXPECT_EQ(d.verdict, qtmDamaged);
  EXPECT_EQ(d.reason, "The movie is damaged: atom size smaller than its header (the 'stts' atom at offset " +
                          std::to_string(stts) + ").");

  // Read whole, then refused by the movie session: a video time scale of 0.
  bytes = ReadBytes(FixturePath("mjpeg.mov"));
  const size_t mdhd = AtomOffset(bytes, "mdhd");
  PutBE32(&bytes, mdhd + 20, 0);  // version 0: time scale after the two dates
  Scratch scale("scale.mov");
  d = DiagnoseMovie(scale.Write(bytes));
  EXPECT_EQ(d.verdict, qtmPlays);
  EXPECT_EQ(d.video.verdict, qtmDamaged);
  EXPECT_EQ(d.video.reason,
            "The video track's time scale is 0 (the 'mdhd' atom at offset " + std::to_string(mdhd) + ").");

  // A movie cut in its media data, before its movie atom: the atom the end
  // of the file cut short.
  bytes = ReadBytes(FixturePath("mjpeg.mov"));
  const size_t mdat = AtomOffset(bytes, "mdat");
  bytes.resize(mdat + 100);
  Scratch cut("cut.mov");
  d = DiagnoseMovie(cut.Write(bytes));
  EXPECT_EQ(d.verdict, qtmDamaged);
  EXPECT_EQ(d.reason, "The movie is damaged: file cut short before its movie atom (the 'mdat' atom at offset " +
                          std::to_string(mdat) + ").");
  // Whole atoms and no movie atom among them.
  bytes.resize(mdat);
  Scratch bare("bare.mov");
  d = DiagnoseMovie(bare.Write(bytes));
  EXPECT_EQ(d.reason, "The movie is damaged: no movie atom.");

  // A first atom whose header is broken is a damaged movie, not another kind.
  bytes = ReadBytes(FixturePath("mjpeg.mov"));
  PutBE32(&bytes, 0, 7);
  Scratch first("first.mov");
  d = DiagnoseMovie(first.Write(bytes));
  EXPECT_EQ(d.verdict, qtmDamaged);
  EXPECT_EQ(d.reason, "The movie is damaged: its first atom's header is broken (the 'ftyp' atom at offset 0).");

  // Sound needs the movie's time scale.
  bytes = ReadBytes(FixturePath("h264_bframes.mov"));
  const size_t mvhd = AtomOffset(bytes, "mvhd");
  PutBE32(&bytes, mvhd + 20, 0);
  Scratch movie_scale("movie_scale.mov");
  d = DiagnoseMovie(movie_scale.Write(bytes));
  EXPECT_EQ(d.video.verdict, qtmPlays);
  EXPECT_EQ(d.sound.verdict, qtmDamaged);
  EXPECT_EQ(d.sound.reason, "The movie's time scale is 0 (the 'mvhd' atom at offset " + std::to_string(mvhd) + ").");

  // A registered kind cut short: damaged, not another kind.
  bytes = ReadBytes(FixturePath("audio16.aif"));
  bytes.resize(12);
  Scratch aiff("cut.aif");
  d = DiagnoseMovie(aiff.Write(bytes));
  EXPECT_EQ(d.verdict, qtmDamaged);
  EXPECT_EQ(d.reason, "The file is damaged: it begins as Audio IFF but does not open.");
}

TEST(MovieDiagnosis, StreamsThatDoNotDecode) {
  MovieDiagnosis d = DiagnoseMovie(FixturePath("unknown_codec.mov"));
  EXPECT_EQ(d.verdict, qtmPlays);
  EXPECT_TRUE(d.video.present);
  EXPECT_EQ(d.video.verdict, qtmUnsupportedCodec);
  EXPECT_EQ(d.video.reason, "The video codec 'abcd' (\"Lavc rawvideo\") is not one this build of Kestrel decodes.");
  EXPECT_FALSE(d.sound.present);

  d = DiagnoseMovie(FixturePath("unknown_sound.mov"));
  EXPECT_EQ(d.video.verdict, qtmPlays);
  EXPECT_EQ(d.video.format, "'jpeg' (Motion JPEG), 64x48");
  EXPECT_EQ(d.sound.verdict, qtmUnsupportedCodec);
  EXPECT_EQ(d.sound.reason, "The sound codec 'wxyz' is not one this build of Kestrel decodes.");

  d = DiagnoseMovie(FixturePath("encrypted.mp4"));
  EXPECT_EQ(d.video.verdict, qtmEncrypted);
  EXPECT_EQ(d.video.reason,
            "The video samples are encrypted ('encv', protecting 'avc1' (H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)): "
            "Kestrel plays no protected media.");
  EXPECT_EQ(d.sound.verdict, qtmEncrypted);
  EXPECT_EQ(d.sound.reason,
            "The sound samples are encrypted ('enca', protecting 'mp4a' (AAC (Advanced Audio Coding))): Kestrel plays "
            "no protected media.");

  d = DiagnoseMovie(FixturePath("neither.mov"));
  EXPECT_EQ(d.verdict, qtmNoPlayableStream);
  EXPECT_EQ(d.reason, "The movie has no video or sound track.");
}

// What plays whole says nothing; its streams say what they are.
TEST(MovieDiagnosis, MoviesThatPlay) {
  for (const char* file : {"h264_bframes.mov", "audio16.aif", "dv.dv", "wide_video.mov"}) {
    MovieDiagnosis d = DiagnoseMovie(FixturePath(file));
    EXPECT_EQ(d.verdict, qtmPlays) << file;
    EXPECT_TRUE(d.reason.empty()) << file;
    for (const qtm::StreamDiagnosis* s : {&d.video, &d.sound}) {
      EXPECT_EQ(s->verdict, qtmPlays) << file << " " << s->reason;
      EXPECT_TRUE(s->reason.empty()) << file;
    }
  }
  MovieDiagnosis d = DiagnoseMovie(FixturePath("h264_bframes.mov"));
  EXPECT_EQ(d.video.format, "'avc1' (H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10), 320x240");
  EXPECT_EQ(d.sound.format.rfind("'", 0), 0u) << d.sound.format;
  EXPECT_NE(d.sound.format.find(", 44100 Hz, 1 channel"), std::string::npos) << d.sound.format;
}

}  // namespace
