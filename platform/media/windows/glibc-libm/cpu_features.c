/* The CPU features glibc 2.36 finds usable on x86-64 (init_cpu_features
   and update_active in sysdeps/x86/cpu-features.c), those its libm's
   selectors test: found once, on first use.  */
#include <cpuid.h>
#include <init-arch.h>
#include <string.h>

/* Set in the word once the features are known.  */
#define FEATURES_FOUND 0x80000000u
#define XCR0_XMM_YMM 0x6u

static struct cpu_features found;
static unsigned int masked;

/* CPUID leaf 0 spells the vendor's name in EBX, EDX, ECX.  */
static int is_vendor(unsigned int ebx, unsigned int ecx, unsigned int edx, const char name[13]) {
  unsigned int words[3];
  memcpy(words, name, sizeof words);
  return ebx == words[0] && edx == words[1] && ecx == words[2];
}

static unsigned int usable_features(void) {
  unsigned int max_leaf, eax, ebx, ecx, edx;
  __cpuid(0, max_leaf, ebx, ecx, edx);
  int intel = is_vendor(ebx, ecx, edx, "GenuineIntel");
  int amd = is_vendor(ebx, ecx, edx, "AuthenticAMD") || is_vendor(ebx, ecx, edx, "HygonGenuine");
  int zhaoxin = is_vendor(ebx, ecx, edx, "CentaurHauls") || is_vendor(ebx, ecx, edx, "  Shanghai  ");
  /* glibc reads no feature leaf of other vendors' processors.  */
  if (!intel && !amd && !zhaoxin) return 0;

  unsigned int signature, leaf1_ecx, leaf7_ebx = 0, ext_ecx = 0;
  __cpuid(1, signature, ebx, leaf1_ecx, edx);
  if (max_leaf >= 7) __cpuid_count(7, 0, eax, leaf7_ebx, ecx, edx);
  __cpuid(0x80000000, eax, ebx, ecx, edx);
  if (eax >= 0x80000001) __cpuid(0x80000001, eax, ebx, ext_ecx, edx);

  unsigned int usable = 0;
  if (leaf1_ecx & bit_OSXSAVE) {
    unsigned int xcr0, xcr0_high;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if ((xcr0 & XCR0_XMM_YMM) == XCR0_XMM_YMM && (leaf1_ecx & bit_AVX)) {
      usable |= GLIBC_LIBM_CPU_AVX;
      if (leaf7_ebx & bit_AVX2) usable |= GLIBC_LIBM_CPU_AVX2;
      if (leaf1_ecx & bit_FMA) usable |= GLIBC_LIBM_CPU_FMA;
    }
  }
  if (amd && (usable & GLIBC_LIBM_CPU_AVX) && (ext_ecx & bit_FMA4)) usable |= GLIBC_LIBM_CPU_FMA4;
  if (zhaoxin) {
    /* Models whose AVX glibc does not use.  */
    unsigned int family = (signature >> 8) & 0x0f;
    unsigned int model = (signature >> 4) & 0x0f;
    unsigned int extended_model = (signature >> 12) & 0xf0;
    if (family == 0x0f) {
      family += (signature >> 20) & 0xff;
      model += extended_model;
    }
    model += extended_model;
    if ((family == 0x06 && (model == 0x0f || model == 0x19)) || (family == 0x07 && (model == 0x1b || model == 0x3b)))
      usable &= ~(GLIBC_LIBM_CPU_AVX | GLIBC_LIBM_CPU_AVX2);
  }
  return usable;
}

/* Threads that find the features at once store the same word.  */
const struct cpu_features* __get_cpu_features(void) {
  if (!__atomic_load_n(&found.usable, __ATOMIC_ACQUIRE))
    __atomic_store_n(&found.usable, FEATURES_FOUND | (usable_features() & ~__atomic_load_n(&masked, __ATOMIC_RELAXED)),
                     __ATOMIC_RELEASE);
  return &found;
}

unsigned int glibc_libm_cpu_features(void) {
  return __atomic_load_n(&__get_cpu_features()->usable, __ATOMIC_RELAXED) & ~FEATURES_FOUND;
}

int glibc_libm_mask_cpu_features(unsigned int mask) {
  if (__atomic_load_n(&found.usable, __ATOMIC_ACQUIRE)) return -1;
  __atomic_store_n(&masked, mask, __ATOMIC_RELAXED);
  return 0;
}
