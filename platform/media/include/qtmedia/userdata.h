// Movie user data (the udta texts) and the time-code media handler.
#ifndef QTMEDIA_USERDATA_H
#define QTMEDIA_USERDATA_H

#include "qtmedia/movies.h"

// A movie's or a track's user-data list. It lives as long as its movie.
typedef struct UserDataRecord* UserData;

// GetScriptManagerVariable selectors
enum { smRegionCode = 40 };

// Region codes (the few the engine maps to a language)
enum {
  verUS = 0,
  verFrance = 1,
  verBritain = 2,
  verGermany = 3,
  verItaly = 4,
  verNetherlands = 5,
  verSweden = 7,
  verSpain = 8,
  verDenmark = 9,
  verPortugal = 10,
  verNorway = 12,
  verJapan = 14
};

// Time-code definition flags
enum { tcDropFrame = 1 << 0, tc24HourMax = 1 << 1, tcNegTimesOK = 1 << 2, tcCounter = 1 << 3 };

// Set in TimeCodeTime::minutes when the time code is negative.
enum { tctNegFlag = 0x80 };

// QuickTime's records use two-byte packing: TimeCodeDef is 14 bytes.
#pragma pack(push, 2)
typedef struct TimeCodeDef {
  int32_t flags;
  TimeScale fTimeScale;
  TimeValue frameDuration;
  uint8_t numFrames;
  uint8_t padding;
} TimeCodeDef;
#pragma pack(pop)

typedef struct TimeCodeTime {
  uint8_t hours;
  uint8_t minutes;
  uint8_t seconds;
  uint8_t frames;
} TimeCodeTime;

typedef struct TimeCodeCounter {
  int32_t value;
} TimeCodeCounter;

typedef union TimeCodeRecord {
  TimeCodeTime t;
  TimeCodeCounter c;
} TimeCodeRecord;

// The time-code sample description as held in memory (fixed part in native
// byte order; a 'name' atom may follow, big-endian as in the file).
#pragma pack(push, 2)
typedef struct TimeCodeDescription {
  int32_t descSize;
  OSType dataFormat;  // 'tmcd'
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
  int32_t flags;  // reserved
  TimeCodeDef timeCodeDef;
} TimeCodeDescription;  // 34 bytes
#pragma pack(pop)

typedef int32_t HandlerError;

#define QTM_USERDATA_FUNCTIONS(X)                                                                                    \
  X(UserData, GetMovieUserData, (Movie theMovie), (theMovie), 0)                                                     \
  X(UserData, GetTrackUserData, (Track theTrack), (theTrack), 0)                                                     \
  X(OSErr, GetUserData, (UserData theUserData, Handle data, OSType udType, int32_t index),                           \
    (theUserData, data, udType, index), qtmlUninitialized)                                                           \
  X(OSErr, GetUserDataText, (UserData theUserData, Handle data, OSType udType, int32_t index, int16_t itlRegionTag), \
    (theUserData, data, udType, index, itlRegionTag), qtmlUninitialized)                                             \
  X(int32_t, GetScriptManagerVariable, (int16_t selector), (selector), 0)                                            \
  X(HandlerError, TCGetTimeCodeAtTime,                                                                               \
    (MediaHandler mh, TimeValue mediaTime, int32_t * frameNum, TimeCodeDef * tcdef, TimeCodeRecord * tcrec,          \
     UserData * srcRefH),                                                                                            \
    (mh, mediaTime, frameNum, tcdef, tcrec, srcRefH), qtmlUninitialized)

#define QTM_USERDATA_DATA(X)

#endif
