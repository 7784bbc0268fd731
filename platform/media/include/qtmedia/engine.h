// Engine entry points that QuickTime does not have, beside its calls: what
// QuickTime's records cannot carry (wide paths of any length), and what only
// this engine does. Listed like QuickTime's calls and loaded the same way.
#ifndef QTMEDIA_ENGINE_H
#define QTMEDIA_ENGINE_H

#include "qtmedia/base.h"
#include "qtmedia/icm.h"

// The interface this header describes. Raise it whenever a call, record or
// constant of the engine's interface changes: the filter refuses an engine
// that answers another.
#define QTM_INTERFACE_VERSION 3

// X(return type, name, (parameters), (arguments), value when the engine is missing)
//
// qtm_GetInterfaceVersion: QTM_INTERFACE_VERSION as the engine was built.
//
// qtm_OpenMovieFileW: OpenMovieFile for a null-terminated UTF-16 path of
// any length and characters (FSSpec's name holds 255 bytes of the ANSI code
// page). Relative paths are taken from the current folder. fnfErr when the
// file does not open.
//
// qtm_DumpAtoms: the atom tree of a QuickTime or ISO base media file as
// text, a line per atom with the fields of those the movie reader
// understands (what kestrel-probe --atoms prints). *text receives a handle
// the caller disposes of with DisposeHandle, also when the reader refuses
// the file (its last line then says why). Returns what opening the movie
// would: noErr, badFileFormat, invalidMovie ...; fnfErr when the file does
// not open.
//
// qtm_PixelBufferConvertInto: converts a picture a session emitted and
// nobody has locked yet straight into the caller's memory: size bytes at
// base, rows bytes_per_row apart, top row first. kCVReturnSuccess when it
// did; kCVReturnError when it does not go this way (already converted,
// another conversion, a row that is not a multiple of 64 bytes, too little
// room): lock the buffer and copy its rows instead. The buffer itself is
// left as it was.
//
// qtm_GetMediaExtendedLanguageTag: the media's extended language tag
// ('elng', BCP 47, as "en-US") into tag, zero-terminated, at most size - 1
// characters: noErr; userDataItemNotFound when the media has none (its
// language is GetMediaLanguage's alone); paramErr without a media or room.
#define QTM_ENGINE_FUNCTIONS(X)                                                                                     \
  X(int32_t, qtm_GetInterfaceVersion, (void), (), 0)                                                                \
  X(OSErr, qtm_OpenMovieFileW, (const UniChar* path, int16_t* resRefNum), (path, resRefNum), qtmlUninitialized)     \
  X(OSErr, qtm_DumpAtoms, (const UniChar* path, Handle* text), (path, text), qtmlUninitialized)                     \
  X(CVReturn, qtm_PixelBufferConvertInto, (CVPixelBufferRef buffer, void* base, size_t bytes_per_row, size_t size), \
    (buffer, base, bytes_per_row, size), kCVReturnError)                                                            \
  X(OSErr, qtm_GetMediaExtendedLanguageTag, (Media theMedia, char* tag, size_t size), (theMedia, tag, size),        \
    qtmlUninitialized)

#endif
