/* Public names of libm's double functions: one each, no _FloatN ones.  */
#ifndef KESTREL_GLIBC_LIBM_ALIAS_DOUBLE_H
#define KESTREL_GLIBC_LIBM_ALIAS_DOUBLE_H
#define libm_alias_double_r(from, to, r) strong_alias(from##r, to##r)
#define libm_alias_double(from, to) libm_alias_double_r(from, to, )
#define libm_alias_double_other_r(from, to, r)
#define libm_alias_double_other(from, to)
#endif
