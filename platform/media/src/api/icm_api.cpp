// QuickTime's image decompression calls (icm.h): the decompression session
// and its options over DecompressionSession, the pixel buffers it gives,
// and the few Core Foundation objects its options are made of.
#include <cstring>
#include <new>

#include "api/export.h"
#include "icm/cf_objects.h"
#include "icm/decompression_session.h"
#include "icm/pixel_buffer.h"

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

// ---- Pixel buffers.

using qtm::ValidPixelBuffer;

QTM_EXPORT CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef buffer) {
  qtm::RetainPixelBuffer(ValidPixelBuffer(buffer));
  return buffer;
}

QTM_EXPORT void CVPixelBufferRelease(CVPixelBufferRef buffer) { qtm::ReleasePixelBuffer(ValidPixelBuffer(buffer)); }

QTM_EXPORT CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  if (!b) return kCVReturnInvalidArgument;
  if (!qtm::ResolvePendingPicture(b)) return kCVReturnError;
  b->locks.fetch_add(1, std::memory_order_relaxed);
  return kCVReturnSuccess;
}

QTM_EXPORT CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  if (!b) return kCVReturnInvalidArgument;
  int locks = b->locks.load(std::memory_order_relaxed);
  while (locks > 0 && !b->locks.compare_exchange_weak(locks, locks - 1)) {
  }
  return locks > 0 ? kCVReturnSuccess : kCVReturnInvalidArgument;
}

QTM_EXPORT void* CVPixelBufferGetBaseAddress(CVPixelBufferRef buffer) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  return b && b->locks.load(std::memory_order_relaxed) > 0 ? b->data : nullptr;
}

QTM_EXPORT size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef buffer) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  return b ? b->bytes_per_row : 0;
}

QTM_EXPORT size_t CVPixelBufferGetWidth(CVPixelBufferRef buffer) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  return b ? static_cast<size_t>(b->width) : 0;
}

QTM_EXPORT size_t CVPixelBufferGetHeight(CVPixelBufferRef buffer) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  return b ? static_cast<size_t>(b->height) : 0;
}

QTM_EXPORT OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef buffer) {
  QtmPixelBuffer* b = ValidPixelBuffer(buffer);
  return b ? b->format : 0;
}

// ---- Core Foundation objects.

using qtm::AsCFObject;

QTM_EXPORT const CFAllocatorRef kCFAllocatorDefault = nullptr;
QTM_EXPORT const CFBooleanRef kCFBooleanTrue = &qtm::g_true_object;
QTM_EXPORT const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       nullptr, nullptr,
                                                                           nullptr, nullptr, nullptr};
QTM_EXPORT const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

QTM_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                            const CFDictionaryKeyCallBacks* keyCallBacks,
                                                            const CFDictionaryValueCallBacks* valueCallBacks) {
  // Only the type callbacks are supported: keys and values are CF objects.
  if (capacity < 0 || keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
      valueCallBacks != &kCFTypeDictionaryValueCallBacks)
    return nullptr;
  auto* dict = new (std::nothrow) qtm::CFDictionary();
  if (dict && capacity > 0) dict->entries.reserve(static_cast<size_t>(capacity));
  return dict;
}

QTM_EXPORT void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
  const QtmCFObject* d = AsCFObject(dict);
  const QtmCFObject* k = AsCFObject(key);
  const QtmCFObject* v = AsCFObject(value);
  if (!d || d->kind != QtmCFObject::Kind::kDictionary || !k || !v) return;
  auto* entries = &static_cast<qtm::CFDictionary*>(dict)->entries;
  qtm::CFRetainObject(k);
  qtm::CFRetainObject(v);
  for (auto& entry : *entries) {
    bool same_key =
        entry.first == k ||
        (entry.first->kind == QtmCFObject::Kind::kString && k->kind == QtmCFObject::Kind::kString &&
         static_cast<const qtm::CFString*>(entry.first)->text == static_cast<const qtm::CFString*>(k)->text);
    if (same_key) {
      qtm::CFReleaseObject(entry.first);
      qtm::CFReleaseObject(entry.second);
      entry = {k, v};
      return;
    }
  }
  entries->emplace_back(k, v);
}

QTM_EXPORT CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  if (type != kCFNumberSInt32Type || !valuePtr) return nullptr;
  int32_t value;
  memcpy(&value, valuePtr, sizeof(value));
  return new (std::nothrow) qtm::CFNumber(value);
}

QTM_EXPORT void CFRelease(CFTypeRef cf) { qtm::CFReleaseObject(AsCFObject(cf)); }

QTM_EXPORT CFStringRef __CFStringMakeConstantString(const char* cStr) { return qtm::ConstantCFString(cStr); }
