// QuickTime's decompression session operations over DecompressionSession.
#include <cstring>
#include <new>

#include "api/export.h"
#include "icm/decompression_session.h"

namespace {

qtm::DecompressionSession* Session(ICMDecompressionSessionRef ref) {
  auto* s = reinterpret_cast<qtm::DecompressionSession*>(ref);
  return s && s->magic == qtm::DecompressionSession::kMagic ? s : nullptr;
}

ICMDecompressionSessionOptionsRef Options(ICMDecompressionSessionOptionsRef ref) {
  return ref && ref->magic == OpaqueICMDecompressionSessionOptions::kMagic ? ref : nullptr;
}

std::atomic<int32_t>* OptionField(ICMDecompressionSessionOptionsRef options, ComponentPropertyClass cls,
                                  ComponentPropertyID id) {
  if (cls != kQTPropertyClass_ICMDecompressionSessionOptions) return nullptr;
  if (id == kICMDecompressionSessionOptionsPropertyID_Accuracy) return &options->accuracy;
  if (id == kICMDecompressionSessionOptionsPropertyID_FieldMode) return &options->field_mode;
  return nullptr;
}

}  // namespace

QTM_EXPORT OSStatus ICMDecompressionSessionOptionsCreate(CFAllocatorRef, ICMDecompressionSessionOptionsRef* options) {
  if (!options) return paramErr;
  *options = new (std::nothrow) OpaqueICMDecompressionSessionOptions();
  return *options ? noErr : memFullErr;
}

QTM_EXPORT OSStatus ICMDecompressionSessionOptionsSetProperty(ICMDecompressionSessionOptionsRef options,
                                                              ComponentPropertyClass inPropClass,
                                                              ComponentPropertyID inPropID, ByteCount inPropValueSize,
                                                              const void* inPropValueAddress) {
  if (!Options(options) || !inPropValueAddress) return paramErr;
  std::atomic<int32_t>* field = OptionField(options, inPropClass, inPropID);
  if (!field) return kQTPropertyNotSupportedErr;
  if (inPropValueSize != sizeof(int32_t)) return kQTPropertyBadValueSizeErr;
  int32_t value;
  memcpy(&value, inPropValueAddress, sizeof(value));
  if (inPropID == kICMDecompressionSessionOptionsPropertyID_FieldMode &&
      (value < kICMFieldMode_BothFields || value > kICMFieldMode_DeinterlaceFields))
    return paramErr;
  if (inPropID == kICMDecompressionSessionOptionsPropertyID_Accuracy &&
      (value < codecMinQuality || value > codecLosslessQuality))
    return paramErr;
  field->store(value);
  return noErr;
}

QTM_EXPORT OSStatus ICMDecompressionSessionOptionsGetProperty(ICMDecompressionSessionOptionsRef options,
                                                              ComponentPropertyClass inPropClass,
                                                              ComponentPropertyID inPropID, ByteCount inPropValueSize,
                                                              void* outPropValueAddress,
                                                              ByteCount* outPropValueSizeUsed) {
  if (!Options(options) || !outPropValueAddress) return paramErr;
  std::atomic<int32_t>* field = OptionField(options, inPropClass, inPropID);
  if (!field) return kQTPropertyNotSupportedErr;
  if (inPropValueSize < sizeof(int32_t)) return kQTPropertyBadValueSizeErr;
  int32_t value = field->load();
  memcpy(outPropValueAddress, &value, sizeof(value));
  if (outPropValueSizeUsed) *outPropValueSizeUsed = sizeof(value);
  return noErr;
}

QTM_EXPORT void ICMDecompressionSessionOptionsRelease(ICMDecompressionSessionOptionsRef options) {
  qtm::ReleaseOptions(Options(options));
}

QTM_EXPORT OSStatus ICMDecompressionSessionCreate(CFAllocatorRef, ImageDescriptionHandle desc,
                                                  ICMDecompressionSessionOptionsRef options,
                                                  CFDictionaryRef destinationPixelBufferAttributes,
                                                  ICMDecompressionTrackingCallbackRecord* trackingCallbackRecord,
                                                  ICMDecompressionSessionRef* session) {
  if (!session) return paramErr;
  *session = nullptr;
  if (!desc || !*desc) return nilHandleErr;
  if (options && !Options(options)) return paramErr;
  const ImageDescription* id = *desc;
  if (id->idSize < static_cast<int32_t>(sizeof(ImageDescription))) return badImageDescription;
  qtm::DecompressionSession* created = nullptr;
  OSStatus err =
      qtm::DecompressionSession::Create(reinterpret_cast<const uint8_t*>(id), static_cast<size_t>(id->idSize), options,
                                        destinationPixelBufferAttributes, trackingCallbackRecord, &created);
  if (err != noErr) return err;
  *session = reinterpret_cast<ICMDecompressionSessionRef>(created);
  return noErr;
}

QTM_EXPORT OSStatus ICMDecompressionSessionDecodeFrame(ICMDecompressionSessionRef session, const uint8_t* data,
                                                       ByteCount dataSize, ICMFrameDecodeOptionsRef,
                                                       const ICMFrameTimeRecord* frameTime, void* sourceFrameRefCon) {
  qtm::DecompressionSession* s = Session(session);
  if (!s) return paramErr;  // no session to report a release through
  return s->Decode(data, dataSize, frameTime, sourceFrameRefCon);
}

QTM_EXPORT OSStatus ICMDecompressionSessionFlush(ICMDecompressionSessionRef session) {
  qtm::DecompressionSession* s = Session(session);
  return s ? s->Flush() : paramErr;
}

QTM_EXPORT void ICMDecompressionSessionRelease(ICMDecompressionSessionRef session) { delete Session(session); }
