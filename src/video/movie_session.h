// MovieSession: the movie's facts (MovieFacts) and its frame source:
// compressed samples of the video media into a decompression session, the
// pictures copied out in display order with the negotiated stride and flip.
// Every operation takes the session's re-entrant lock.
#ifndef KESTREL_VIDEO_MOVIE_SESSION_H
#define KESTREL_VIDEO_MOVIE_SESSION_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "movie/engine_ref.h"
#include "movie/movie_facts.h"

namespace kestrel {

class MovieSession : public MovieFacts {
 public:
  MovieSession() = default;
  ~MovieSession() override;

  // MovieFacts::Open, then the size of the pictures the decoder makes of
  // the video, measured on the first one (at most kMaxSamplesPerPicture
  // samples from the start): every buffer is made for it. Without a
  // picture no size is kept, and no decoder can be made.
  HRESULT Open(const MoviePath& path);
  // The decoder, then the movie.
  HRESULT Close() override;

  static constexpr int kMaxSamplesPerPicture = 512;

  // A decoder for a QuickTime pixel format ('2vuy', 'yuvs', 'BGRA') at the
  // measured picture size, with the registry's "quality" and "fieldmode";
  // S_OK or E_FAIL (also without a measured size). Keeps the
  // reading position; made past the first sample, it is primed from the
  // preceding sync sample.
  HRESULT CreateDecoder(OSType pixel_format);
  // The next picture in display order into destination (size bytes), with
  // its display time and the end of its display, in 100 ns units of the
  // media's own timeline (edit lists are the caller's). S_OK once a picture
  // has been copied; S_FALSE at the end of the media, after every held
  // picture; E_FAIL; E_OUTOFMEMORY.
  // A stream whose decoder gives no picture for kMaxSamplesPerPicture
  // samples in a row answers E_FAIL rather than reading on.
  HRESULT ProduceFrame(uint8_t* destination, size_t size, int64_t* start, int64_t* stop);
  // The same with the display time and duration in the media's time scale.
  HRESULT ProducePicture(uint8_t* destination, size_t size, TimeValue64* display_time, TimeValue64* display_duration);
  // Always S_OK; a failure shows at the next ProduceFrame.
  HRESULT SeekTo(int64_t position);
  // The same with the target in the media's time scale.
  HRESULT SeekToMediaTime(TimeValue64 target);
  // Passes over the pictures shown before the position plus late (at the
  // end of the media: the last picture delivered plus late).
  HRESULT SkipAhead(int64_t late);
  void SetStride(int32_t stride);  // 0: the picture's row bytes
  void SetFlip(int32_t flip);
  HRESULT SetDecodeAccuracy(int32_t value);
  HRESULT SetFieldMode(int32_t value);
  HRESULT GetDecodeAccuracy(int32_t* value);
  HRESULT GetFieldMode(int32_t* value);
  // The decoder's tracking callback; reference is the session.
  static void QTM_CALLBACK OnFrameDecoded(void* reference, OSStatus status, ICMDecompressionTrackingFlags flags,
                                          CVPixelBufferRef pixel_buffer, TimeValue64 display_time,
                                          TimeValue64 display_duration, ICMValidTimeFlags valid_time_flags,
                                          void* reserved, void* source_frame);
  // rows rows of row_bytes from source to destination, bottom-up when flip;
  // nothing is written outside destination_size bytes, and no more than a
  // destination stride of each row.
  static void CopyRows(uint32_t rows, const uint8_t* source, size_t source_stride, uint8_t* destination,
                       size_t destination_stride, size_t row_bytes, bool flip, size_t destination_size);

 protected:
  int64_t ReadingPosition() override;

 private:
  struct SampleBuffer {
    std::vector<uint8_t> bytes;
    std::atomic<bool> in_use{false};
  };
  struct HeldPicture {
    PixelBufferHolder buffer;
    int64_t time, duration;
    bool timed;  // time is a valid display time
  };
  void MeasurePicture();
  void ReleaseDecoder();
  void CloseFrameSource();
  // One 32-bit property of the decoder's options; E_FAIL without options.
  HRESULT SetSessionOption(ComponentPropertyID property, int32_t value);
  HRESULT GetSessionOption(ComponentPropertyID property, int32_t* value);
  void DiscardDecoderPictures();
  // Pictures shown before time are not delivered from now on.
  void RaiseFloor(int64_t time);
  void NoteDelivered(const HeldPicture& picture);
  TimeValue64 Step(TimeValue64 from, int16_t flags, Fixed rate);
  HRESULT DecodeCurrentSample();
  TimeValue64 DisplayTimeOf(TimeValue64 decode_time);
  HRESULT DecodeUpTo(int64_t target);
  void CopyPicture(CVPixelBufferRef buffer);
  SampleBuffer* TakeSampleBuffer(size_t size);

  DecompressionSessionHolder m_decompressionSession;
  DecompressionOptionsHolder m_sessionOptions;
  uint8_t* m_destinationBuffer = nullptr;
  int32_t m_destinationStride = 0;
  int32_t m_flip = 0;
  size_t m_destinationSize = 0;
  int64_t m_currentDecodeTime = 0;
  int64_t m_targetTime = 0;
  int32_t m_prerolling = 0;
  int32_t m_includeCurrentSample = 1;  // the sample at the position has not gone to the decoder
  // Pictures with a display time below this are not delivered: a seek or
  // skip target, or the time of the last picture delivered, of which
  // m_deliveredAtFloor were delivered at exactly this time. After a new
  // decoder is primed, m_repeatsToPass of the pictures at this time come
  // again and are passed over.
  int64_t m_displayFloor = INT64_MIN;
  int32_t m_deliveredAtFloor = 0;
  int32_t m_repeatsToPass = 0;
  bool m_frameCopied = false;  // in the ProduceFrame under way
  int64_t m_copiedTime = 0, m_copiedDuration = 0;
  bool m_discarding = false;                // pictures emitted now are thrown away
  bool m_flushed = false;                   // the end was reached and the decoder drained
  std::vector<HeldPicture> m_heldPictures;  // emitted, not yet delivered, display order
  std::vector<std::unique_ptr<SampleBuffer>> m_sampleBuffers;
};

}  // namespace kestrel

#endif
