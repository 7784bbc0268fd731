#ifndef QTMEDIA_USERDATA_H
#define QTMEDIA_USERDATA_H

#include "qtmedia/movies.h"

#define QTM_USERDATA_FUNCTIONS(X)
#define QTM_USERDATA_DATA(X)

#endif
