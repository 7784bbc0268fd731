// A file of another registered kind through libavformat and the importer,
// then through the movie calls. The first byte picks the name's extension,
// which libavformat weighs when it guesses the format.
#include "fuzz_targets.h"
#include "movie_calls.h"
#include "open_movie.h"
#include "scratch_file.h"

namespace qtm::fuzz {

int FuzzImport(const uint8_t* data, size_t size) {
  static const char* const kExtensions[] = {".aif", ".caf", ".aac", ".dv", ".gsm",
                                            ".amr", ".sd2", ".wav", ".au", ".mp3"};
  if (size < 1) return 0;
  StartEngineOnce();
  const char* extension = kExtensions[data[0] % (sizeof(kExtensions) / sizeof(kExtensions[0]))];
  Movie movie = support::OpenMovieAt(WriteScratchFile(extension, data + 1, size - 1));
  ExerciseMovie(movie);
  DisposeMovie(movie);
  return 0;
}

}  // namespace qtm::fuzz
