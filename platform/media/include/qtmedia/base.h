// Basic QuickTime types, shared by the engine (native) and its Windows callers.
// Every width is fixed: QuickTime's "long" is 32 bits on both sides of the
// boundary, whatever the compiler's long is.
#ifndef QTMEDIA_BASE_H
#define QTMEDIA_BASE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QTM_EXTERN_C extern "C"
#else
#define QTM_EXTERN_C extern
#endif

// Calling conventions on Windows, where 32-bit code has several: the
// engine's exported calls are __cdecl, the functions it calls back into
// (tracking callbacks, Core Foundation callbacks) __stdcall. Both sides of
// the boundary take them from here. Elsewhere there is one convention.
#if defined(_WIN32)
#define QTMAPI __cdecl
#define QTM_CALLBACK __stdcall
#else
#define QTMAPI
#define QTM_CALLBACK
#endif

typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t OSType;
typedef uint32_t FourCharCode;
typedef uint8_t Boolean;
typedef int32_t Fixed;
typedef int32_t TimeValue;
typedef int64_t TimeValue64;
typedef int32_t TimeScale;
typedef int32_t Size;
typedef uint32_t ByteCount;
typedef uint16_t UniChar;  // a UTF-16 code unit
typedef uint8_t Str255[256];
typedef uint8_t Str63[64];
typedef uint8_t Str31[32];
typedef uint8_t* StringPtr;
typedef const uint8_t* ConstStringPtr;
typedef const uint8_t* ConstStr255Param;
typedef char* Ptr;
typedef Ptr* Handle;

enum {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
  nilHandleErr = -109,
  fnfErr = -43,
  ioErr = -36,
  eofErr = -39,
  invalidMovie = -2010,
  invalidTrack = -2009,
  invalidMedia = -2008,
  badImageDescription = -2001,
  noCodecErr = -8961,
  codecErr = -8960,
  invalidTime = -2015,
  couldNotResolveDataRef = -2000,
  badFileFormat = -208,
  cantFindHandler = -2048,
  qtmlUninitialized = -2093,
  qtmlDllLoadErr = -2092,
  qtmlDllEntryNotFoundErr = -2091,
  kQTPropertyNotSupportedErr = -2195,
  kQTPropertyBadValueSizeErr = -2196,
  userDataItemNotFound = -2026,
  badTrackIndex = -2028
};

#define fixed1 ((Fixed)0x00010000)

typedef struct TimeBaseRecord* TimeBase;

// The time record is 16 bytes on 32-bit Windows; here it is passed by sizeof.
typedef struct TimeRecord {
  int64_t value;
  TimeScale scale;
  TimeBase base;
} TimeRecord;

// File record. On Windows QuickTime the name is a Str255 holding the
// full path (ANSI code page).
typedef struct FSSpec {
  int16_t vRefNum;
  int32_t parID;
  Str255 name;
} FSSpec;

#endif
