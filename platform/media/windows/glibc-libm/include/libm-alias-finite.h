/* No __*_finite names: they are old compatibility symbols.  */
#ifndef KESTREL_GLIBC_LIBM_ALIAS_FINITE_H
#define KESTREL_GLIBC_LIBM_ALIAS_FINITE_H
#define libm_alias_finite(from, to)
#endif
