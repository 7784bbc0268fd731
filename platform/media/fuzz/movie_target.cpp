// A QuickTime or ISO movie file through the movie calls.
#include "fuzz_targets.h"
#include "movie_calls.h"
#include "open_movie.h"
#include "scratch_file.h"

namespace qtm::fuzz {

int FuzzMovie(const uint8_t* data, size_t size) {
  StartEngineOnce();
  Movie movie = support::OpenMovieAt(WriteScratchFile(".mov", data, size));
  ExerciseMovie(movie);
  DisposeMovie(movie);
  return 0;
}

}  // namespace qtm::fuzz
