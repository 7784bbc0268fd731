// Files, movies, tracks, media, samples and handles.
#ifndef QTMEDIA_MOVIES_H
#define QTMEDIA_MOVIES_H

#include "qtmedia/base.h"

typedef struct MovieRecord* Movie;
typedef struct TrackRecord* Track;
typedef struct MediaRecord* Media;
typedef struct ComponentInstanceRecord* ComponentInstance;
typedef ComponentInstance MediaHandler;

enum {
  VideoMediaType = 0x76696465,     // 'vide'
  SoundMediaType = 0x736F756E,     // 'soun'
  TimeCodeMediaType = 0x746D6364,  // 'tmcd'
  TextMediaType = 0x74657874,      // 'text'
  MovieMediaType = 0x6D6F6F76
};

// Track reference types
enum { kTrackReferenceChapterList = 0x63686170 };  // 'chap'

// GetMediaLanguage: the media header's code as stored, a Mac language code
// (below 0x400) or an ISO 639-2/T code packed in three 5-bit letters.
enum { langEnglish = 0, langUnspecified = 0x7FFF };

// GetMovieIndTrackType flags
enum { movieTrackMediaType = 1 << 0, movieTrackCharacteristic = 1 << 1, movieTrackEnabledOnly = 1 << 2 };

// NewMovieFromFile flags
enum { newMovieActive = 1 << 0, newMovieDontResolveDataRefs = 1 << 1 };

// OpenMovieFile permissions
enum { fsRdPerm = 1 };

// Interesting-time flags
enum {
  nextTimeMediaSample = 1 << 0,
  nextTimeMediaEdit = 1 << 1,
  nextTimeTrackEdit = 1 << 2,
  nextTimeSyncSample = 1 << 3,
  nextTimeStep = 1 << 4,
  nextTimeEdgeOK = 1 << 14,
  nextTimeIgnoreActiveSegment = 1 << 15
};

// Media sample flags
enum {
  mediaSampleNotSync = 1 << 0,
  mediaSampleShadowSync = 1 << 1,
  mediaSampleDroppable = 1 << 27,
  mediaSamplePartialSync = 1 << 16,
  mediaSampleHasRedundantCoding = 1 << 24,
  mediaSampleHasNoRedundantCoding = 1 << 25,
  mediaSampleIsDependedOnByOthers = 1 << 26,
  mediaSampleIsNotDependedOnByOthers = 1 << 27,
  mediaSampleDependsOnOthers = 1 << 28,
  mediaSampleDoesNotDependOnOthers = 1 << 29,
  mediaSampleEarlierDisplayTimesAllowed = 1 << 30
};
typedef uint32_t MediaSampleFlags;

// Common head of every sample description (ISO 14496-12 SampleEntry as
// QuickTime keeps it in memory: native byte order, extension atoms after the
// fixed part, those still big-endian as in the file).
typedef struct SampleDescription {
  int32_t descSize;
  int32_t dataFormat;
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
} SampleDescription;
typedef SampleDescription* SampleDescriptionPtr;
typedef SampleDescriptionPtr* SampleDescriptionHandle;

#pragma pack(push, 2)
typedef struct ImageDescription {
  int32_t idSize;
  OSType cType;
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
  int16_t version;
  int16_t revisionLevel;
  OSType vendor;
  uint32_t temporalQuality;
  uint32_t spatialQuality;
  int16_t width;
  int16_t height;
  Fixed hRes;
  Fixed vRes;
  int32_t dataSize;
  int16_t frameCount;
  Str31 name;
  int16_t depth;
  int16_t clutID;
} ImageDescription;  // 86 bytes

typedef struct SoundDescription {
  int32_t descSize;
  OSType dataFormat;
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
  int16_t version;
  int16_t revlevel;
  int32_t vendor;
  int16_t numChannels;
  int16_t sampleSize;
  int16_t compressionID;
  int16_t packetSize;
  uint32_t sampleRate;  // 16.16 fixed, unsigned
} SoundDescription;     // 36 bytes

typedef struct SoundDescriptionV1 {
  SoundDescription desc;
  int32_t samplesPerPacket;
  int32_t bytesPerPacket;
  int32_t bytesPerFrame;
  int32_t bytesPerSample;
} SoundDescriptionV1;  // 52 bytes
#pragma pack(pop)

// A transformation matrix: a b u / c d v / x y w, row by row; u, v and w
// are 2.30 fixed point (Fract), the others 16.16 (Fixed). A point (x, y)
// of the picture is shown at (x y 1) times the matrix.
typedef struct MatrixRecord {
  Fixed matrix[3][3];
} MatrixRecord;

typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescriptionPtr* ImageDescriptionHandle;
typedef SoundDescription* SoundDescriptionPtr;
typedef SoundDescriptionPtr* SoundDescriptionHandle;

// X(return type, name, (parameters), (arguments), value when the engine is missing)
#define QTM_INIT_FUNCTIONS(X)                                      \
  X(OSErr, InitializeQTML, (int32_t flag), (flag), qtmlDllLoadErr) \
  X(void, TerminateQTML, (void), (), )

#define QTM_MOVIE_FUNCTIONS(X)                                                                                        \
  X(OSErr, EnterMovies, (void), (), qtmlUninitialized)                                                                \
  X(void, ExitMovies, (void), (), )                                                                                   \
  X(OSErr, GetMoviesError, (void), (), qtmlUninitialized)                                                             \
  X(OSErr, FSMakeFSSpec, (int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec * out),                   \
    (vRefNum, dirID, fileName, out), qtmlUninitialized)                                                               \
  X(OSErr, OpenMovieFile, (const FSSpec* fileSpec, int16_t* resRefNum, int8_t permission),                            \
    (fileSpec, resRefNum, permission), qtmlUninitialized)                                                             \
  X(OSErr, NewMovieFromFile,                                                                                          \
    (Movie * theMovie, int16_t resRefNum, int16_t * resId, StringPtr resName, int16_t newMovieFlags,                  \
     Boolean * dataRefWasChanged),                                                                                    \
    (theMovie, resRefNum, resId, resName, newMovieFlags, dataRefWasChanged), qtmlUninitialized)                       \
  X(OSErr, CloseMovieFile, (int16_t resRefNum), (resRefNum), qtmlUninitialized)                                       \
  X(void, DisposeMovie, (Movie theMovie), (theMovie), )                                                               \
  X(Track, GetMovieIndTrackType, (Movie theMovie, int32_t index, OSType trackType, int32_t flags),                    \
    (theMovie, index, trackType, flags), 0)                                                                           \
  X(int32_t, GetMovieTrackCount, (Movie theMovie), (theMovie), 0)                                                     \
  X(Track, GetMovieIndTrack, (Movie theMovie, int32_t index), (theMovie, index), 0)                                   \
  X(TimeScale, GetMovieTimeScale, (Movie theMovie), (theMovie), 0)                                                    \
  X(TimeValue, GetMovieDuration, (Movie theMovie), (theMovie), 0)                                                     \
  X(TimeValue, GetMovieTime, (Movie theMovie, TimeRecord * currentTime), (theMovie, currentTime), 0)                  \
  X(Fixed, GetMoviePreferredRate, (Movie theMovie), (theMovie), 0)                                                    \
  X(OSErr, PrerollMovie, (Movie theMovie, TimeValue time, Fixed rate), (theMovie, time, rate), qtmlUninitialized)     \
  X(void, SetMovieActive, (Movie theMovie, Boolean active), (theMovie, active), )                                     \
  X(void, GetMovieMatrix, (Movie theMovie, MatrixRecord * matrix), (theMovie, matrix), )                              \
  X(Media, GetTrackMedia, (Track theTrack), (theTrack), 0)                                                            \
  X(Boolean, GetTrackEnabled, (Track theTrack), (theTrack), 0)                                                        \
  X(void, SetTrackEnabled, (Track theTrack, Boolean isEnabled), (theTrack, isEnabled), )                              \
  X(int32_t, GetTrackID, (Track theTrack), (theTrack), 0)                                                             \
  X(Track, GetTrackAlternate, (Track theTrack), (theTrack), 0)                                                        \
  X(Track, GetTrackReference, (Track theTrack, OSType refType, int32_t index), (theTrack, refType, index), 0)         \
  X(int32_t, GetTrackReferenceCount, (Track theTrack, OSType refType), (theTrack, refType), 0)                        \
  X(int16_t, GetMediaLanguage, (Media theMedia), (theMedia), 0)                                                       \
  X(void, GetTrackMatrix, (Track theTrack, MatrixRecord * matrix), (theTrack, matrix), )                              \
  X(void, GetTrackNextInterestingTime,                                                                                \
    (Track theTrack, int16_t interestingTimeFlags, TimeValue time, Fixed rate, TimeValue * interestingTime,           \
     TimeValue * interestingDuration),                                                                                \
    (theTrack, interestingTimeFlags, time, rate, interestingTime, interestingDuration), )                             \
  X(TimeValue64, TrackTimeToMediaDisplayTime, (TimeValue64 value, Track theTrack), (value, theTrack), -1)             \
  X(Fixed, GetTrackEditRate64, (Track theTrack, TimeValue64 atTime), (theTrack, atTime), 0)                           \
  X(void, GetMediaHandlerDescription,                                                                                 \
    (Media theMedia, OSType * mediaType, StringPtr creatorName, OSType * creatorManufacturer),                        \
    (theMedia, mediaType, creatorName, creatorManufacturer), )                                                        \
  X(TimeScale, GetMediaTimeScale, (Media theMedia), (theMedia), 0)                                                    \
  X(TimeValue, GetMediaDuration, (Media theMedia), (theMedia), 0)                                                     \
  X(TimeValue64, GetMediaDecodeDuration, (Media theMedia), (theMedia), 0)                                             \
  X(MediaHandler, GetMediaHandler, (Media theMedia), (theMedia), 0)                                                   \
  X(int32_t, GetMediaSampleDescriptionCount, (Media theMedia), (theMedia), 0)                                         \
  X(void, GetMediaSampleDescription, (Media theMedia, int32_t index, SampleDescriptionHandle descH),                  \
    (theMedia, index, descH), )                                                                                       \
  X(int32_t, GetMediaSampleCount, (Media theMedia), (theMedia), 0)                                                    \
  X(void, GetMediaNextInterestingDecodeTime,                                                                          \
    (Media theMedia, int16_t interestingTimeFlags, TimeValue64 decodeTime, Fixed rate,                                \
     TimeValue64 * interestingDecodeTime, TimeValue64 * interestingDecodeDuration),                                   \
    (theMedia, interestingTimeFlags, decodeTime, rate, interestingDecodeTime, interestingDecodeDuration), )           \
  X(OSErr, GetMediaSample2,                                                                                           \
    (Media theMedia, uint8_t * dataOut, ByteCount maxDataSize, ByteCount * size, TimeValue64 decodeTime,              \
     TimeValue64 * sampleDecodeTime, TimeValue64 * durationPerSample, TimeValue64 * displayOffset,                    \
     SampleDescriptionHandle sampleDescriptionH, ByteCount * sampleDescriptionIndex, ByteCount maxNumberOfSamples,    \
     ByteCount * numberOfSamples, MediaSampleFlags * sampleFlags),                                                    \
    (theMedia, dataOut, maxDataSize, size, decodeTime, sampleDecodeTime, durationPerSample, displayOffset,            \
     sampleDescriptionH, sampleDescriptionIndex, maxNumberOfSamples, numberOfSamples, sampleFlags),                   \
    qtmlUninitialized)                                                                                                \
  X(void, MediaDecodeTimeToSampleNum,                                                                                 \
    (Media theMedia, TimeValue64 decodeTime, int64_t * sampleNum, TimeValue64 * sampleDecodeTime,                     \
     TimeValue64 * sampleDecodeDuration),                                                                             \
    (theMedia, decodeTime, sampleNum, sampleDecodeTime, sampleDecodeDuration), )                                      \
  X(void, SampleNumToMediaDisplayTime,                                                                                \
    (Media theMedia, int64_t logicalSampleNum, TimeValue64 * sampleDisplayTime, TimeValue64 * sampleDisplayDuration), \
    (theMedia, logicalSampleNum, sampleDisplayTime, sampleDisplayDuration), )                                         \
  X(Handle, NewHandle, (Size byteCount), (byteCount), 0)                                                              \
  X(Handle, NewHandleClear, (Size byteCount), (byteCount), 0)                                                         \
  X(void, DisposeHandle, (Handle h), (h), )                                                                           \
  X(Size, GetHandleSize, (Handle h), (h), 0)                                                                          \
  X(void, SetHandleSize, (Handle h, Size newSize), (h, newSize), )                                                    \
  X(OSErr, MemError, (void), (), qtmlUninitialized)                                                                   \
  X(void, HLock, (Handle h), (h), )                                                                                   \
  X(void, HUnlock, (Handle h), (h), )                                                                                 \
  X(OSErr, PtrAndHand, (const void* ptr1, Handle hand2, Size size), (ptr1, hand2, size), qtmlUninitialized)

#endif
