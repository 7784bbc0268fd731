/* SVID error handling as glibc's libm has it for programs linked since
   glibc 2.27: the wrappers of the default versions of acos, asin, atan2,
   cosh, log10, sinh and their float forms are the compatibility ones, and
   behave as _LIB_VERSION == _POSIX_ without a matherr (errno, no
   message). Replaces math/math-svid-compat.h, whose names clash with
   mingw-w64's math.h.  */
#ifndef KESTREL_GLIBC_MATH_SVID_COMPAT_H
#define KESTREL_GLIBC_MATH_SVID_COMPAT_H
#include <math.h>
#include <shlib-compat.h>

typedef enum { _IEEE_ = -1, _SVID_, _XOPEN_, _POSIX_, _ISOC_ } _LIB_VERSION_TYPE;

struct exception {
  int type;
  char* name;
  double arg1;
  double arg2;
  double retval;
};

#define X_TLOSS 1.41484755040568800000e+16
#define AS_FLOAT_CONSTANT_1(x) x##f
#define AS_FLOAT_CONSTANT(x) AS_FLOAT_CONSTANT_1(x)
#undef DOMAIN
#undef SING
#undef OVERFLOW
#undef UNDERFLOW
#undef TLOSS
#undef PLOSS
#undef HUGE
#undef matherr
#define DOMAIN 1
#define SING 2
#define OVERFLOW 3
#define UNDERFLOW 4
#define TLOSS 5
#define PLOSS 6
#define HUGE 3.40282347e+38F

extern double __kernel_standard(double, double, int);
extern float __kernel_standard_f(float, float, int);
extern long double __kernel_standard_l(long double, long double, int);

#define LIBM_SVID_COMPAT 1
#define _LIB_VERSION _POSIX_
#define matherr(EXC) ((void)(EXC), 0)
#endif
