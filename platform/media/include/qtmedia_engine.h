// Engine entry points that are not QuickTime's: used by the packaging layer.
#ifndef QTMEDIA_ENGINE_H
#define QTMEDIA_ENGINE_H

#include "qtmedia/base.h"

typedef char* (*QtmPathTranslate)(const char* foreign_path);
typedef void (*QtmPathFree)(char* path);

// Installs the function that turns a path given to FSMakeFSSpec/OpenMovieFile
// (a Windows path under Wine) into a native path. Without one, paths are
// used as they are.
QTM_EXTERN_C void qtm_SetPathTranslator(QtmPathTranslate translate, QtmPathFree release);

#endif
