// CAudioPin: the filter's "Audio" output pin. Offers PCM in the extractor's
// format: WAVEFORMATEXTENSIBLE with the channels' speakers first when the
// sound has more than two channels or more than 16 bits, and the plain wave
// format (WAVE_FORMAT_PCM) always; asks for one buffer of one second, and
// on its worker fills each buffer with one extraction, stamped in movie
// time relative to the seek start.
#ifndef KESTREL_AUDIO_AUDIO_PIN_H
#define KESTREL_AUDIO_AUDIO_PIN_H

#include "audio/audio_extractor.h"
#include "framework/seekable_stream.h"

namespace kestrel {

class CAudioPin : public CSeekableStream {
 public:
  // pAudio is the filter's extractor, opened on a movie with sound; it must
  // outlive the pin or be taken away first with Retire or ChangeSource.
  CAudioPin(HRESULT* phr, CSource* pFilter, AudioExtractor* pAudio, REFERENCE_TIME rtDuration);
  ~CAudioPin() override;

  // The pin no longer reaches the extractor: fills fail and seeks do nothing.
  void Retire();

  // Plays pAudio from now on, from where the pin is (PlayingPosition): a
  // worker that streams is stopped and downstream flushed first, then run
  // again; its first sample is a discontinuity and the times go on on the
  // same timeline. Under the filter's state lock. The media types change
  // with it; reconnecting a pin whose type no longer matches is the
  // caller's. S_OK, or the failure of the move.
  HRESULT ChangeSource(AudioExtractor* pAudio);

  HRESULT FillBuffer(IMediaSample* pSample) override;
  // Position 0: WAVEFORMATEXTENSIBLE where the extractor offers it, else the
  // plain format; position 1: the plain format after the extensible one.
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  // Either offered type, byte for byte.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // The audio pin does not react to quality reports: E_FAIL.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;

 protected:
  HRESULT MoveTo(REFERENCE_TIME rtStart) override;

 private:
  // The type of one format block, and the count of types offered.
  HRESULT MediaTypeOf(const BYTE* format, ULONG length, WORD block_align, CMediaType* pmt);
  int OfferedTypes();

  AudioExtractor* m_pAudio;  // not owned
};

}  // namespace kestrel

#endif
