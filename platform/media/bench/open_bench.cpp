// Opening a movie of 1,000,000 video samples: the engine (open, then count
// the frames by stepping as the movie session does) against
// `ffprobe -show_streams` on the same file. Prints wall time and peak
// memory of each; the engine's run is a fresh process of its own.
//   qtmedia_open_bench [FILE]   (FILE is made when missing)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "api/records.h"
#include "movie/movie_model.h"
#include "movie_writer.h"
#include "open_movie.h"
#include "qtmedia.h"

namespace {

constexpr uint32_t kSamples = 1000000;

long PeakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void MakeMovie(const std::string& path) {
  testmovie::MovieSpec m;
  m.timescale = 600;
  testmovie::TrackSpec t;
  t.timescale = 2500;
  t.samples.reserve(kSamples);
  for (uint32_t i = 0; i < kSamples; ++i) {
    t.samples.push_back({100, 1 + (i * 7919u) % 13, i % 12 == 0, 0, (i % 3 == 0) ? 200 : 0});
  }
  t.samples_per_chunk = 8;
  t.codec = "kstr";  // a codec neither side decodes: the bench measures the opening
  m.tracks.push_back(t);
  testmovie::Bytes bytes = testmovie::Write(m);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The engine's run: prints one line.
int RunEngine(const std::string& path) {
  long before = PeakKiB();
  auto start = std::chrono::steady_clock::now();
  InitializeQTML(0);
  EnterMovies();
  OSErr err = noErr;
  Movie movie = qtm::support::OpenMovieAt(path, &err);
  if (!movie) {
    std::fprintf(stderr, "open failed: %d\n", err);
    return 1;
  }
  Media media = GetTrackMedia(GetMovieIndTrackType(movie, 1, VideoMediaType, movieTrackMediaType));
  int64_t frames = qtm::support::CountSampleTimes(media);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long peak = PeakKiB();
  size_t table = media->track->samples->MemoryBytes();
  std::printf(
      "engine : %.3f s, peak %ld KiB (+%.1f bytes/sample over the %ld KiB before), %lld frames, "
      "sample table %.2f bytes/sample\n",
      seconds, peak, (peak - before) * 1024.0 / kSamples, before, static_cast<long long>(frames),
      double(table) / kSamples);
  DisposeMovie(movie);
  return frames == kSamples ? 0 : 1;
}

void RunFfprobe(const std::string& path) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", 1);
    dup2(null, 1);
    execlp("ffprobe", "ffprobe", "-v", "error", "-show_streams", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("ffprobe: %.3f s, peak %ld KiB (exit %d)\n", seconds, u.ru_maxrss, WEXITSTATUS(status));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--engine") == 0) return RunEngine(argv[2]);
  std::string path = argc > 1 ? argv[1] : "/tmp/qtm_bench_1m.mov";
  if (access(path.c_str(), R_OK) != 0) MakeMovie(path);
  std::printf("%s: %u video samples\n", path.c_str(), kSamples);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    execl("/proc/self/exe", argv[0], "--engine", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunFfprobe(path);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
