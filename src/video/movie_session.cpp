// MovieSession's frame source.
//
// Pictures come out of the decoder later than their samples go in (delay,
// reordering, threads), possibly several in one call: a request decodes
// until one picture has been copied, and keeps the others, in order, for
// the next requests.
//
// Every picture is delivered once, in the order the decoder gives them:
// - pictures shown before m_displayFloor are not delivered: the floor is a
//   seek or skip target, or the display time of the last picture delivered;
// - several pictures may share a display time: each is delivered, with
//   that same time;
// - a skip drops the pictures already held that it passes;
// - each sample goes to the decoder once (m_includeCurrentSample: the sample
//   at the position has not gone yet), so a picture comes out once;
// - a new decoder is primed from the sync sample before the position (at
//   the end: before the last sample), and the pictures that come out again
//   are passed over up to the last delivered, m_deliveredAtFloor of them at
//   its very time.
#include "video/movie_session.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "movie/engine_loader.h"
#include "movie/media_time.h"
#include "video/pixel_format_table.h"

namespace kestrel {
namespace {

constexpr int16_t kNextSample = nextTimeMediaSample;                         // 1
constexpr int16_t kSampleHereOrNext = nextTimeMediaSample | nextTimeEdgeOK;  // 0x4001
constexpr int16_t kSyncHereOrBefore = nextTimeSyncSample | nextTimeEdgeOK;   // 0x4008
constexpr Fixed kForward = 0x00010000;
constexpr Fixed kBackward = static_cast<Fixed>(0xFFFF0000);
// More than any decoder delay; reserved, so that the decoder's callback
// never allocates.
constexpr size_t kMaxHeldPictures = 256;
// DecodeCurrentSample: the sample's data lies beyond the end of the file (a
// file cut short), which ends the stream as the end of the media does.
constexpr HRESULT kDataMissing = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

// A 32-bit value under HKLM\SOFTWARE\Corvane\Kestrel, or the default.
DWORD ReadSetting(const wchar_t* name, DWORD fallback) {
  DWORD value = fallback;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\Kestrel", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return fallback;
  DWORD read = fallback, type = 0, size = sizeof(read);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof(read))
    value = read;
  RegCloseKey(key);
  return value;
}

template <typename T>
T DataSymbol(const char* name) {
  void* address = GetEngineDataSymbol(name);
  return address ? *static_cast<T*>(address) : T{};
}

}  // namespace

MovieSession::~MovieSession() { CloseFrameSource(); }

HRESULT MovieSession::Open(const MoviePath& path) {
  CAutoLock lock(&m_lock);
  HRESULT hr = MovieFacts::Open(path);
  if (hr == S_OK) MeasurePicture();
  return hr;
}

// A decoder of its own, asked for no size and no turn, so that its first
// picture comes out at the size the stream really has, as stored; the
// samples are fed from the start, and nothing the description declares is
// allocated.
void MovieSession::MeasurePicture() {
  struct Measured {
    int32_t width = 0, height = 0;
    static void QTM_CALLBACK OnPicture(void* reference, OSStatus, ICMDecompressionTrackingFlags flags,
                                       CVPixelBufferRef buffer, TimeValue64, TimeValue64, ICMValidTimeFlags, void*,
                                       void*) {
      auto* self = static_cast<Measured*>(reference);
      if (!(flags & kICMDecompressionTracking_EmittingFrame) || !buffer || self->width > 0) return;
      self->width = static_cast<int32_t>(CVPixelBufferGetWidth(buffer));
      self->height = static_cast<int32_t>(CVPixelBufferGetHeight(buffer));
    }
  } measured;

  auto key_callbacks =
      static_cast<const CFDictionaryKeyCallBacks*>(GetEngineDataSymbol("kCFTypeDictionaryKeyCallBacks"));
  auto value_callbacks =
      static_cast<const CFDictionaryValueCallBacks*>(GetEngineDataSymbol("kCFTypeDictionaryValueCallBacks"));
  CFAllocatorRef allocator = DataSymbol<CFAllocatorRef>("kCFAllocatorDefault");
  if (!key_callbacks || !value_callbacks || !m_videoMedia || !m_sampleDescription) return;
  CFDictionaryHolder attributes(CFDictionaryCreateMutable(allocator, 0, key_callbacks, value_callbacks));
  if (!attributes) return;
  int32_t format = static_cast<int32_t>(k2vuyPixelFormat);
  CFNumberHolder number(CFNumberCreate(allocator, kCFNumberSInt32Type, &format));
  if (!number) return;
  CFDictionarySetValue(attributes.Get(), __CFStringMakeConstantString("PixelFormatType"), number.Get());
  ICMDecompressionTrackingCallbackRecord tracking = {&Measured::OnPicture, &measured};
  DecompressionSessionHolder decoder;
  if (ICMDecompressionSessionCreate(allocator, m_sampleDescription, nullptr, attributes.Get(), &tracking,
                                    decoder.Receive()) != noErr ||
      !decoder)
    return;

  std::vector<uint8_t> bytes;
  TimeValue64 time = 0;
  int16_t flags = kSampleHereOrNext;
  for (int fed = 0; fed < kMaxSamplesPerPicture && measured.width == 0; ++fed) {
    time = Step(time, flags, kForward);
    flags = kNextSample;
    ByteCount size = 0;
    if (time < 0 || GetMediaSample2(m_videoMedia, nullptr, 0, &size, time, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    1, nullptr, nullptr) != noErr)
      break;
    try {
      bytes.resize(size);
    } catch (const std::bad_alloc&) {
      break;
    }
    ByteCount read = 0;
    if (GetMediaSample2(m_videoMedia, bytes.data(), size, &read, time, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                        nullptr, nullptr) != noErr)
      break;
    ICMFrameTimeRecord frame_time = {};
    frame_time.value = time;
    frame_time.scale = m_videoTimeScale;
    frame_time.rate = fixed1;
    frame_time.recordSize = sizeof(frame_time);
    ICMDecompressionSessionDecodeFrame(decoder.Get(), bytes.data(), read, nullptr, &frame_time, nullptr);
  }
  if (measured.width == 0) ICMDecompressionSessionFlush(decoder.Get());
  if (measured.width > 0 && measured.height > 0) SetPictureSize(measured.width, measured.height);
}

HRESULT MovieSession::Close() {
  CAutoLock lock(&m_lock);
  CloseFrameSource();
  return MovieFacts::Close();
}

int64_t MovieSession::ReadingPosition() { return m_currentDecodeTime; }

void MovieSession::ReleaseDecoder() {
  CAutoLock lock(&m_lock);
  m_sessionOptions.Reset();  // the options, then the decoder
  m_decompressionSession.Reset();
  m_heldPictures.clear();
}

void MovieSession::CloseFrameSource() {
  CAutoLock lock(&m_lock);
  ReleaseDecoder();
  m_destinationBuffer = nullptr;
  m_destinationSize = 0;
  m_destinationStride = 0;
  m_flip = 0;
  m_displayFloor = INT64_MIN;
  m_deliveredAtFloor = 0;
  m_repeatsToPass = 0;
  m_frameCopied = false;
  m_flushed = false;
  m_currentDecodeTime = 0;
  m_prerolling = 0;
  m_includeCurrentSample = 1;
}

// Pictures the decoder still holds are drained and thrown away.
void MovieSession::DiscardDecoderPictures() {
  if (m_decompressionSession) {
    m_discarding = true;
    ICMDecompressionSessionFlush(m_decompressionSession.Get());
    m_discarding = false;
  }
  m_heldPictures.clear();
}

void MovieSession::RaiseFloor(int64_t time) {
  if (time <= m_displayFloor) return;
  m_displayFloor = time;
  m_deliveredAtFloor = 0;
  m_repeatsToPass = 0;
}

void MovieSession::NoteDelivered(const HeldPicture& picture) {
  m_copiedTime = picture.time;
  m_copiedDuration = picture.duration;
  if (!picture.timed) return;
  RaiseFloor(picture.time);
  ++m_deliveredAtFloor;
}

TimeValue64 MovieSession::Step(TimeValue64 from, int16_t flags, Fixed rate) {
  TimeValue64 next = -1;
  if (from >= 0 && m_videoMedia) GetMediaNextInterestingDecodeTime(m_videoMedia, flags, from, rate, &next, nullptr);
  return next < 0 ? -1 : next;
}

TimeValue64 MovieSession::DisplayTimeOf(TimeValue64 decode_time) {
  int64_t number = 0;
  TimeValue64 display = decode_time, duration = 0;
  MediaDecodeTimeToSampleNum(m_videoMedia, decode_time, &number, nullptr, nullptr);
  if (number > 0) SampleNumToMediaDisplayTime(m_videoMedia, number, &display, &duration);
  return display;
}

MovieSession::SampleBuffer* MovieSession::TakeSampleBuffer(size_t size) {
  SampleBuffer* free_buffer = nullptr;
  for (auto& b : m_sampleBuffers) {
    if (!b->in_use.load(std::memory_order_acquire)) {
      free_buffer = b.get();
      break;
    }
  }
  try {
    if (!free_buffer) {
      m_sampleBuffers.push_back(std::make_unique<SampleBuffer>());
      free_buffer = m_sampleBuffers.back().get();
    }
    if (free_buffer->bytes.size() < size) free_buffer->bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  free_buffer->in_use.store(true, std::memory_order_relaxed);
  return free_buffer;
}

// Reads the sample at the current decode time and decodes it. A sample
// shown before m_displayFloor is decoded as a reference only (frame flag
// 32), or passed over (S_FALSE) when it is droppable. kDataMissing when the
// sample's data is not in the file.
HRESULT MovieSession::DecodeCurrentSample() {
  ByteCount size = 0, count = 0;
  MediaSampleFlags sample_flags = 0;
  OSErr err = GetMediaSample2(m_videoMedia, nullptr, 0, &size, m_currentDecodeTime, nullptr, nullptr, nullptr, nullptr,
                              nullptr, 1, &count, &sample_flags);
  if (err != noErr) return err == eofErr ? kDataMissing : E_FAIL;

  int64_t number = 0;
  TimeValue64 display = m_currentDecodeTime, display_duration = 0;
  MediaDecodeTimeToSampleNum(m_videoMedia, m_currentDecodeTime, &number, nullptr, nullptr);
  SampleNumToMediaDisplayTime(m_videoMedia, number, &display, &display_duration);
  bool before_target = display < m_displayFloor;
  if (before_target && (sample_flags & mediaSampleDroppable)) return S_FALSE;

  SampleBuffer* buffer = TakeSampleBuffer(size);
  if (!buffer) return E_OUTOFMEMORY;
  ByteCount read = 0;
  if (GetMediaSample2(m_videoMedia, buffer->bytes.data(), size, &read, m_currentDecodeTime, nullptr, nullptr, nullptr,
                      nullptr, nullptr, 1, nullptr, nullptr) != noErr ||
      read > size) {
    buffer->in_use.store(false, std::memory_order_relaxed);
    return E_FAIL;
  }
  if (!m_decompressionSession) {
    buffer->in_use.store(false, std::memory_order_relaxed);
    return E_FAIL;
  }

  ICMFrameTimeRecord frame_time = {};
  frame_time.value = m_currentDecodeTime;
  frame_time.scale = m_videoTimeScale;
  frame_time.rate = fixed1;
  frame_time.recordSize = sizeof(frame_time);
  frame_time.frameNumber = static_cast<int32_t>(number);
  frame_time.flags = icmFrameTimeHasDisplayTimes | (before_target ? icmFrameTimeDoNotDisplay : 0);
  frame_time.displayOffset = display - m_currentDecodeTime;
  frame_time.displayDuration = display_duration;
  // From here the buffer is the decoder's until it reports its release.
  if (ICMDecompressionSessionDecodeFrame(m_decompressionSession.Get(), buffer->bytes.data(), read, nullptr, &frame_time,
                                         buffer) != noErr)
    return E_FAIL;
  return S_OK;
}

// Decodes from the sync sample at or before target up to the first sample
// at or after it, delivering nothing (pictures at or after m_displayFloor
// are kept for the requests to come). Leaves the position on that sample,
// with the include-current-sample flag set when it did not go to the
// decoder (a sync sample at the target, or a failure).
HRESULT MovieSession::DecodeUpTo(int64_t target) {
  m_prerolling = 1;
  bool handed = false;  // the sample at the position went to the decoder
  HRESULT hr = [&]() -> HRESULT {
    TimeValue64 sync = Step(std::max<int64_t>(target, 0), kSyncHereOrBefore, kBackward);
    // Start from an earlier sync sample when this one is shown after the
    // floor (reordered streams), or the sample just before it is shown at
    // the floor or later (display offsets): their pictures would be missed.
    while (sync > 0 && (DisplayTimeOf(sync) > m_displayFloor ||
                        DisplayTimeOf(Step(sync, kNextSample, kBackward)) >= m_displayFloor)) {
      TimeValue64 earlier = Step(sync - 1, kSyncHereOrBefore, kBackward);
      if (earlier < 0 || earlier >= sync) break;
      sync = earlier;
    }
    m_currentDecodeTime = sync;
    if (sync < 0) return S_FALSE;
    if (m_currentDecodeTime >= target) return S_OK;
    int16_t flags = kSampleHereOrNext;
    while (m_currentDecodeTime < target) {
      m_currentDecodeTime = Step(m_currentDecodeTime, flags, kForward);
      flags = kNextSample;
      handed = false;
      if (m_currentDecodeTime < 0) return S_FALSE;
      HRESULT step = DecodeCurrentSample();
      if (FAILED(step)) return step;
      handed = true;
    }
    return S_OK;
  }();
  m_prerolling = 0;
  m_includeCurrentSample = handed ? 0 : 1;
  return hr;
}

HRESULT MovieSession::CreateDecoder(OSType pixel_format) {
  CAutoLock lock(&m_lock);
  // At the end, pictures may be left to deliver: held, or in the decoder.
  bool end_pending = m_currentDecodeTime < 0 && (!m_heldPictures.empty() || !m_flushed);
  ReleaseDecoder();

  auto key_callbacks =
      static_cast<const CFDictionaryKeyCallBacks*>(GetEngineDataSymbol("kCFTypeDictionaryKeyCallBacks"));
  auto value_callbacks =
      static_cast<const CFDictionaryValueCallBacks*>(GetEngineDataSymbol("kCFTypeDictionaryValueCallBacks"));
  CFAllocatorRef allocator = DataSymbol<CFAllocatorRef>("kCFAllocatorDefault");
  CFBooleanRef yes = DataSymbol<CFBooleanRef>("kCFBooleanTrue");
  if (!key_callbacks || !value_callbacks || !yes) return E_FAIL;

  // The options first: without a decoder (no picture measured, no codec)
  // the settings can still be read and set.
  if (ICMDecompressionSessionOptionsCreate(allocator, m_sessionOptions.Receive()) != noErr || !m_sessionOptions) {
    m_sessionOptions.Reset();
    return E_FAIL;
  }
  SetDecodeAccuracy(static_cast<int32_t>(ReadSetting(L"quality", 512)));
  SetFieldMode(static_cast<int32_t>(ReadSetting(L"fieldmode", 0)));

  int32_t width = 0, height = 0;
  HRESULT hr = GetPictureSize(&width, &height);
  if (FAILED(hr)) return hr;

  CFDictionaryHolder attributes(CFDictionaryCreateMutable(allocator, 0, key_callbacks, value_callbacks));
  if (!attributes) return E_FAIL;
  int32_t format_value = static_cast<int32_t>(pixel_format);
  // The pictures come out upright, at the size GetDimensions gives.
  VideoTransform transform;
  GetVideoTransform(&transform);
  int32_t orientation = transform.orientation;
  for (auto [name, value] : {std::pair{"Width", &width},
                             {"Height", &height},
                             {"PixelFormatType", &format_value},
                             {"Orientation", &orientation}}) {
    CFNumberHolder number(CFNumberCreate(allocator, kCFNumberSInt32Type, value));
    if (!number) return E_FAIL;
    CFDictionarySetValue(attributes.Get(), __CFStringMakeConstantString(name), number.Get());
  }
  CFDictionarySetValue(attributes.Get(), __CFStringMakeConstantString("CGBitmapContextCompatibility"), yes);
  CFDictionarySetValue(attributes.Get(), __CFStringMakeConstantString("CGImageCompatibility"), yes);

  ICMDecompressionTrackingCallbackRecord tracking = {&MovieSession::OnFrameDecoded, this};
  if (ICMDecompressionSessionCreate(allocator, m_sampleDescription, m_sessionOptions.Get(), attributes.Get(), &tracking,
                                    m_decompressionSession.Receive()) != noErr ||
      !m_decompressionSession) {
    m_decompressionSession.Reset();  // the options stay
    return E_FAIL;
  }

  try {
    m_heldPictures.reserve(kMaxHeldPictures);
  } catch (const std::bad_alloc&) {
    ReleaseDecoder();
    return E_OUTOFMEMORY;
  }
  if (end_pending) {
    TimeValue64 last = Step(INT64_MAX, kNextSample, kBackward);
    if (last >= 0) {
      m_currentDecodeTime = last;
      m_includeCurrentSample = 0;
    }
  }
  // Past the first sample a fresh decoder has no references: prime it from
  // the preceding sync sample. Pictures not delivered yet come again.
  if (m_currentDecodeTime > 0 || (m_currentDecodeTime == 0 && !m_includeCurrentSample)) {
    m_flushed = false;
    m_repeatsToPass = m_deliveredAtFloor;
    // A failure leaves the sample at the position to go again: the next
    // ProduceFrame meets it and reports it.
    DecodeUpTo(m_currentDecodeTime);
  }
  return S_OK;
}

HRESULT MovieSession::ProduceFrame(uint8_t* destination, size_t size, int64_t* start, int64_t* stop) {
  CAutoLock lock(&m_lock);
  TimeValue64 time = 0, duration = 0;
  HRESULT hr = ProducePicture(destination, size, &time, &duration);
  if (hr == S_OK) {
    if (start) *start = MulDiv64(time, kUnitsPerSecond, m_videoTimeScale);
    if (stop) *stop = MulDiv64(time + duration, kUnitsPerSecond, m_videoTimeScale);
  }
  return hr;
}

HRESULT MovieSession::ProducePicture(uint8_t* destination, size_t size, TimeValue64* display_time,
                                     TimeValue64* display_duration) {
  if (!destination) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_decompressionSession || !m_videoMedia || m_videoTimeScale <= 0) return E_FAIL;
  m_destinationBuffer = destination;
  m_destinationSize = size;
  m_frameCopied = false;

  HRESULT hr = S_OK;
  for (int decoded = 0;;) {
    if (!m_heldPictures.empty()) {
      HeldPicture held = std::move(m_heldPictures.front());
      m_heldPictures.erase(m_heldPictures.begin());
      if (held.timed && held.time < m_displayFloor) continue;  // passed by a skip
      CopyPicture(held.buffer.Get());
      m_frameCopied = true;
      NoteDelivered(held);
      break;
    }
    int16_t flags = m_includeCurrentSample ? kSampleHereOrNext : kNextSample;
    m_includeCurrentSample = 0;
    m_currentDecodeTime = Step(m_currentDecodeTime, flags, kForward);
    if (m_currentDecodeTime < 0) {
      // The end: the decoder gives up what it still holds, once.
      if (m_flushed) {
        hr = S_FALSE;
        break;
      }
      m_flushed = true;
      ICMDecompressionSessionFlush(m_decompressionSession.Get());
      if (m_frameCopied) break;
      continue;
    }
    // A decoder that gives nothing back (every packet broken) must not take
    // the rest of the file into one request.
    if (++decoded > kMaxSamplesPerPicture) {
      hr = E_FAIL;
      break;
    }
    hr = DecodeCurrentSample();
    if (hr == kDataMissing) {
      // The rest of the media is not in the file: the end, as above.
      m_currentDecodeTime = -1;
      hr = S_OK;
      continue;
    }
    if (FAILED(hr)) break;
    hr = S_OK;
    if (m_frameCopied) break;
  }
  m_destinationBuffer = nullptr;
  m_destinationSize = 0;
  if (hr == S_OK) {
    if (display_time) *display_time = m_copiedTime;
    if (display_duration) *display_duration = m_copiedDuration;
  }
  return hr;
}

HRESULT MovieSession::SeekTo(int64_t position) {
  CAutoLock lock(&m_lock);
  if (!m_videoMedia || m_videoTimeScale <= 0) return S_OK;
  return SeekToMediaTime(MulDiv64(position, m_videoTimeScale, kUnitsPerSecond));
}

HRESULT MovieSession::SeekToMediaTime(TimeValue64 target) {
  CAutoLock lock(&m_lock);
  if (!m_videoMedia || m_videoTimeScale <= 0) return S_OK;
  m_targetTime = target;
  DiscardDecoderPictures();
  m_displayFloor = m_targetTime;
  m_deliveredAtFloor = 0;
  m_repeatsToPass = 0;
  m_flushed = false;
  // A failure leaves the sample at the position to go again (see above).
  DecodeUpTo(m_targetTime);
  return S_OK;
}

HRESULT MovieSession::SkipAhead(int64_t late) {
  CAutoLock lock(&m_lock);
  if (!m_videoMedia || m_videoTimeScale <= 0) return S_OK;
  int64_t late_units = MulDiv64(late, m_videoTimeScale, kUnitsPerSecond);
  if (m_currentDecodeTime < 0) {
    // At the end only pictures held or still in the decoder are left: the
    // lateness counts from the last one delivered.
    if (late_units > 0 && m_displayFloor != INT64_MIN) RaiseFloor(m_displayFloor + late_units);
    return S_OK;
  }
  m_targetTime = m_currentDecodeTime + late_units;
  m_prerolling = 1;
  if (m_currentDecodeTime < m_targetTime) {
    RaiseFloor(m_targetTime);
    // A sample not handed over yet (just after opening) is decoded first.
    int16_t flags = m_includeCurrentSample ? kSampleHereOrNext : kNextSample;
    while (m_currentDecodeTime >= 0 && m_currentDecodeTime < m_targetTime) {
      m_currentDecodeTime = Step(m_currentDecodeTime, flags, kForward);
      flags = kNextSample;
      m_includeCurrentSample = 1;
      if (m_currentDecodeTime < 0 || FAILED(DecodeCurrentSample())) break;
      m_includeCurrentSample = 0;
    }
  }
  m_prerolling = 0;
  return S_OK;
}

void MovieSession::SetStride(int32_t stride) {
  CAutoLock lock(&m_lock);
  m_destinationStride = stride;
}

void MovieSession::SetFlip(int32_t flip) {
  CAutoLock lock(&m_lock);
  m_flip = flip;
}

HRESULT MovieSession::SetSessionOption(ComponentPropertyID property, int32_t value) {
  CAutoLock lock(&m_lock);
  if (!m_sessionOptions) return E_FAIL;
  return ICMDecompressionSessionOptionsSetProperty(m_sessionOptions.Get(),
                                                   kQTPropertyClass_ICMDecompressionSessionOptions, property,
                                                   sizeof(value), &value) == noErr
             ? S_OK
             : E_FAIL;
}

HRESULT MovieSession::GetSessionOption(ComponentPropertyID property, int32_t* value) {
  if (!value) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_sessionOptions) return E_FAIL;
  return ICMDecompressionSessionOptionsGetProperty(m_sessionOptions.Get(),
                                                   kQTPropertyClass_ICMDecompressionSessionOptions, property,
                                                   sizeof(*value), value, nullptr) == noErr
             ? S_OK
             : E_FAIL;
}

HRESULT MovieSession::SetDecodeAccuracy(int32_t value) {
  return SetSessionOption(kICMDecompressionSessionOptionsPropertyID_Accuracy, value);
}

HRESULT MovieSession::SetFieldMode(int32_t value) {
  return SetSessionOption(kICMDecompressionSessionOptionsPropertyID_FieldMode, value);
}

HRESULT MovieSession::GetDecodeAccuracy(int32_t* value) {
  return GetSessionOption(kICMDecompressionSessionOptionsPropertyID_Accuracy, value);
}

HRESULT MovieSession::GetFieldMode(int32_t* value) {
  return GetSessionOption(kICMDecompressionSessionOptionsPropertyID_FieldMode, value);
}

// Runs inside a decode or flush call, under the lock the caller holds.
void QTM_CALLBACK MovieSession::OnFrameDecoded(void* reference, OSStatus, ICMDecompressionTrackingFlags flags,
                                               CVPixelBufferRef pixel_buffer, TimeValue64 display_time,
                                               TimeValue64 display_duration, ICMValidTimeFlags valid_time_flags, void*,
                                               void* source_frame) {
  if ((flags & kICMDecompressionTracking_ReleaseSourceData) && source_frame)
    static_cast<SampleBuffer*>(source_frame)->in_use.store(false, std::memory_order_release);
  auto* self = static_cast<MovieSession*>(reference);
  if (!self || !(flags & kICMDecompressionTracking_EmittingFrame) || !pixel_buffer || self->m_discarding) return;

  bool timed = (valid_time_flags & kICMValidTime_DisplayTimeStampIsValid) != 0;
  if (timed) {
    if (display_time < self->m_displayFloor) return;
    if (display_time == self->m_displayFloor && self->m_repeatsToPass > 0) {
      --self->m_repeatsToPass;  // delivered before the decoder was made anew
      return;
    }
    self->m_repeatsToPass = 0;
  }
  int64_t duration = (valid_time_flags & kICMValidTime_DisplayDurationIsValid) ? display_duration : 0;
  if (self->m_prerolling || self->m_frameCopied || !self->m_destinationBuffer) {
    if (self->m_heldPictures.size() < kMaxHeldPictures) {
      CVPixelBufferRetain(pixel_buffer);
      self->m_heldPictures.push_back({PixelBufferHolder(pixel_buffer), display_time, duration, timed});
    }
    return;
  }
  self->CopyPicture(pixel_buffer);
  self->m_frameCopied = true;
  self->NoteDelivered({PixelBufferHolder(), display_time, duration, timed});
}

void MovieSession::CopyPicture(CVPixelBufferRef buffer) {
  size_t width = CVPixelBufferGetWidth(buffer);
  size_t height = CVPixelBufferGetHeight(buffer);
  OSType format = CVPixelBufferGetPixelFormatType(buffer);
  size_t row_bytes = width * PixelFormatTable::BitsPerPixelOf(format) / 8u;
  if (row_bytes == 0) return;
  size_t stride = m_destinationStride > 0 ? static_cast<size_t>(m_destinationStride) : row_bytes;
  bool flip = m_flip == 1 && !IsYuvPixelFormat(format);

  // Top-down rows: the engine can convert the picture straight into the
  // sample, which spares a copy of every byte.
  if (!flip && m_destinationBuffer &&
      qtm_PixelBufferConvertInto(buffer, m_destinationBuffer, stride, m_destinationSize) == kCVReturnSuccess)
    return;

  if (CVPixelBufferLockBaseAddress(buffer, 0) != kCVReturnSuccess) return;
  const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(buffer));
  if (base)
    CopyRows(static_cast<uint32_t>(height), base, CVPixelBufferGetBytesPerRow(buffer), m_destinationBuffer, stride,
             row_bytes, flip, m_destinationSize);
  CVPixelBufferUnlockBaseAddress(buffer, 0);
}

void MovieSession::CopyRows(uint32_t rows, const uint8_t* source, size_t source_stride, uint8_t* destination,
                            size_t destination_stride, size_t row_bytes, bool flip, size_t destination_size) {
  if (!source || !destination || destination_stride == 0) return;
  size_t bytes = std::min(row_bytes, destination_stride);
  for (uint32_t i = 0; i < rows; ++i) {
    size_t row = flip ? rows - 1 - i : i;
    size_t offset = row * destination_stride;
    if (offset >= destination_size) continue;
    memcpy(destination + offset, source + i * source_stride, std::min(bytes, destination_size - offset));
  }
}

}  // namespace kestrel
