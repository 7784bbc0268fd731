// The movie calls the filter makes when it opens and plays a movie, made on
// every track of one, bounded so that a run stays short whatever the file
// declares.
#ifndef QTMEDIA_FUZZ_MOVIE_CALLS_H
#define QTMEDIA_FUZZ_MOVIE_CALLS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "qtmedia.h"

namespace qtm::fuzz {

// Facts, every sample description, samples stepped through and read, sync
// samples backwards, time codes, user-data texts.
void ExerciseMovie(Movie movie);

// The time-code handler's answers at each of the times (media time).
void AskTimeCodes(MediaHandler handler, std::initializer_list<int64_t> times);

// The consumers of one sample description of a media of the given type: the
// decoder set-up for pictures, the stream format for sound, the time-code
// definition.
void ExerciseDescription(OSType media_type, Handle description);

}  // namespace qtm::fuzz

#endif
