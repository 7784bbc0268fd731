// The player's words to a person: one progress line on the terminal,
// rewritten in place, and the summary at the end.
#ifndef KESTREL_TOOLS_PLAY_PROGRESS_H
#define KESTREL_TOOLS_PLAY_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::play {

struct PlayFigures {
  double position = 0, duration = 0;  // seconds on the movie's timeline
  uint64_t frames = 0;
  double audio_seconds = 0;
  double elapsed = 0;  // seconds since the graph ran
};

// "  1.2 / 20.0 s [#####.....]  30 frames  25.0 fps  audio 1.0 s"
std::string ProgressText(const PlayFigures& f);

// A line on stderr updated in place, only when stderr is a terminal.
class ProgressLine {
 public:
  ProgressLine();
  bool Enabled() const { return m_enabled; }
  void Update(const PlayFigures& f);
  // Clears the line so what follows starts on a clean one.
  void Finish();

 private:
  bool m_enabled;
  size_t m_width = 0;
};

}  // namespace kestrel::play

#endif
