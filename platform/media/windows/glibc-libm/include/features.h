/* glibc's features.h, for the internal headers that ask for it: the
   compiler test only.  */
#ifndef KESTREL_GLIBC_FEATURES_H
#define KESTREL_GLIBC_FEATURES_H
#include <libc-symbols.h>
#endif
