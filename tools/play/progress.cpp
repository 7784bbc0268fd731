#include "play/progress.h"

#include <io.h>

#include <algorithm>

namespace kestrel::play {

std::string ProgressText(const PlayFigures& f) {
  constexpr int kBar = 20;
  double share = f.duration > 0 ? std::clamp(f.position / f.duration, 0.0, 1.0) : 0.0;
  int filled = static_cast<int>(share * kBar + 0.5);
  std::string bar = std::string(filled, '#') + std::string(kBar - filled, '.');
  double fps = f.elapsed > 0 ? static_cast<double>(f.frames) / f.elapsed : 0.0;
  char text[160];
  snprintf(text, sizeof(text), "%6.1f / %.1f s [%s] %llu frames %6.1f fps  audio %.1f s", f.position, f.duration,
           bar.c_str(), static_cast<unsigned long long>(f.frames), fps, f.audio_seconds);
  return text;
}

ProgressLine::ProgressLine() : m_enabled(_isatty(_fileno(stderr)) != 0) {}

void ProgressLine::Update(const PlayFigures& f) {
  if (!m_enabled) return;
  std::string text = ProgressText(f);
  // Spaces over what a longer line left behind.
  size_t width = text.size();
  if (width < m_width) text.append(m_width - width, ' ');
  m_width = std::max(m_width, width);
  fprintf(stderr, "\r%s", text.c_str());
  fflush(stderr);
}

void ProgressLine::Finish() {
  if (!m_enabled || m_width == 0) return;
  fprintf(stderr, "\r%s\r", std::string(m_width, ' ').c_str());
  fflush(stderr);
  m_width = 0;
}

}  // namespace kestrel::play
