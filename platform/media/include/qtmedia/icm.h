#ifndef QTMEDIA_ICM_H
#define QTMEDIA_ICM_H

#include "qtmedia/movies.h"

#define QTM_ICM_FUNCTIONS(X)
#define QTM_ICM_DATA(X)

#endif
