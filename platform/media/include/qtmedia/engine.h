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

// Why a movie, or one of its streams, does not play (qtm_DiagnoseMovie).
enum {
  qtmPlays = 0,
  qtmNotFound = 1,          // nothing at the path
  qtmIsDirectory = 2,       // a folder
  qtmUnreadable = 3,        // the system does not let the file be read
  qtmEmpty = 4,             // a file of no bytes
  qtmNotAMovie = 5,         // not a kind the engine opens
  qtmDamaged = 6,           // the reader refused it, or a stream's description
  qtmUnsupportedCodec = 7,  // no decoder in this build for the stream's format
  qtmEncrypted = 8,         // 'encv' or 'enca' samples
  qtmNoPlayableStream = 9   // neither a video nor a sound track
};

#define QTM_DIAGNOSIS_TEXT_BYTES 512

typedef struct QtmStreamDiagnosis {
  int32_t present;  // 1 when the movie has a track of this kind
  int32_t verdict;  // qtmPlays when its samples can be decoded
  // Why not, one sentence; empty when it plays (UTF-8, zero-terminated).
  char reason[QTM_DIAGNOSIS_TEXT_BYTES];
  // What its sample description says: "'avc1' (H.264 / AVC ...), 320x240".
  char format[QTM_DIAGNOSIS_TEXT_BYTES];
} QtmStreamDiagnosis;

typedef struct QtmMovieDiagnosis {
  // The movie as a whole: qtmPlays when it opens and has a video or a sound
  // track (its streams say the rest), else why it does not open.
  int32_t verdict;
  char reason[QTM_DIAGNOSIS_TEXT_BYTES];
  QtmStreamDiagnosis video;  // the first video track, as the movie calls find it
  QtmStreamDiagnosis sound;  // the sound track audio extraction takes
} QtmMovieDiagnosis;

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
// qtm_DiagnoseMovie: why the movie at a UTF-16 path (as qtm_OpenMovieFileW
// takes it) does not play, read the way the movie calls read it: the file
// and its first bytes, the reader's refusal with the atom and its offset,
// each stream's sample description and whether its decoder opens. noErr
// when *diagnosis is filled in, whatever it found; paramErr without a path
// or a record.
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
  X(OSErr, qtm_DiagnoseMovie, (const UniChar* path, QtmMovieDiagnosis* diagnosis), (path, diagnosis),               \
    qtmlUninitialized)                                                                                              \
  X(CVReturn, qtm_PixelBufferConvertInto, (CVPixelBufferRef buffer, void* base, size_t bytes_per_row, size_t size), \
    (buffer, base, bytes_per_row, size), kCVReturnError)                                                            \
  X(OSErr, qtm_GetMediaExtendedLanguageTag, (Media theMedia, char* tag, size_t size), (theMedia, tag, size),        \
    qtmlUninitialized)

#endif
