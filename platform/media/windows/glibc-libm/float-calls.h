/* Included first in every FFmpeg source built for x86_64 Windows
   (scripts/windows-ffmpeg.sh). mingw-w64's math.h defines expf and powf
   inline as (float) exp (x) and (float) pow (x, y), which round otherwise
   than glibc's expf and powf about once in 1600 calls: FFmpeg calls the
   float functions, as it does on Linux, and gets glibc's (libglibcm.a).
   sinhf, coshf, tanhf and hypotf, inline there too, FFmpeg does not call.  */
#ifndef KESTREL_GLIBC_LIBM_FLOAT_CALLS_H
#define KESTREL_GLIBC_LIBM_FLOAT_CALLS_H
#include <math.h>
#define expf(x) __builtin_expf(x)
#define powf(x, y) __builtin_powf(x, y)
#endif
