#ifndef QTMEDIA_AUDIO_H
#define QTMEDIA_AUDIO_H

#include "qtmedia/movies.h"

#define QTM_AUDIO_FUNCTIONS(X)
#define QTM_AUDIO_DATA(X)

#endif
