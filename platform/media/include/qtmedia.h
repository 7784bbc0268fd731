// The media engine's interface: QuickTime's names, records and constants for
// the operations Kestrel calls. The engine implements them natively; on
// Windows they are resolved by name from the engine library at run time.
#ifndef QTMEDIA_H
#define QTMEDIA_H

#include "qtmedia/audio.h"
#include "qtmedia/base.h"
#include "qtmedia/engine.h"
#include "qtmedia/icm.h"
#include "qtmedia/movies.h"
#include "qtmedia/userdata.h"

// Every exported operation: X(return type, name, (parameters), (arguments), failure value).
#define QTM_ALL_FUNCTIONS(X) \
  QTM_INIT_FUNCTIONS(X)      \
  QTM_CALL_FUNCTIONS(X)

// The operations apart from start-up and shut-down.
#define QTM_CALL_FUNCTIONS(X) \
  QTM_MOVIE_FUNCTIONS(X)      \
  QTM_USERDATA_FUNCTIONS(X)   \
  QTM_AUDIO_FUNCTIONS(X)      \
  QTM_ICM_FUNCTIONS(X)        \
  QTM_ENGINE_FUNCTIONS(X)

// Every exported data symbol: X(type, name). GetProcAddress gives its address.
#define QTM_ALL_DATA(X) \
  QTM_USERDATA_DATA(X)  \
  QTM_AUDIO_DATA(X)     \
  QTM_ICM_DATA(X)

#define QTM_DECLARE_FUNCTION(ret, name, params, args, fail) QTM_EXTERN_C ret QTMAPI name params;
QTM_ALL_FUNCTIONS(QTM_DECLARE_FUNCTION)
#undef QTM_DECLARE_FUNCTION

#define QTM_DECLARE_DATA(type, name) QTM_EXTERN_C type name;
QTM_ALL_DATA(QTM_DECLARE_DATA)
#undef QTM_DECLARE_DATA

// Name of the engine library the Windows side loads.
#define QTM_LIBRARY_NAME "kestrelmedia.dll"

#endif
