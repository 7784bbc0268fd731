// Per-thread error state of the movie and memory calls.
#ifndef QTMEDIA_API_API_STATE_H
#define QTMEDIA_API_API_STATE_H

#include <string>

#include "qtmedia.h"

namespace qtm {

// Both return err, so that a call can end with "return SetMoviesError(x);".
OSErr SetMoviesError(OSErr err);
OSErr SetMemError(OSErr err);
OSErr GetMemError();

}  // namespace qtm

#endif
