// Engine entry points that are not QuickTime's: used by the packaging layer.
#ifndef QTMEDIA_ENGINE_H
#define QTMEDIA_ENGINE_H

#include "qtmedia/base.h"
#include "qtmedia/icm.h"

typedef char* (*QtmPathTranslate)(const char* foreign_path);
typedef void (*QtmPathFree)(char* path);

// Installs the function that turns a path given to FSMakeFSSpec/OpenMovieFile
// (a Windows path under Wine) into a native path. Without one, paths are
// used as they are.
QTM_EXTERN_C void qtm_SetPathTranslator(QtmPathTranslate translate, QtmPathFree release);

// The atom tree of a QuickTime or ISO base media file as text, a line per
// atom with the fields of those the movie reader understands (what
// kestrel-probe --atoms prints). *text receives a handle the caller disposes
// of with DisposeHandle, also when the reader refuses the file (its last
// line then says why). Returns what opening the movie would: noErr,
// badFileFormat, invalidMovie ...; fnfErr when the file does not open.
QTM_EXTERN_C OSErr qtm_DumpAtoms(const char* path, Handle* text);

// Converts a picture a session emitted and nobody has locked yet straight
// into the caller's memory: size bytes at base, rows bytes_per_row apart,
// top row first. kCVReturnSuccess when it did; kCVReturnError when it does
// not go this way (already converted, another conversion, a row that is not
// a multiple of 64 bytes, too little room): lock the buffer and copy its rows
// instead. The buffer itself is left as it was.
QTM_EXTERN_C CVReturn qtm_PixelBufferConvertInto(CVPixelBufferRef buffer, void* base, size_t bytes_per_row,
                                                 size_t size);

#endif
