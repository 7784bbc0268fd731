// Temporary: every movie operation answers failure until the reader lands.
#include "qtmedia.h"
#include "qtmedia_engine.h"

#define QTM_STUB(ret, name, params, args, fail) \
  extern "C" __attribute__((visibility("default"))) ret name params { return fail; }
QTM_INIT_FUNCTIONS(QTM_STUB)
QTM_MOVIE_FUNCTIONS(QTM_STUB)

extern "C" void qtm_SetPathTranslator(QtmPathTranslate, QtmPathFree) {}
