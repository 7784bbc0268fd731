// Per-thread error state of the movie and memory calls, and the movie
// files they have open.
#ifndef QTMEDIA_API_API_STATE_H
#define QTMEDIA_API_API_STATE_H

#include <string>

#include "qtmedia.h"

namespace qtm {

// Both return err, so that a call can end with "return SetMoviesError(x);".
OSErr SetMoviesError(OSErr err);
OSErr SetMemError(OSErr err);
OSErr GetMemError();

// Opens the file at a UTF-8 path for the movie calls and gives it a
// reference number (OpenMovieFile, qtm_OpenMovieFileW).
OSErr OpenMovieFilePath(const std::string& path, int16_t* resRefNum);

}  // namespace qtm

#endif
