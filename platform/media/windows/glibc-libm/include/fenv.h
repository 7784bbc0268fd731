/* mingw-w64's fenv.h (its x86 fenv_t has glibc's layout: the x87
   environment, then MXCSR), and what glibc's internal include/fenv.h adds:
   the internal names of the functions, and the rounding mode context.  */
#include_next <fenv.h>
#ifndef KESTREL_GLIBC_FENV_H
#define KESTREL_GLIBC_FENV_H
#include <stdbool.h>

#define __feraiseexcept feraiseexcept
#define __feclearexcept feclearexcept
#define __fegetenv fegetenv
#define __fesetenv fesetenv
#define __feupdateenv feupdateenv
#define __fegetround fegetround
#define __fesetround fesetround
#define __feholdexcept feholdexcept

struct rm_ctx {
  fenv_t env;
  bool updated_status;
};
#define FE_HAVE_ROUNDING_MODES 1
#endif
