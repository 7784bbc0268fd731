// Image decompression sessions, Core Video pixel buffers and the few Core
// Foundation objects their attributes are built from.
//
// A decompression session is made from a video media's image description
// (codec type plus its extension atoms). Every picture it emits goes to the
// tracking callback, inside the decode or flush call, in display order, as a
// pixel buffer of the pixel format and size asked for in the destination
// attributes.
#ifndef QTMEDIA_ICM_H
#define QTMEDIA_ICM_H

#include "qtmedia/movies.h"

typedef struct OpaqueICMDecompressionSession* ICMDecompressionSessionRef;
typedef struct OpaqueICMDecompressionSessionOptions* ICMDecompressionSessionOptionsRef;
typedef struct OpaqueICMFrameDecodeOptions* ICMFrameDecodeOptionsRef;
typedef struct QtmPixelBuffer* CVPixelBufferRef;
typedef int32_t CVReturn;
typedef uint64_t CVOptionFlags;
typedef uint32_t ComponentPropertyClass;
typedef uint32_t ComponentPropertyID;

// Core Foundation. CFIndex is a Windows "long": 32 bits.
typedef int32_t CFIndex;
typedef CFIndex CFNumberType;
typedef const void* CFTypeRef;
typedef const struct QtmCFAllocator* CFAllocatorRef;
typedef const struct QtmCFObject* CFDictionaryRef;
typedef struct QtmCFObject* CFMutableDictionaryRef;
typedef const struct QtmCFObject* CFNumberRef;
typedef const struct QtmCFObject* CFStringRef;
typedef const struct QtmCFObject* CFBooleanRef;

enum { kCFNumberSInt32Type = 3 };
enum { kCVReturnSuccess = 0, kCVReturnError = -6660, kCVReturnInvalidArgument = -6661 };

typedef const void*(QTM_CALLBACK* CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void(QTM_CALLBACK* CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef(QTM_CALLBACK* CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean(QTM_CALLBACK* CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef uint32_t(QTM_CALLBACK* CFDictionaryHashCallBack)(const void* value);

// The engine's dictionaries know only the standard type callbacks (the
// exported tables); keys and values are its own CF objects.
typedef struct CFDictionaryKeyCallBacks {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
  CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;

typedef struct CFDictionaryValueCallBacks {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

// Pixel formats a session can emit.
enum {
  k2vuyPixelFormat = 0x32767579,   // '2vuy': UYVY 4:2:2
  kYUVSPixelFormat = 0x79757673,   // 'yuvs': YUY2 4:2:2
  k32BGRAPixelFormat = 0x42475241  // 'BGRA': B, G, R, A bytes
};

// The destination attribute "Orientation" (a number; this engine's own):
// each picture is turned and mirrored upright before it is converted, as
// the TIFF/EXIF orientation values say. "Width" and "Height" are then the
// upright picture's (swapped for 5 to 8, which is also their default).
enum {
  qtmOrientationUpright = 1,
  qtmOrientationMirrored = 2,    // mirrored left to right
  qtmOrientationRotated180 = 3,  // turned 180 degrees
  qtmOrientationFlipped = 4,     // mirrored top to bottom
  qtmOrientationTransposed = 5,  // rows become columns
  qtmOrientationRotated90 = 6,   // turned 90 degrees clockwise
  qtmOrientationTransverse = 7,  // transposed and turned 180 degrees
  qtmOrientationRotated270 = 8   // turned 90 degrees anticlockwise
};

// Session options: property class 'idso'; 'acur' and 'fiel' are 4 bytes.
enum {
  kQTPropertyClass_ICMDecompressionSessionOptions = 0x6964736F,     // 'idso'
  kICMDecompressionSessionOptionsPropertyID_Accuracy = 0x61637572,  // 'acur'
  kICMDecompressionSessionOptionsPropertyID_FieldMode = 0x6669656C  // 'fiel'
};

// Accuracy values (a codec quality). Below normal trades quality for speed;
// lossless and max ask for bit-exact decoding.
enum {
  codecMinQuality = 0,
  codecLowQuality = 0x100,
  codecNormalQuality = 0x200,
  codecHighQuality = 0x300,
  codecMaxQuality = 0x3FF,
  codecLosslessQuality = 0x400
};

// Field modes.
enum {
  kICMFieldMode_BothFields = 0,
  kICMFieldMode_TopFieldOnly = 1,
  kICMFieldMode_BottomFieldOnly = 2,
  kICMFieldMode_DeinterlaceFields = 3
};

// Frame time record of one compressed frame. value is the frame's decode
// time; with icmFrameTimeHasDisplayTimes the display time is value +
// displayOffset and displayDuration its display duration, otherwise the
// display time is value and its duration unknown. recordSize is
// sizeof(ICMFrameTimeRecord).
typedef struct ICMFrameTimeRecord {
  int64_t value;
  TimeScale scale;
  void* base;
  int32_t duration;
  Fixed rate;
  int32_t recordSize;
  int32_t frameNumber;
  int32_t flags;
  int64_t displayOffset;
  int64_t displayDuration;
} ICMFrameTimeRecord;

// ICMFrameTimeRecord flags.
enum {
  icmFrameTimeHasDisplayTimes = 1 << 2,
  icmFrameTimeDoNotDisplay = 1 << 5  // decode (as a reference), emit nothing
};

// Tracking callback flags.
enum {
  kICMDecompressionTracking_LastCall = 1 << 0,
  kICMDecompressionTracking_ReleaseSourceData = 1 << 1,  // once per frame, also on failure
  kICMDecompressionTracking_EmittingFrame = 1 << 2,
  kICMDecompressionTracking_FrameDecoded = 1 << 3,
  kICMDecompressionTracking_FrameDropped = 1 << 4
};
typedef uint32_t ICMDecompressionTrackingFlags;

// Valid-time flags of the tracking callback.
enum { kICMValidTime_DisplayTimeStampIsValid = 1 << 0, kICMValidTime_DisplayDurationIsValid = 1 << 1 };
typedef uint32_t ICMValidTimeFlags;

typedef void(QTM_CALLBACK* ICMDecompressionTrackingCallback)(void* decompressionTrackingRefCon, OSStatus result,
                                                             ICMDecompressionTrackingFlags decompressionTrackingFlags,
                                                             CVPixelBufferRef pixelBuffer, TimeValue64 displayTime,
                                                             TimeValue64 displayDuration,
                                                             ICMValidTimeFlags validTimeFlags, void* reserved,
                                                             void* sourceFrameRefCon);

typedef struct ICMDecompressionTrackingCallbackRecord {
  ICMDecompressionTrackingCallback decompressionTrackingCallback;
  void* decompressionTrackingRefCon;
} ICMDecompressionTrackingCallbackRecord;

#define QTM_ICM_FUNCTIONS(X)                                                                                          \
  X(OSStatus, ICMDecompressionSessionOptionsCreate,                                                                   \
    (CFAllocatorRef allocator, ICMDecompressionSessionOptionsRef * options), (allocator, options), qtmlUninitialized) \
  X(OSStatus, ICMDecompressionSessionOptionsSetProperty,                                                              \
    (ICMDecompressionSessionOptionsRef options, ComponentPropertyClass inPropClass, ComponentPropertyID inPropID,     \
     ByteCount inPropValueSize, const void* inPropValueAddress),                                                      \
    (options, inPropClass, inPropID, inPropValueSize, inPropValueAddress), qtmlUninitialized)                         \
  X(OSStatus, ICMDecompressionSessionOptionsGetProperty,                                                              \
    (ICMDecompressionSessionOptionsRef options, ComponentPropertyClass inPropClass, ComponentPropertyID inPropID,     \
     ByteCount inPropValueSize, void* outPropValueAddress, ByteCount* outPropValueSizeUsed),                          \
    (options, inPropClass, inPropID, inPropValueSize, outPropValueAddress, outPropValueSizeUsed), qtmlUninitialized)  \
  X(void, ICMDecompressionSessionOptionsRelease, (ICMDecompressionSessionOptionsRef options), (options), )            \
  X(OSStatus, ICMDecompressionSessionCreate,                                                                          \
    (CFAllocatorRef allocator, ImageDescriptionHandle desc, ICMDecompressionSessionOptionsRef options,                \
     CFDictionaryRef destinationPixelBufferAttributes,                                                                \
     ICMDecompressionTrackingCallbackRecord * trackingCallbackRecord, ICMDecompressionSessionRef * session),          \
    (allocator, desc, options, destinationPixelBufferAttributes, trackingCallbackRecord, session), qtmlUninitialized) \
  X(OSStatus, ICMDecompressionSessionDecodeFrame,                                                                     \
    (ICMDecompressionSessionRef session, const uint8_t* data, ByteCount dataSize,                                     \
     ICMFrameDecodeOptionsRef frameOptions, const ICMFrameTimeRecord* frameTime, void* sourceFrameRefCon),            \
    (session, data, dataSize, frameOptions, frameTime, sourceFrameRefCon), qtmlUninitialized)                         \
  X(OSStatus, ICMDecompressionSessionFlush, (ICMDecompressionSessionRef session), (session), qtmlUninitialized)       \
  X(void, ICMDecompressionSessionRelease, (ICMDecompressionSessionRef session), (session), )                          \
  X(CVPixelBufferRef, CVPixelBufferRetain, (CVPixelBufferRef buffer), (buffer), 0)                                    \
  X(void, CVPixelBufferRelease, (CVPixelBufferRef buffer), (buffer), )                                                \
  X(CVReturn, CVPixelBufferLockBaseAddress, (CVPixelBufferRef buffer, CVOptionFlags lockFlags), (buffer, lockFlags),  \
    kCVReturnInvalidArgument)                                                                                         \
  X(CVReturn, CVPixelBufferUnlockBaseAddress, (CVPixelBufferRef buffer, CVOptionFlags unlockFlags),                   \
    (buffer, unlockFlags), kCVReturnInvalidArgument)                                                                  \
  X(void*, CVPixelBufferGetBaseAddress, (CVPixelBufferRef buffer), (buffer), 0)                                       \
  X(size_t, CVPixelBufferGetBytesPerRow, (CVPixelBufferRef buffer), (buffer), 0)                                      \
  X(size_t, CVPixelBufferGetWidth, (CVPixelBufferRef buffer), (buffer), 0)                                            \
  X(size_t, CVPixelBufferGetHeight, (CVPixelBufferRef buffer), (buffer), 0)                                           \
  X(OSType, CVPixelBufferGetPixelFormatType, (CVPixelBufferRef buffer), (buffer), 0)                                  \
  X(CFMutableDictionaryRef, CFDictionaryCreateMutable,                                                                \
    (CFAllocatorRef allocator, CFIndex capacity, const CFDictionaryKeyCallBacks* keyCallBacks,                        \
     const CFDictionaryValueCallBacks* valueCallBacks),                                                               \
    (allocator, capacity, keyCallBacks, valueCallBacks), 0)                                                           \
  X(void, CFDictionarySetValue, (CFMutableDictionaryRef dict, const void* key, const void* value),                    \
    (dict, key, value), )                                                                                             \
  X(CFNumberRef, CFNumberCreate, (CFAllocatorRef allocator, CFNumberType type, const void* valuePtr),                 \
    (allocator, type, valuePtr), 0)                                                                                   \
  X(void, CFRelease, (CFTypeRef cf), (cf), )                                                                          \
  X(CFStringRef, __CFStringMakeConstantString, (const char* cStr), (cStr), 0)

// Data symbols; on Windows their addresses come from GetProcAddress.
#define QTM_ICM_DATA(X)                                            \
  X(const CFAllocatorRef, kCFAllocatorDefault)                     \
  X(const CFBooleanRef, kCFBooleanTrue)                            \
  X(const CFDictionaryKeyCallBacks, kCFTypeDictionaryKeyCallBacks) \
  X(const CFDictionaryValueCallBacks, kCFTypeDictionaryValueCallBacks)

#endif
