/* The CPU features that choose among the variants of glibc's libm
   functions on x86-64, as glibc finds them usable (sysdeps/x86/
   cpu-features.c): AVX and AVX2 when the system saves the YMM state,
   FMA when AVX is usable, FMA4 on AMD and Hygon processors when AVX is.  */
#ifndef KESTREL_GLIBC_LIBM_H
#define KESTREL_GLIBC_LIBM_H
#ifdef __cplusplus
extern "C" {
#endif

#define GLIBC_LIBM_CPU_AVX 0x1u
#define GLIBC_LIBM_CPU_AVX2 0x2u
#define GLIBC_LIBM_CPU_FMA 0x4u
#define GLIBC_LIBM_CPU_FMA4 0x8u

/* The features the variants are chosen by (GLIBC_LIBM_CPU_*).  */
unsigned int glibc_libm_cpu_features(void);

/* Tests: chooses as if the features in MASK were not usable, as glibc
   does with GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA... Only before the
   first call of a libm function; returns 0, or -1 when too late.  */
int glibc_libm_mask_cpu_features(unsigned int mask);

#ifdef __cplusplus
}
#endif
#endif
