/* Symbol versions: a static library has none. The version a name has by
   default is the one defined; older ones are left out.  */
#ifndef KESTREL_GLIBC_SHLIB_COMPAT_H
#define KESTREL_GLIBC_SHLIB_COMPAT_H
#define SHLIB_COMPAT(lib, introduced, obsoleted) 0
#define versioned_symbol(lib, local, symbol, version) strong_alias(local, symbol)
#define compat_symbol(lib, local, symbol, version)
#define compat_symbol_reference(lib, local, symbol, version)
#endif
