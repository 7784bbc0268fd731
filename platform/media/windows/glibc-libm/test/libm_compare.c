/* Computes libm's functions over a fixed set of inputs and prints, per block
   of inputs, a digest of what they return (the bits of the results, and
   errno), or one block in full. Built natively against the system's glibc
   and for Windows against glibc's libm built for it (libglibcm.a), the two
   print the same text when the two libms return the same bits
   (libm-compare.sh compares them).
     libm_compare HWCAPS digest
     libm_compare HWCAPS dump FUNCTION BLOCK
   HWCAPS is "-" (none) or the features not to choose variants by, as glibc's
   tunable takes them (-AVX2,-FMA): the Windows build masks them; the native
   one is run with GLIBC_TUNABLES=glibc.cpu.hwcaps=HWCAPS. Both print the
   features their variants are chosen by first.

   The inputs of each function: special values and their neighbours (all
   pairs of them for two arguments), a million random bit patterns (every
   sign, binade, NaN payload), the ranges FFmpeg calls the function in
   (tables of window and twiddle factors, dB and gain curves, inverse
   quantisation, pitch and LSP conversions), the thresholds where glibc's
   algorithms change, and for a float function every 1021st float.  */
#define _GNU_SOURCE /* sincos, sincosf */
#include <errno.h>
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "glibc-libm.h"
#else
#include <sys/platform/x86.h>
#endif

#define BLOCK_SIZE 65536
#define RANDOM_INPUTS 1000000
#define FLOAT_STRIDE 1021

enum kind { D_D, D_DD, D_SINCOS, F_F, F_FF, F_SINCOS };

/* How inputs are drawn from a range: uniformly between LO and HI (LO when
   they are equal), with a binade (2^LO to 2^HI, of either sign when SIGNED)
   chosen uniformly, or the integers from LO to HI in turn.  */
enum spread { UNIFORM, BINADES, SIGNED_BINADES, INTEGERS };

struct range {
  enum spread spread;
  double lo, hi;
  long count;
};

/* COUNT pairs of arguments, each drawn from its range.  */
struct range_pair {
  struct range x, y;
  long count;
};

struct function {
  const char* name;
  enum kind kind;
  union {
    double (*d_d)(double);
    double (*d_dd)(double, double);
    void (*d_sincos)(double, double*, double*);
    float (*f_f)(float);
    float (*f_ff)(float, float);
    void (*f_sincos)(float, float*, float*);
  } call;
  const struct range* ranges;
  const struct range_pair* pairs;
};

#define PI 3.14159265358979323846
#define END_OF_RANGES \
  { UNIFORM, 0, 0, 0 }
#define END_OF_PAIRS \
  { END_OF_RANGES, END_OF_RANGES, 0 }
#define VALUE(v) \
  { UNIFORM, v, v, 0 }

/* Where glibc's sin, cos and tan change algorithm, and their reduction.  */
static const struct range trigonometric[] = {{UNIFORM, -2 * PI, 2 * PI, 1000000}, {UNIFORM, 0, 10000, 300000},
                                             {UNIFORM, 0.8, 0.9, 100000},         {UNIFORM, 2.4, 2.45, 100000},
                                             {UNIFORM, 1.05e8, 1.06e8, 100000},   {SIGNED_BINADES, -30, 30, 500000},
                                             {SIGNED_BINADES, 27, 1023, 300000},  END_OF_RANGES};
static const struct range inverse_sine[] = {{UNIFORM, -1, 1, 1000000},
                                            {UNIFORM, 0.99, 1, 200000},
                                            {UNIFORM, -1, -0.99, 200000},
                                            {SIGNED_BINADES, -60, 0, 500000},
                                            END_OF_RANGES};
static const struct range arc_tangent[] = {
    {UNIFORM, -10, 10, 1000000}, {UNIFORM, -1000, 1000, 300000}, {SIGNED_BINADES, -60, 60, 1000000}, END_OF_RANGES};
static const struct range cube_root[] = {
    {UNIFORM, 0, 8192, 500000}, {INTEGERS, 0, 65535, 65536}, {SIGNED_BINADES, -1074, 1023, 1000000}, END_OF_RANGES};
static const struct range hyperbolic[] = {
    {UNIFORM, -20, 20, 1000000}, {UNIFORM, -720, 720, 500000}, {SIGNED_BINADES, -60, 10, 500000}, END_OF_RANGES};
static const struct range exponential[] = {
    {UNIFORM, -50, 50, 1000000}, {UNIFORM, -746, 710, 1000000}, {SIGNED_BINADES, -60, 10, 500000}, END_OF_RANGES};
static const struct range exponential_float[] = {
    {UNIFORM, -50, 50, 1000000}, {UNIFORM, -104, 89, 500000}, {SIGNED_BINADES, -30, 7, 500000}, END_OF_RANGES};
static const struct range exponential_2[] = {{UNIFORM, -64, 64, 1000000},
                                             {UNIFORM, -1080, 1030, 1000000},
                                             {INTEGERS, -1100, 1100, 2201},
                                             {SIGNED_BINADES, -60, 10, 500000},
                                             END_OF_RANGES};
static const struct range exponential_2_float[] = {
    {UNIFORM, -64, 64, 1000000}, {UNIFORM, -151, 129, 500000}, {INTEGERS, -160, 140, 301}, END_OF_RANGES};
static const struct range logarithm[] = {{BINADES, -1074, 1023, 1000000},
                                         {UNIFORM, 0, 2, 500000},
                                         {UNIFORM, 0.9, 1.1, 500000},
                                         {INTEGERS, 1, 65536, 65536},
                                         END_OF_RANGES};
static const struct range logarithm_float[] = {{BINADES, -149, 127, 1000000},
                                               {UNIFORM, 0, 2, 500000},
                                               {UNIFORM, 0.9, 1.1, 500000},
                                               {INTEGERS, 1, 65536, 65536},
                                               END_OF_RANGES};
static const struct range trigonometric_float[] = {{UNIFORM, -2 * PI, 2 * PI, 1000000},
                                                   {UNIFORM, 0, 10000, 300000},
                                                   {SIGNED_BINADES, -30, 127, 500000},
                                                   END_OF_RANGES};
static const struct range tangent[] = {{UNIFORM, -PI / 2, PI / 2, 1000000},
                                       {UNIFORM, -10000, 10000, 500000},
                                       {SIGNED_BINADES, -30, 1023, 500000},
                                       END_OF_RANGES};
static const struct range hyperbolic_tangent[] = {
    {UNIFORM, -20, 20, 1000000}, {SIGNED_BINADES, -60, 5, 500000}, END_OF_RANGES};
static const struct range no_ranges[] = {END_OF_RANGES};

static const struct range_pair power[] = {
    {{UNIFORM, 0, 16, 0}, {UNIFORM, -16, 16, 0}, 1000000},
    {VALUE(10), {UNIFORM, -10, 10, 0}, 200000}, /* gains in dB: 10^(dB/20) */
    {VALUE(2), {UNIFORM, -64, 64, 0}, 200000},
    {{UNIFORM, 1, 2, 0}, {INTEGERS, -255, 255, 0}, 200000}, /* coupling gains, c^-n */
    {{UNIFORM, 1, 8, 0}, {UNIFORM, 0, 1, 0}, 200000},       /* band edges, (stop/start)^(1/n) */
    {{INTEGERS, 0, 8191, 0}, VALUE(4.0 / 3), 8192},         /* inverse quantisation */
    {{UNIFORM, 0, 8192, 0}, VALUE(4.0 / 3), 200000},
    {{UNIFORM, 0, 8192, 0}, VALUE(0.75), 200000},
    {{UNIFORM, 0, 8192, 0}, VALUE(0.25), 200000},
    {{UNIFORM, 0, 2, 0}, VALUE(1.0 / 3), 200000},
    {{BINADES, -1074, 1023, 0}, {UNIFORM, -2, 2, 0}, 500000},
    {{UNIFORM, -16, 16, 0}, {INTEGERS, -40, 40, 0}, 300000},
    END_OF_PAIRS};
static const struct range_pair arc_tangent_2[] = {{{UNIFORM, -10, 10, 0}, {UNIFORM, -10, 10, 0}, 1000000},
                                                  {{SIGNED_BINADES, -60, 60, 0}, {SIGNED_BINADES, -60, 60, 0}, 1000000},
                                                  END_OF_PAIRS};
static const struct range_pair hypotenuse[] = {
    {{UNIFORM, -1000, 1000, 0}, {UNIFORM, -1000, 1000, 0}, 1000000},
    {{SIGNED_BINADES, -1074, 1023, 0}, {SIGNED_BINADES, -1074, 1023, 0}, 1000000},
    END_OF_PAIRS};
static const struct range_pair no_pairs[] = {END_OF_PAIRS};

/* Calls through pointers the compiler cannot see through: no folding, no
   sin and cos turned into sincos.  */
static struct function functions[] = {
    {"acos", D_D, {.d_d = acos}, inverse_sine, no_pairs},
    {"asin", D_D, {.d_d = asin}, inverse_sine, no_pairs},
    {"atan", D_D, {.d_d = atan}, arc_tangent, no_pairs},
    {"atan2", D_DD, {.d_dd = atan2}, no_ranges, arc_tangent_2},
    {"atan2f", F_FF, {.f_ff = atan2f}, no_ranges, arc_tangent_2},
    {"atanf", F_F, {.f_f = atanf}, arc_tangent, no_pairs},
    {"cbrt", D_D, {.d_d = cbrt}, cube_root, no_pairs},
    {"cbrtf", F_F, {.f_f = cbrtf}, cube_root, no_pairs},
    {"cos", D_D, {.d_d = cos}, trigonometric, no_pairs},
    {"cosh", D_D, {.d_d = cosh}, hyperbolic, no_pairs},
    {"exp", D_D, {.d_d = exp}, exponential, no_pairs},
    {"exp2", D_D, {.d_d = exp2}, exponential_2, no_pairs},
    {"expf", F_F, {.f_f = expf}, exponential_float, no_pairs},
    {"exp2f", F_F, {.f_f = exp2f}, exponential_2_float, no_pairs},
    {"expm1", D_D, {.d_d = expm1}, exponential, no_pairs},
    {"hypot", D_DD, {.d_dd = hypot}, no_ranges, hypotenuse},
    {"log", D_D, {.d_d = log}, logarithm, no_pairs},
    {"log10", D_D, {.d_d = log10}, logarithm, no_pairs},
    {"log10f", F_F, {.f_f = log10f}, logarithm_float, no_pairs},
    {"log2f", F_F, {.f_f = log2f}, logarithm_float, no_pairs},
    {"logf", F_F, {.f_f = logf}, logarithm_float, no_pairs},
    {"pow", D_DD, {.d_dd = pow}, no_ranges, power},
    {"powf", F_FF, {.f_ff = powf}, no_ranges, power},
    {"sin", D_D, {.d_d = sin}, trigonometric, no_pairs},
    {"sincos", D_SINCOS, {.d_sincos = sincos}, trigonometric, no_pairs},
    {"sincosf", F_SINCOS, {.f_sincos = sincosf}, trigonometric_float, no_pairs},
    {"sinf", F_F, {.f_f = sinf}, trigonometric_float, no_pairs},
    {"sinh", D_D, {.d_d = sinh}, hyperbolic, no_pairs},
    {"tan", D_D, {.d_d = tan}, tangent, no_pairs},
    {"tanh", D_D, {.d_d = tanh}, hyperbolic_tangent, no_pairs},
};
#define FUNCTION_COUNT (sizeof functions / sizeof functions[0])

/* Special values: zeros, infinities, NaNs (quiet, signalling, with a
   payload, negative), the extremes of each kind of number, and where
   glibc's functions change algorithm, overflow or underflow.  */
static const uint64_t special_doubles[] = {
    0x0000000000000000, 0x7ff0000000000000, 0x7ff8000000000000, 0x7ff8000000000123, 0x7ff0000000000001,
    0x7ff4000000000000, 0x0000000000000001, 0x000fffffffffffff, 0x0010000000000000, 0x7fefffffffffffff,
    0x3ff0000000000000, 0x3fe0000000000000, 0x4000000000000000, 0x4008000000000000, 0x4024000000000000,
    0x4059000000000000, 0x3fb999999999999a, 0x400921fb54442d18, 0x3ff921fb54442d18, 0x3fe921fb54442d18,
    0x401921fb54442d18, 0x4012d97c7f3321d2, 0x4005bf0a8b145769, 0x3fe62e42fefa39ef, 0x3ddb7cdfd9d7bdbb,
    0x01a56e1fc2f8f359, 0x7e37e43c8800759c, 0x44b52d02c7e14af6, 0x430c6bf526340000, 0x4330000000000000,
    0x4340000000000000, 0x43e0000000000000, 0x7fe0000000000000, 0x40862e42fefa39ef, 0xc086232bdd7abcd2,
    0xc0874910d52d3051, 0xc0874910d52d3052, 0x4090000000000000, 0xc08ff00000000000, 0xc090c80000000000,
    0xc090cc0000000000, 0x3e50000000000000, 0x3e40000000000000, 0x3feb600000000000, 0x40036b0000000000,
    0x4199215d5c000000, 0x42f0000000000000, 0x408633ce8fb9f87e, 0x4036000000000000, 0x3e30000000000000,
    0x3ff8000000000000, 0x3fe8000000000000, 0x3ff0000000000001, 0x3fefffffffffffff, 0x3ff6a09e667f3bcd,
    0x3fd5555555555555, 0x3ff5555555555555, 0x408ff80000000000, 0x4070000000000000, 0x3c90000000000000};
static const uint32_t special_floats[] = {
    0x00000000, 0x7f800000, 0x7fc00000, 0x7fc00123, 0x7f800001, 0x7fa00000, 0x00000001, 0x007fffff, 0x00800000,
    0x7f7fffff, 0x3f800000, 0x3f000000, 0x40000000, 0x40400000, 0x41200000, 0x42c80000, 0x3dcccccd, 0x40490fdb,
    0x3fc90fdb, 0x3f490fdb, 0x40c90fdb, 0x4096cbe4, 0x402df854, 0x3f317218, 0x42b17218, 0xc2aeac50, 0xc2cff1b5,
    0x43000000, 0xc3150000, 0xc3160000, 0x39800000, 0x4b000000, 0x4b800000, 0x5f000000, 0x7f000000, 0x3fc00000,
    0x3f400000, 0x3f800001, 0x3f7fffff, 0x3fb504f3, 0x3eaaaaab, 0x3faaaaab, 0x49742400, 0x4c800000, 0x33800000};

struct state {
  uint64_t random;
  /* Digest mode: the hash of the current block. Dump mode: the block to
     print (-1: none).  */
  uint64_t hash;
  long index;
  long dump_block;
  const struct function* function;
};

static uint64_t next_random(struct state* s) {
  uint64_t z = (s->random += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

static double from_bits(uint64_t bits) {
  double x;
  memcpy(&x, &bits, sizeof x);
  return x;
}

static uint64_t double_bits(double x) {
  uint64_t bits;
  memcpy(&bits, &x, sizeof bits);
  return bits;
}

static float from_float_bits(uint32_t bits) {
  float x;
  memcpy(&x, &bits, sizeof x);
  return x;
}

static uint32_t float_bits(float x) {
  uint32_t bits;
  memcpy(&bits, &x, sizeof bits);
  return bits;
}

static int is_float(const struct function* f) { return f->kind == F_F || f->kind == F_FF || f->kind == F_SINCOS; }

/* One input of range R, with plain arithmetic only (the libm under test
   makes none of it).  */
static double draw(struct state* s, const struct range* r, long i) {
  uint64_t random = next_random(s);
  switch (r->spread) {
    case UNIFORM:
      return r->lo + (r->hi - r->lo) * ((double)(random >> 11) * 0x1p-53);
    case INTEGERS:
      return r->lo + (double)(i % (long)(r->hi - r->lo + 1));
    case BINADES:
    case SIGNED_BINADES: {
      int64_t exponent = (int64_t)r->lo + (int64_t)((random >> 53) % (uint64_t)(r->hi - r->lo + 1));
      uint64_t mantissa = random & 0x000fffffffffffffu;
      double x;
      if (exponent < -1022) /* subnormal: fewer significant bits */
        x = from_bits(mantissa >> (-1022 - exponent));
      else
        x = from_bits((uint64_t)(exponent + 1023) << 52 | mantissa);
      if (r->spread == SIGNED_BINADES && (random >> 52 & 1)) x = -x;
      return x;
    }
  }
  return 0;
}

static void mix(struct state* s, uint64_t value) {
  s->hash ^= value;
  s->hash *= 0x100000001b3u;
  s->hash ^= s->hash >> 29;
}

static void flush_block(struct state* s) {
  if (s->dump_block < 0 && s->index % BLOCK_SIZE != 0)
    printf("%s %ld %016llx\n", s->function->name, s->index / BLOCK_SIZE, (unsigned long long)s->hash);
}

/* Calls the function on one input (Y for two arguments), and mixes what it
   returns into the digest, or prints it.  */
static void evaluate(struct state* s, double x, double y) {
  const struct function* f = s->function;
  long block = s->index / BLOCK_SIZE;
  if (s->dump_block >= 0 && block != s->dump_block) {
    s->index++;
    return;
  }
  uint64_t in_x, in_y = 0, out = 0, out2 = 0;
  errno = 0;
  switch (f->kind) {
    case D_D:
      in_x = double_bits(x);
      out = double_bits(f->call.d_d(x));
      break;
    case D_DD:
      in_x = double_bits(x);
      in_y = double_bits(y);
      out = double_bits(f->call.d_dd(x, y));
      break;
    case D_SINCOS: {
      double sin_x, cos_x;
      in_x = double_bits(x);
      f->call.d_sincos(x, &sin_x, &cos_x);
      out = double_bits(sin_x);
      out2 = double_bits(cos_x);
      break;
    }
    case F_F:
      in_x = float_bits((float)x);
      out = float_bits(f->call.f_f((float)x));
      break;
    case F_FF:
      in_x = float_bits((float)x);
      in_y = float_bits((float)y);
      out = float_bits(f->call.f_ff((float)x, (float)y));
      break;
    case F_SINCOS:
    default: {
      float sin_x, cos_x;
      in_x = float_bits((float)x);
      f->call.f_sincos((float)x, &sin_x, &cos_x);
      out = float_bits(sin_x);
      out2 = float_bits(cos_x);
      break;
    }
  }
  int error = errno;
  if (s->dump_block >= 0) {
    printf("%ld %016llx %016llx -> %016llx %016llx errno %d\n", s->index, (unsigned long long)in_x,
           (unsigned long long)in_y, (unsigned long long)out, (unsigned long long)out2, error);
  } else {
    if (s->index % BLOCK_SIZE == 0) s->hash = 0xcbf29ce484222325u;
    mix(s, out);
    mix(s, out2);
    mix(s, (uint64_t)error);
    if ((s->index + 1) % BLOCK_SIZE == 0) printf("%s %ld %016llx\n", f->name, block, (unsigned long long)s->hash);
  }
  s->index++;
}

/* A special value, its negation, and the numbers next to each.  */
static void special_and_neighbours(uint64_t bits, int float_bits_wide, uint64_t* out) {
  uint64_t sign = float_bits_wide ? 0x80000000u : 0x8000000000000000u;
  uint64_t magnitude = bits & ~sign;
  uint64_t below = magnitude == 0 ? sign | 1 : magnitude - 1;
  out[0] = magnitude;
  out[1] = magnitude | sign;
  out[2] = magnitude + 1;
  out[3] = below;
  out[4] = (magnitude + 1) | sign;
  out[5] = below ^ sign;
}

static double special_value(const struct function* f, size_t i) {
  uint64_t variants[6];
  if (is_float(f)) {
    special_and_neighbours(special_floats[i / 6], 1, variants);
    return (double)from_float_bits((uint32_t)variants[i % 6]);
  }
  special_and_neighbours(special_doubles[i / 6], 0, variants);
  return from_bits(variants[i % 6]);
}

static size_t special_count(const struct function* f) {
  return 6 * (is_float(f) ? sizeof special_floats / sizeof special_floats[0]
                          : sizeof special_doubles / sizeof special_doubles[0]);
}

static uint64_t random_start_of(const char* name) {
  uint64_t hash = 0x4b657374726c6d31u;
  for (; *name; name++) hash = (hash ^ (unsigned char)*name) * 0x100000001b3u;
  return hash;
}

static void run_function(struct state* s, const struct function* f) {
  s->function = f;
  s->index = 0;
  s->random = random_start_of(f->name);
  size_t specials = special_count(f);
  int two_arguments = f->kind == D_DD || f->kind == F_FF;

  /* A float special value converted to double and back is itself.  */
  if (two_arguments) {
    for (size_t i = 0; i < specials; i++)
      for (size_t j = 0; j < specials; j += 3) evaluate(s, special_value(f, i), special_value(f, j));
  } else {
    for (size_t i = 0; i < specials; i++) evaluate(s, special_value(f, i), 0);
  }

  for (long i = 0; i < RANDOM_INPUTS; i++) {
    if (is_float(f)) {
      uint64_t random = next_random(s);
      evaluate(s, (double)from_float_bits((uint32_t)random), (double)from_float_bits((uint32_t)(random >> 32)));
    } else {
      double x = from_bits(next_random(s));
      evaluate(s, x, two_arguments ? from_bits(next_random(s)) : 0);
    }
  }

  for (const struct range* r = f->ranges; r->count; r++)
    for (long i = 0; i < r->count; i++) evaluate(s, draw(s, r, i), 0);
  for (const struct range_pair* p = f->pairs; p->count; p++)
    for (long i = 0; i < p->count; i++) {
      double x = draw(s, &p->x, i);
      evaluate(s, x, draw(s, &p->y, i));
    }

  if (is_float(f) && !two_arguments)
    for (uint64_t bits = 0; bits <= 0xffffffffu; bits += FLOAT_STRIDE)
      evaluate(s, (double)from_float_bits((uint32_t)bits), 0);

  flush_block(s);
  if (s->dump_block < 0) printf("%s inputs %ld\n", f->name, s->index);
}

static void print_features(const char* hwcaps) {
  unsigned int avx, avx2, fma, fma4;
#ifdef _WIN32
  unsigned int mask = 0;
  if (strstr(hwcaps, "-AVX2")) mask |= GLIBC_LIBM_CPU_AVX2;
  if (strstr(hwcaps, "-FMA4")) mask |= GLIBC_LIBM_CPU_FMA4;
  for (const char* p = hwcaps; (p = strstr(p, "-AVX")) != NULL; p += 4)
    if (p[4] != '2') mask |= GLIBC_LIBM_CPU_AVX;
  for (const char* p = hwcaps; (p = strstr(p, "-FMA")) != NULL; p += 4)
    if (p[4] != '4') mask |= GLIBC_LIBM_CPU_FMA;
  if (glibc_libm_mask_cpu_features(mask) != 0) {
    fprintf(stderr, "libm_compare: the variants were chosen before the features could be masked\n");
    exit(2);
  }
  unsigned int features = glibc_libm_cpu_features();
  avx = (features & GLIBC_LIBM_CPU_AVX) != 0;
  avx2 = (features & GLIBC_LIBM_CPU_AVX2) != 0;
  fma = (features & GLIBC_LIBM_CPU_FMA) != 0;
  fma4 = (features & GLIBC_LIBM_CPU_FMA4) != 0;
#else
  (void)hwcaps;
  avx = CPU_FEATURE_ACTIVE(AVX);
  avx2 = CPU_FEATURE_ACTIVE(AVX2);
  fma = CPU_FEATURE_ACTIVE(FMA);
  fma4 = CPU_FEATURE_ACTIVE(FMA4);
#endif
  printf("features AVX %u AVX2 %u FMA %u FMA4 %u\n", avx, avx2, fma, fma4);
}

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc < 3 || (strcmp(argv[2], "digest") != 0 && (strcmp(argv[2], "dump") != 0 || argc < 5))) {
    fprintf(stderr, "usage: libm_compare HWCAPS digest | libm_compare HWCAPS dump FUNCTION BLOCK\n");
    return 2;
  }
  struct state s = {0};
  s.dump_block = -1;
  print_features(argv[1]);
  for (size_t i = 0; i < FUNCTION_COUNT; i++) {
    if (strcmp(argv[2], "dump") == 0) {
      if (strcmp(functions[i].name, argv[3]) != 0) continue;
      s.dump_block = atol(argv[4]);
    }
    run_function(&s, &functions[i]);
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
