// CAudioPin: the filter's "Audio" output pin. Offers one media type, PCM in
// the extractor's wave format, asks for one buffer of one second, and on its
// worker fills each buffer with one extraction, stamped in movie time
// relative to the seek start.
#ifndef KESTREL_AUDIO_AUDIO_PIN_H
#define KESTREL_AUDIO_AUDIO_PIN_H

#include "audio/audio_extractor.h"
#include "framework/seekable_stream.h"

namespace kestrel {

class CAudioPin : public CSeekableStream {
 public:
  // pAudio is the filter's extractor, opened on a movie with sound; it must
  // outlive the pin or be taken away first with Retire.
  CAudioPin(HRESULT* phr, CSource* pFilter, AudioExtractor* pAudio, REFERENCE_TIME rtDuration);
  ~CAudioPin() override;

  // The pin no longer reaches the extractor: fills fail and seeks do nothing.
  // Its media type and worker events go; the shell stays.
  void Retire();

  HRESULT FillBuffer(IMediaSample* pSample) override;
  using CSourceStream::GetMediaType;
  HRESULT GetMediaType(CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // The audio pin does not react to quality reports: E_FAIL.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;

 protected:
  HRESULT MoveTo(REFERENCE_TIME rtStart) override;

 private:
  AudioExtractor* m_pAudio;  // not owned
};

}  // namespace kestrel

#endif
