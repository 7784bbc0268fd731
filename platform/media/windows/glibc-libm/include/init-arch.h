/* What glibc's IFUNC selectors (sysdeps/x86_64/fpu/multiarch/ifunc-*.h)
   use, on a system without IFUNC: the CPU features glibc finds usable
   (cpu_features.c), and libc_ifunc_redirected, which defines the function
   named as a call through a pointer to the variant the selector returns,
   chosen on the first call.  */
#ifndef KESTREL_GLIBC_INIT_ARCH_H
#define KESTREL_GLIBC_INIT_ARCH_H
#include <glibc-libm.h>
#include <ifunc-init.h>

struct cpu_features {
  unsigned int usable;
};
extern const struct cpu_features* __get_cpu_features(void);
#define CPU_FEATURE_USABLE_P(features, name) \
  ((__atomic_load_n(&(features)->usable, __ATOMIC_RELAXED) & GLIBC_LIBM_CPU_##name) != 0)

/* The signature of each function selected at run time.  */
#define GLIBC_LIBM_KIND___ieee754_acos d_d
#define GLIBC_LIBM_KIND___ieee754_asin d_d
#define GLIBC_LIBM_KIND___atan d_d
#define GLIBC_LIBM_KIND___ieee754_atan2 d_dd
#define GLIBC_LIBM_KIND___ieee754_exp d_d
#define GLIBC_LIBM_KIND___ieee754_log d_d
#define GLIBC_LIBM_KIND___ieee754_pow d_dd
#define GLIBC_LIBM_KIND___sin d_d
#define GLIBC_LIBM_KIND___cos d_d
#define GLIBC_LIBM_KIND___tan d_d
#define GLIBC_LIBM_KIND___sincos sincos
#define GLIBC_LIBM_KIND___expm1 d_d
#define GLIBC_LIBM_KIND___expf f_f
#define GLIBC_LIBM_KIND___exp2f f_f
#define GLIBC_LIBM_KIND___log2f f_f
#define GLIBC_LIBM_KIND___logf f_f
#define GLIBC_LIBM_KIND___powf f_ff
#define GLIBC_LIBM_KIND___sinf f_f
#define GLIBC_LIBM_KIND___sincosf sincosf

#define GLIBC_LIBM_RETURN_d_d double
#define GLIBC_LIBM_PARAMS_d_d (double x)
#define GLIBC_LIBM_ARGS_d_d (x)
#define GLIBC_LIBM_RETURN_d_dd double
#define GLIBC_LIBM_PARAMS_d_dd (double x, double y)
#define GLIBC_LIBM_ARGS_d_dd (x, y)
#define GLIBC_LIBM_RETURN_f_f float
#define GLIBC_LIBM_PARAMS_f_f (float x)
#define GLIBC_LIBM_ARGS_f_f (x)
#define GLIBC_LIBM_RETURN_f_ff float
#define GLIBC_LIBM_PARAMS_f_ff (float x, float y)
#define GLIBC_LIBM_ARGS_f_ff (x, y)
#define GLIBC_LIBM_RETURN_sincos void
#define GLIBC_LIBM_PARAMS_sincos (double x, double* sinx, double* cosx)
#define GLIBC_LIBM_ARGS_sincos (x, sinx, cosx)
#define GLIBC_LIBM_RETURN_sincosf void
#define GLIBC_LIBM_PARAMS_sincosf (float x, float* sinx, float* cosx)
#define GLIBC_LIBM_ARGS_sincosf (x, sinx, cosx)

/* NAME calls NAME_variant, which is NAME_first until the first call has
   asked the selector. Threads that race there choose the same variant.  */
#define libc_ifunc_redirected(redirected_name, name, expr) \
  glibc_libm_dispatch(GLIBC_LIBM_KIND_##name, redirected_name, name, expr)
#define glibc_libm_dispatch(kind, redirected_name, name, expr) glibc_libm_dispatch_(kind, redirected_name, name, expr)
#define glibc_libm_dispatch_(kind, redirected_name, name, expr)                       \
  static __typeof(redirected_name) name##_first;                                      \
  static __typeof(redirected_name)* name##_variant = name##_first;                    \
  GLIBC_LIBM_RETURN_##kind name GLIBC_LIBM_PARAMS_##kind {                            \
    return __atomic_load_n(&name##_variant, __ATOMIC_ACQUIRE) GLIBC_LIBM_ARGS_##kind; \
  }                                                                                   \
  static GLIBC_LIBM_RETURN_##kind name##_first GLIBC_LIBM_PARAMS_##kind {             \
    __typeof(redirected_name)* variant = (__typeof(redirected_name)*)(expr);          \
    __atomic_store_n(&name##_variant, variant, __ATOMIC_RELEASE);                     \
    return variant GLIBC_LIBM_ARGS_##kind;                                            \
  }
#endif
