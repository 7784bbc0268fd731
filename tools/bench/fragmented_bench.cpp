// Opens a long fragmented movie as a file load does (the movie session with
// its facts, the audio extractor, the user data: three opens of the file)
// and prints the best time of each over three loads; then seeks video and
// sound near the end and prints the time to the first frame and the first
// second of sound. The frame is written to OUT (UYVY, tight rows) for
// comparison with ffmpeg's.
//   kestrel-bench-fragmented FILE SECONDS OUT
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/audio_extractor.h"
#include "bench/bench_support.h"
#include "movie/user_data_catalog.h"
#include "video/movie_session.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: kestrel-bench-fragmented FILE SECONDS OUT\n");
    return 2;
  }
  const char* path = argv[1];
  const int64_t position = static_cast<int64_t>(atof(argv[2]) * 1e7);
  if (!kestrel::bench::StartMediaEngine()) return 1;
  // The opens of a load, three times: the best of each is printed.
  const int kLoads = 3;
  double video_open = 1e9, audio_open = 1e9, user_data = 1e9, load = 1e9;
  kestrel::MovieSession session;
  kestrel::AudioExtractor audio;
  for (int i = 0; i < kLoads; ++i) {
    session.Close();
    audio.Close();
    kestrel::bench::Stopwatch all;
    kestrel::bench::Stopwatch watch;
    if (session.Open(path) != S_OK) {
      fprintf(stderr, "cannot open %s\n", path);
      return 1;
    }
    video_open = std::min(video_open, watch.Seconds());
    watch.Restart();
    if (audio.Open(path) != S_OK) {
      fprintf(stderr, "no sound in %s\n", path);
      return 1;
    }
    audio_open = std::min(audio_open, watch.Seconds());
    watch.Restart();
    kestrel::UserDataCatalog catalog;
    catalog.ReadUserData(path);
    user_data = std::min(user_data, watch.Seconds());
    load = std::min(load, all.Seconds());
  }
  int64_t duration = 0, audio_duration = 0;
  uint32_t frames = 0;
  double rate = 0;
  int32_t width = 0, height = 0;
  session.GetDuration(&duration);
  session.GetFrameCount(&frames);
  session.GetFrameRate(&rate);
  session.GetDimensions(&width, &height);
  audio.GetDuration(&audio_duration);
  printf("kestrel, best of %d loads:\n", kLoads);
  printf("kestrel movie session open with its facts: %.3f s (%dx%d, %u frames, %.3f frames per second, %.3f s)\n",
         video_open, width, height, frames, rate, duration / 1e7);
  printf("kestrel audio extractor open: %.3f s (%.3f s of sound)\n", audio_open, audio_duration / 1e7);
  printf("kestrel user data read: %.3f s\n", user_data);
  printf("kestrel all three opens of a load: %.3f s\n", load);

  if (session.CreateDecoder(0x32767579 /* '2vuy' */) != S_OK) {
    fprintf(stderr, "no decoder for %s\n", path);
    return 1;
  }
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
  int64_t start = 0, stop = 0;
  kestrel::bench::Stopwatch watch;
  session.SeekTo(position);
  HRESULT hr = session.ProduceFrame(frame.data(), frame.size(), &start, &stop);
  double video_seek = watch.Seconds();
  if (hr != S_OK) {
    fprintf(stderr, "no frame after a seek to %.3f s: 0x%08lx\n", position / 1e7, static_cast<unsigned long>(hr));
    return 1;
  }
  printf("kestrel video seek to %.3f s and its frame: %.3f s (frame at %.4f s)\n", position / 1e7, video_seek,
         start / 1e7);
  if (FILE* out = fopen(argv[3], "wb")) {
    fwrite(frame.data(), 1, frame.size(), out);
    fclose(out);
  }

  WAVEFORMATEX wf{};
  audio.GetWaveFormat(&wf);
  std::vector<BYTE> second(wf.nAvgBytesPerSec ? wf.nAvgBytesPerSec : 1);
  uint32_t bytes = 0;
  watch.Restart();
  audio.Seek(position);
  hr = audio.Fill(second.data(), static_cast<uint32_t>(second.size()), &bytes, &start, &stop);
  double audio_seek = watch.Seconds();
  if (hr != S_OK) {
    fprintf(stderr, "no sound after a seek to %.3f s: 0x%08lx\n", position / 1e7, static_cast<unsigned long>(hr));
    return 1;
  }
  printf("kestrel audio seek to %.3f s and its first second: %.3f s (sound from %.4f s)\n", position / 1e7, audio_seek,
         start / 1e7);
  ExitMovies();
  return 0;
}
