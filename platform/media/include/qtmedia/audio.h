// Movie audio extraction and sound-description properties: Core Audio's
// records as QuickTime 7 hands them out, and the extraction session calls.
#ifndef QTMEDIA_AUDIO_H
#define QTMEDIA_AUDIO_H

#include "qtmedia/movies.h"

typedef OSType QTPropertyClass;
typedef OSType QTPropertyID;
typedef OSType QTPropertyValueType;
typedef void* QTPropertyValuePtr;
typedef const void* ConstQTPropertyValuePtr;
typedef uint32_t AudioFormatID;
typedef uint32_t AudioFormatFlags;
typedef uint32_t AudioChannelLayoutTag;
typedef uint32_t AudioChannelLabel;
typedef uint32_t AudioChannelBitmap;
typedef uint32_t AudioChannelFlags;

typedef struct AudioStreamBasicDescription {
  double mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  uint32_t mBytesPerPacket;
  uint32_t mFramesPerPacket;
  uint32_t mBytesPerFrame;
  uint32_t mChannelsPerFrame;
  uint32_t mBitsPerChannel;
  uint32_t mReserved;
} AudioStreamBasicDescription;  // 40 bytes

typedef struct AudioBuffer {
  uint32_t mNumberChannels;
  uint32_t mDataByteSize;
  void* mData;
} AudioBuffer;

typedef struct AudioBufferList {
  uint32_t mNumberBuffers;
  AudioBuffer mBuffers[1];  // mNumberBuffers of them
} AudioBufferList;

typedef struct AudioChannelDescription {
  AudioChannelLabel mChannelLabel;
  AudioChannelFlags mChannelFlags;
  float mCoordinates[3];
} AudioChannelDescription;  // 20 bytes

typedef struct AudioChannelLayout {
  AudioChannelLayoutTag mChannelLayoutTag;
  AudioChannelBitmap mChannelBitmap;
  uint32_t mNumberChannelDescriptions;
  AudioChannelDescription mChannelDescriptions[1];  // mNumberChannelDescriptions of them
} AudioChannelLayout;                               // 32 bytes with one description

typedef struct MovieAudioExtractionRefRecord* MovieAudioExtractionRef;

enum {
  kQTPropertyClass_MovieAudioExtraction_Audio = 0x78617564,                         // 'xaud'
  kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription = 0x61736264,  // 'asbd'
  kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout = 0x636C6179,           // 'clay'
  kQTPropertyClass_MovieAudioExtraction_Movie = 0x786D6F76,                         // 'xmov'
  kQTMovieAudioExtractionMoviePropertyID_CurrentTime = 0x74696D65,                  // 'time'
  kQTPropertyClass_SoundDescription = 0x73646573,                                   // 'sdes'
  kQTSoundDescriptionPropertyID_AudioStreamBasicDescription = 0x61736264            // 'asbd'
};

// Property flags of GetPropertyInfo.
enum { kComponentPropertyFlagCanSetNow = 1 << 0, kComponentPropertyFlagCanGetNow = 1 << 3 };

// Fill flags: set once the last frames have been delivered.
enum { kQTMovieAudioExtractionComplete = 1 << 0 };

// Format identifiers and flags.
enum {
  kAudioFormatLinearPCM = 0x6C70636D,  // 'lpcm'
  kAudioFormatFlagIsFloat = 1 << 0,
  kAudioFormatFlagIsBigEndian = 1 << 1,
  kAudioFormatFlagIsSignedInteger = 1 << 2,
  kAudioFormatFlagIsPacked = 1 << 3,
  kAudioFormatFlagIsAlignedHigh = 1 << 4,
  kAudioFormatFlagIsNonInterleaved = 1 << 5
};

// Channel layout tags: (layout number << 16) | channel count.
#define QTM_LAYOUT_TAG(number, channels) ((AudioChannelLayoutTag)(((uint32_t)(number) << 16) | (channels)))
enum {
  kAudioChannelLayoutTag_UseChannelDescriptions = 0,
  kAudioChannelLayoutTag_UseChannelBitmap = 1u << 16,
  kAudioChannelLayoutTag_Mono = QTM_LAYOUT_TAG(100, 1),
  kAudioChannelLayoutTag_Stereo = QTM_LAYOUT_TAG(101, 2),
  kAudioChannelLayoutTag_Quadraphonic = QTM_LAYOUT_TAG(108, 4),
  kAudioChannelLayoutTag_Pentagonal = QTM_LAYOUT_TAG(109, 5),
  kAudioChannelLayoutTag_Hexagonal = QTM_LAYOUT_TAG(110, 6),
  kAudioChannelLayoutTag_Octagonal = QTM_LAYOUT_TAG(111, 8),
  kAudioChannelLayoutTag_MPEG_3_0_A = QTM_LAYOUT_TAG(113, 3),  // L R C
  kAudioChannelLayoutTag_MPEG_3_0_B = QTM_LAYOUT_TAG(114, 3),  // C L R
  kAudioChannelLayoutTag_MPEG_4_0_A = QTM_LAYOUT_TAG(115, 4),  // L R C Cs
  kAudioChannelLayoutTag_MPEG_4_0_B = QTM_LAYOUT_TAG(116, 4),  // C L R Cs
  kAudioChannelLayoutTag_MPEG_5_0_A = QTM_LAYOUT_TAG(117, 5),  // L R C Ls Rs
  kAudioChannelLayoutTag_MPEG_5_0_D = QTM_LAYOUT_TAG(120, 5),  // C L R Ls Rs
  kAudioChannelLayoutTag_MPEG_5_1_A = QTM_LAYOUT_TAG(121, 6),  // L R C LFE Ls Rs
  kAudioChannelLayoutTag_MPEG_5_1_D = QTM_LAYOUT_TAG(124, 6),  // C L R Ls Rs LFE
  kAudioChannelLayoutTag_MPEG_6_1_A = QTM_LAYOUT_TAG(125, 7),  // L R C LFE Ls Rs Cs
  kAudioChannelLayoutTag_MPEG_7_1_B = QTM_LAYOUT_TAG(127, 8),  // C Lc Rc L R Ls Rs LFE
  kAudioChannelLayoutTag_MPEG_7_1_C = QTM_LAYOUT_TAG(128, 8),  // L R C LFE Ls Rs Rls Rrs
  kAudioChannelLayoutTag_AAC_6_1 = QTM_LAYOUT_TAG(142, 7),     // C L R Ls Rs Cs LFE
  kAudioChannelLayoutTag_Unknown = 0xFFFF0000u
};

// X(return type, name, (parameters), (arguments), value when the engine is missing)
#define QTM_AUDIO_FUNCTIONS(X)                                                                                       \
  X(OSStatus, MovieAudioExtractionBegin, (Movie theMovie, uint32_t flags, MovieAudioExtractionRef * outSession),     \
    (theMovie, flags, outSession), qtmlUninitialized)                                                                \
  X(OSStatus, MovieAudioExtractionEnd, (MovieAudioExtractionRef session), (session), qtmlUninitialized)              \
  X(OSStatus, MovieAudioExtractionGetPropertyInfo,                                                                   \
    (MovieAudioExtractionRef session, QTPropertyClass inPropClass, QTPropertyID inPropID,                            \
     QTPropertyValueType * outPropType, ByteCount * outPropValueSize, uint32_t * outPropertyFlags),                  \
    (session, inPropClass, inPropID, outPropType, outPropValueSize, outPropertyFlags), qtmlUninitialized)            \
  X(OSStatus, MovieAudioExtractionGetProperty,                                                                       \
    (MovieAudioExtractionRef session, QTPropertyClass inPropClass, QTPropertyID inPropID, ByteCount inPropValueSize, \
     QTPropertyValuePtr outPropValueAddress, ByteCount * outPropValueSizeUsed),                                      \
    (session, inPropClass, inPropID, inPropValueSize, outPropValueAddress, outPropValueSizeUsed), qtmlUninitialized) \
  X(OSStatus, MovieAudioExtractionSetProperty,                                                                       \
    (MovieAudioExtractionRef session, QTPropertyClass inPropClass, QTPropertyID inPropID, ByteCount inPropValueSize, \
     ConstQTPropertyValuePtr inPropValueAddress),                                                                    \
    (session, inPropClass, inPropID, inPropValueSize, inPropValueAddress), qtmlUninitialized)                        \
  X(OSStatus, MovieAudioExtractionFillBuffer,                                                                        \
    (MovieAudioExtractionRef session, uint32_t * ioNumFrames, AudioBufferList * ioData, uint32_t * outFlags),        \
    (session, ioNumFrames, ioData, outFlags), qtmlUninitialized)                                                     \
  X(OSStatus, QTSoundDescriptionGetProperty,                                                                         \
    (SoundDescriptionHandle inDesc, QTPropertyClass inPropClass, QTPropertyID inPropID, ByteCount inPropValueSize,   \
     QTPropertyValuePtr outPropValueAddress, ByteCount * outPropValueSizeUsed),                                      \
    (inDesc, inPropClass, inPropID, inPropValueSize, outPropValueAddress, outPropValueSizeUsed), qtmlUninitialized)

#define QTM_AUDIO_DATA(X)

#endif
