// The probe's sections. Each gives its JSON value and its readable lines.
#ifndef KESTREL_TOOLS_PROBE_H
#define KESTREL_TOOLS_PROBE_H

#include <string>
#include <vector>

#include "common/json_writer.h"
#include "video/movie_session.h"

namespace kestrel::probe {

using namespace kestrel::tools;

struct Section {
  std::string json = "null";
  std::vector<std::string> lines;
};

// The options every mode may use.
struct Options {
  std::wstring file;  // Windows path
  bool json = false;
  double seek_seconds = -1;  // < 0: no seek
  std::string wav_out;       // --wav
  std::string frames_out;    // --out (with --frames)
  int frames = 0;            // --frames
  std::string format = "UYVY";
  int stride = 0;  // 0: natural
  int flip = 0;
  bool atoms = false;  // --atoms
};

Section ProbeVideo(MovieSession& session);
Section ProbeAudio(const Options& options);
Section ProbeUserData(const Options& options);
Section ProbeTimeCode(MovieSession& session);

// Modes that write files; each returns the process exit code.
int WriteWav(const Options& options);
int WriteFrames(MovieSession& session, const Options& options);
// Prints the file's atom tree (--atoms).
int PrintAtoms(const Options& options);

}  // namespace kestrel::probe

#endif
