// Temporary: every movie operation answers failure until the reader lands.
#include "qtmedia.h"
#include "qtmedia_engine.h"

#define QTM_STUB(ret, name, params, args, fail) \
  extern "C" __attribute__((visibility("default"))) ret name params { return fail; }
extern "C" __attribute__((visibility("default"))) OSErr InitializeQTML(int32_t) { return noErr; }
extern "C" __attribute__((visibility("default"))) void TerminateQTML() {}
QTM_MOVIE_FUNCTIONS(QTM_STUB)

extern "C" void qtm_SetPathTranslator(QtmPathTranslate, QtmPathFree) {}
