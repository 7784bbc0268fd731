// QuickTime's movie audio extraction calls and the sound description
// property call, over AudioExtraction.
#include <cstring>
#include <memory>

#include "api/export.h"
#include "api/records.h"
#include "audio/audio_extraction.h"
#include "audio/channel_layout.h"
#include "audio/sound_description.h"
#include "qtmedia.h"

struct MovieAudioExtractionRefRecord {
  std::unique_ptr<qtm::AudioExtraction> extraction;
};

namespace {

bool IsOutputFormat(QTPropertyClass c, QTPropertyID id) {
  return c == kQTPropertyClass_MovieAudioExtraction_Audio &&
         id == kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription;
}
bool IsOutputLayout(QTPropertyClass c, QTPropertyID id) {
  return c == kQTPropertyClass_MovieAudioExtraction_Audio &&
         id == kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout;
}
bool IsCurrentTime(QTPropertyClass c, QTPropertyID id) {
  return c == kQTPropertyClass_MovieAudioExtraction_Movie && id == kQTMovieAudioExtractionMoviePropertyID_CurrentTime;
}

}  // namespace

// Extracts the movie's first enabled sound track (tracks are not mixed).
QTM_EXPORT OSStatus MovieAudioExtractionBegin(Movie theMovie, uint32_t flags, MovieAudioExtractionRef* outSession) {
  if (!outSession) return paramErr;
  *outSession = nullptr;
  if (!theMovie || !theMovie->model) return invalidMovie;
  qtm::AudioExtraction::Source source;
  if (!qtm::AudioExtraction::SourceOfMovie(*theMovie->model, &source)) return invalidTrack;
  std::unique_ptr<MovieAudioExtractionRefRecord> session(new (std::nothrow) MovieAudioExtractionRefRecord());
  if (!session) return memFullErr;
  OSStatus err = qtm::AudioExtraction::Open(source, &session->extraction);
  if (err != noErr) return err;
  *outSession = session.release();
  return noErr;
}

QTM_EXPORT OSStatus MovieAudioExtractionEnd(MovieAudioExtractionRef session) {
  if (!session) return paramErr;
  delete session;
  return noErr;
}

QTM_EXPORT OSStatus MovieAudioExtractionGetPropertyInfo(MovieAudioExtractionRef session, QTPropertyClass inPropClass,
                                                        QTPropertyID inPropID, QTPropertyValueType* outPropType,
                                                        ByteCount* outPropValueSize, uint32_t* outPropertyFlags) {
  if (!session) return paramErr;
  ByteCount size = 0;
  if (IsOutputFormat(inPropClass, inPropID)) {
    size = sizeof(AudioStreamBasicDescription);
  } else if (IsOutputLayout(inPropClass, inPropID)) {
    size = static_cast<ByteCount>(qtm::LayoutRecordSize(session->extraction->OutputLayout()));
  } else if (IsCurrentTime(inPropClass, inPropID)) {
    size = sizeof(TimeRecord);
  } else {
    return kQTPropertyNotSupportedErr;
  }
  if (outPropType) *outPropType = inPropID;
  if (outPropValueSize) *outPropValueSize = size;
  if (outPropertyFlags) *outPropertyFlags = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanSetNow;
  return noErr;
}

QTM_EXPORT OSStatus MovieAudioExtractionGetProperty(MovieAudioExtractionRef session, QTPropertyClass inPropClass,
                                                    QTPropertyID inPropID, ByteCount inPropValueSize,
                                                    QTPropertyValuePtr outPropValueAddress,
                                                    ByteCount* outPropValueSizeUsed) {
  if (!session || !outPropValueAddress) return paramErr;
  qtm::AudioExtraction& x = *session->extraction;
  ByteCount used = 0;
  if (IsOutputFormat(inPropClass, inPropID)) {
    used = sizeof(AudioStreamBasicDescription);
    if (inPropValueSize < used) return kQTPropertyBadValueSizeErr;
    memcpy(outPropValueAddress, &x.OutputFormat(), used);
  } else if (IsOutputLayout(inPropClass, inPropID)) {
    used = static_cast<ByteCount>(qtm::LayoutRecordSize(x.OutputLayout()));
    if (inPropValueSize < used) return kQTPropertyBadValueSizeErr;
    qtm::WriteLayoutRecord(x.OutputLayout(), outPropValueAddress);
  } else if (IsCurrentTime(inPropClass, inPropID)) {
    used = sizeof(TimeRecord);
    if (inPropValueSize < used) return kQTPropertyBadValueSizeErr;
    TimeRecord time{};
    OSStatus err = x.GetCurrentTime(&time);
    if (err != noErr) return err;
    memcpy(outPropValueAddress, &time, used);
  } else {
    return kQTPropertyNotSupportedErr;
  }
  if (outPropValueSizeUsed) *outPropValueSizeUsed = used;
  return noErr;
}

QTM_EXPORT OSStatus MovieAudioExtractionSetProperty(MovieAudioExtractionRef session, QTPropertyClass inPropClass,
                                                    QTPropertyID inPropID, ByteCount inPropValueSize,
                                                    ConstQTPropertyValuePtr inPropValueAddress) {
  if (!session || !inPropValueAddress) return paramErr;
  qtm::AudioExtraction& x = *session->extraction;
  if (IsOutputFormat(inPropClass, inPropID)) {
    if (inPropValueSize < sizeof(AudioStreamBasicDescription)) return kQTPropertyBadValueSizeErr;
    AudioStreamBasicDescription format;
    memcpy(&format, inPropValueAddress, sizeof format);
    return x.SetOutputFormat(format);
  }
  if (IsOutputLayout(inPropClass, inPropID)) {
    qtm::CoreAudioLayout layout;
    if (!qtm::ParseLayoutRecord(inPropValueAddress, inPropValueSize, &layout)) return kQTPropertyBadValueSizeErr;
    return x.SetOutputLayout(layout);
  }
  if (IsCurrentTime(inPropClass, inPropID)) {
    if (inPropValueSize < sizeof(TimeRecord)) return kQTPropertyBadValueSizeErr;
    TimeRecord time;
    memcpy(&time, inPropValueAddress, sizeof time);
    return x.SetCurrentTime(time);
  }
  return kQTPropertyNotSupportedErr;
}

QTM_EXPORT OSStatus MovieAudioExtractionFillBuffer(MovieAudioExtractionRef session, uint32_t* ioNumFrames,
                                                   AudioBufferList* ioData, uint32_t* outFlags) {
  if (outFlags) *outFlags = 0;
  if (!session || !ioNumFrames || !ioData) return paramErr;
  return session->extraction->Fill(ioNumFrames, ioData, outFlags);
}

QTM_EXPORT OSStatus QTSoundDescriptionGetProperty(SoundDescriptionHandle inDesc, QTPropertyClass inPropClass,
                                                  QTPropertyID inPropID, ByteCount inPropValueSize,
                                                  QTPropertyValuePtr outPropValueAddress,
                                                  ByteCount* outPropValueSizeUsed) {
  if (!inDesc || !*inDesc || !outPropValueAddress) return paramErr;
  if (inPropClass != kQTPropertyClass_SoundDescription ||
      inPropID != kQTSoundDescriptionPropertyID_AudioStreamBasicDescription)
    return kQTPropertyNotSupportedErr;
  if (inPropValueSize < sizeof(AudioStreamBasicDescription)) return kQTPropertyBadValueSizeErr;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(*inDesc);
  int32_t length = (*inDesc)->descSize;
  if (length < static_cast<int32_t>(sizeof(SoundDescription))) return paramErr;
  AudioStreamBasicDescription format;
  if (!qtm::StreamFormatOfSoundDescription(bytes, static_cast<size_t>(length), &format)) return paramErr;
  memcpy(outPropValueAddress, &format, sizeof format);
  if (outPropValueSizeUsed) *outPropValueSizeUsed = sizeof format;
  return noErr;
}
