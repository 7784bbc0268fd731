/* What glibc's build puts before every libm source (its libc-symbols.h),
   for the sources compiled here with mingw-w64: libm's own names, and
   aliases that are plain PE symbols (no symbol versions, no hidden or weak
   ones: nothing else in the engine defines these names). Included first by
   every source (-include).  */
#ifndef KESTREL_GLIBC_LIBC_SYMBOLS_H
#define KESTREL_GLIBC_LIBC_SYMBOLS_H

#define _LIBC 1
/* glibc's sources see the C runtime's functions declared, as glibc's
   headers declare them, not defined inline (mingw-w64's math.h has expf
   as (float) exp (x), and more).  */
#define __CRT__NO_INLINE 1
#define MODULE_libm 1
#define IN_MODULE MODULE_libm
#define IS_IN(lib) (IN_MODULE == MODULE_##lib)

#define __GNUC_PREREQ(maj, min) ((__GNUC__ << 16) + __GNUC_MINOR__ >= ((maj) << 16) + (min))
#define __glibc_unlikely(cond) __builtin_expect((cond), 0)
#define __glibc_likely(cond) __builtin_expect((cond), 1)
#define __always_inline __inline __attribute__((__always_inline__))
#define __extern_always_inline extern __always_inline __attribute__((__gnu_inline__))
#define __NTH(fct) fct
#define __THROW
#define attribute_hidden
#define attribute_relro

#define strong_alias(name, aliasname) extern __typeof(name) aliasname __attribute__((alias(#name)));
#define weak_alias(name, aliasname) strong_alias(name, aliasname)
#define hidden_def(name)
#define hidden_proto(name, ...)
#define libm_hidden_def(name)
#define libm_hidden_proto(name, ...)
#define libc_hidden_def(name)
#define libc_hidden_proto(name, ...)
#define __set_errno(val) (errno = (val))

#endif
