/* mingw-w64's math.h, and what glibc's math.h and its internal
   include/math.h add for libm's sources: classification as glibc defines
   it for GCC (built-ins), type-generic selection, float words, and the
   internal names its public header declares beside the public ones.  */
#include_next <math.h>
#ifndef KESTREL_GLIBC_MATH_H
#define KESTREL_GLIBC_MATH_H
#include <nan-high-order-bit.h>
#include <stdint.h>

/* glibc's numbering, which its sources compare in order.  */
#undef FP_NAN
#undef FP_INFINITE
#undef FP_ZERO
#undef FP_SUBNORMAL
#undef FP_NORMAL
#define FP_NAN 0
#define FP_INFINITE 1
#define FP_ZERO 2
#define FP_SUBNORMAL 3
#define FP_NORMAL 4

#undef fpclassify
#undef signbit
#undef isfinite
#undef isnormal
#undef isnan
#undef isinf
#undef isgreater
#undef isgreaterequal
#undef isless
#undef islessequal
#undef islessgreater
#undef isunordered
#define fpclassify(x) __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x)
#define signbit(x) __builtin_signbit(x)
#define isfinite(x) __builtin_isfinite(x)
#define isnormal(x) __builtin_isnormal(x)
#define isnan(x) __builtin_isnan(x)
#define isinf(x) __builtin_isinf_sign(x)
#define isgreater(x, y) __builtin_isgreater(x, y)
#define isgreaterequal(x, y) __builtin_isgreaterequal(x, y)
#define isless(x, y) __builtin_isless(x, y)
#define islessequal(x, y) __builtin_islessequal(x, y)
#define islessgreater(x, y) __builtin_islessgreater(x, y)
#define isunordered(x, y) __builtin_isunordered(x, y)
#define issubnormal(x) (fpclassify(x) == FP_SUBNORMAL)
#define iszero(x) (((__typeof(x))(x)) == 0)

#define __MATH_TG(TG_ARG, FUNC, ARGS) \
  (sizeof(TG_ARG) == sizeof(float) ? FUNC##f ARGS : sizeof(TG_ARG) == sizeof(double) ? FUNC ARGS : FUNC##l ARGS)

typedef union {
  float value;
  uint32_t word;
} ieee_float_shape_type;

#define GET_FLOAT_WORD(i, d)    \
  do {                          \
    ieee_float_shape_type gf_u; \
    gf_u.value = (d);           \
    (i) = gf_u.word;            \
  } while (0)
#define SET_FLOAT_WORD(d, i)    \
  do {                          \
    ieee_float_shape_type sf_u; \
    sf_u.word = (i);            \
    (d) = sf_u.value;           \
  } while (0)

/* Exact functions: any implementation returns glibc's values.  */
#define __frexp frexp
#define __frexpf frexpf
#define __ldexp ldexp
#define __ldexpf ldexpf

/* A signalling NaN has the high bit of its significand clear
   (nan-high-order-bit.h): glibc's include/math.h and s_issignaling.c.  */
static __inline int __issignalingf(float x) {
  uint32_t xi;
  GET_FLOAT_WORD(xi, x);
  xi ^= 0x00400000;
  return (xi & 0x7fffffff) > 0x7fc00000;
}
static __inline int __issignaling(double x) {
  union {
    double value;
    uint64_t word;
  } u = {x};
  u.word ^= UINT64_C(0x0008000000000000);
  return (u.word & UINT64_C(0x7fffffffffffffff)) > UINT64_C(0x7ff8000000000000);
}
#define issignaling(x) _Generic((x), float : __issignalingf(x), default : __issignaling(x))

extern double __sin(double);
extern double __cos(double);
extern double __expm1(double);
extern float __atanf(float);
#endif
