/* Public names of libm's float functions: one each, no _FloatN ones.  */
#ifndef KESTREL_GLIBC_LIBM_ALIAS_FLOAT_H
#define KESTREL_GLIBC_LIBM_ALIAS_FLOAT_H
#define libm_alias_float_r(from, to, r) strong_alias(from##f##r, to##f##r)
#define libm_alias_float(from, to) libm_alias_float_r(from, to, )
#define libm_alias_float_other_r(from, to, r)
#define libm_alias_float_other(from, to)
#endif
