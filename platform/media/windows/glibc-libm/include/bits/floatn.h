/* The _FloatN types glibc's libm has on x86-64; only double, float and
   long double functions are built here, so none is distinct.  */
#ifndef KESTREL_GLIBC_BITS_FLOATN_H
#define KESTREL_GLIBC_BITS_FLOATN_H
#define __HAVE_FLOAT128 0
#define __HAVE_DISTINCT_FLOAT128 0
#define __HAVE_FLOAT64X 0
#define __HAVE_FLOAT64X_LONG_DOUBLE 0
#define __HAVE_FLOAT16 0
#define __HAVE_FLOAT32 0
#define __HAVE_FLOAT64 0
#define __HAVE_FLOAT32X 0
#define __HAVE_FLOAT128X 0
#define __HAVE_DISTINCT_FLOAT16 0
#define __HAVE_DISTINCT_FLOAT32 0
#define __HAVE_DISTINCT_FLOAT64 0
#define __HAVE_DISTINCT_FLOAT32X 0
#define __HAVE_DISTINCT_FLOAT64X 0
#define __HAVE_DISTINCT_FLOAT128X 0
#define __HAVE_FLOATN_NOT_TYPEDEF 0
#endif
