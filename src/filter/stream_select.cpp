// CKestrel's IAMStreamSelect: the movie's sound tracks. They form one group
// (the audio pin plays one at a time); the one that plays is enabled and
// exclusive. A track's media type is its stream's (stream_select's
// StreamTypeOfTrack); its name carries its language code. Every method runs under the filter's state lock; a
// reconnection after a change of format runs after it is released.
#include <windows.h>

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cwchar>
#include <new>

#include "filter/kestrel.h"
#include "movie/movie_file.h"

namespace kestrel {
namespace {

// The group every sound track is in.
constexpr DWORD kAudioGroup = 1;

// A track's stream as a media type: the subtype its format (PCM for linear
// PCM, else the format's four characters as a FOURCC subtype), and a
// WAVEFORMATEXTENSIBLE with its channels, rate and the depth the pin
// delivers it at; the speakers where known (the track that plays).
HRESULT StreamTypeOfTrack(const AudioTrack& track, DWORD speakers, CMediaType* mt) {
  GUID subtype = MEDIASUBTYPE_PCM;
  if (track.format != kAudioFormatLinearPCM) {
    const OSType f = track.format;  // first character in the high byte
    subtype.Data1 = (f >> 24) | ((f >> 8) & 0xFF00) | ((f << 8) & 0xFF0000) | (f << 24);
  }
  WAVEFORMATEXTENSIBLE wfx = {};
  wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfx.Format.nChannels = static_cast<WORD>(track.channels);
  wfx.Format.nSamplesPerSec = track.rate;
  wfx.Format.wBitsPerSample = static_cast<WORD>(track.bits);
  wfx.Format.nBlockAlign = static_cast<WORD>(track.channels * track.bits / 8);
  wfx.Format.nAvgBytesPerSec = wfx.Format.nBlockAlign * track.rate;
  wfx.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wfx.Samples.wValidBitsPerSample = static_cast<WORD>(track.bits);
  wfx.dwChannelMask = speakers;
  wfx.SubFormat = subtype;
  HRESULT hr = mt->SetFormat(reinterpret_cast<const BYTE*>(&wfx), sizeof(wfx));
  if (FAILED(hr)) return hr;
  mt->SetType(MEDIATYPE_Audio);
  mt->SetSubtype(subtype);
  mt->SetFormatType(FORMAT_WaveFormatEx);
  mt->SetTemporalCompression(FALSE);
  mt->SetSampleSize(wfx.Format.nBlockAlign);
  return S_OK;
}

// Two extractors deliver the same PCM: rate, channels, depth, speakers.
bool SameOutput(AudioExtractor& a, AudioExtractor& b) {
  WAVEFORMATEXTENSIBLE x = {}, y = {};
  HRESULT ha = a.GetWaveFormatExtensible(&x), hb = b.GetWaveFormatExtensible(&y);
  if (FAILED(ha) || FAILED(hb)) return FAILED(ha) && FAILED(hb);
  return memcmp(&x, &y, sizeof(x)) == 0;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CKestrel::Count(DWORD* pcStreams) {
  if (!pcStreams) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *pcStreams = m_pAudio ? static_cast<DWORD>(m_pAudio->Tracks().size()) : 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::Info(LONG lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid,
                                         DWORD* pdwGroup, WCHAR** ppszName, IUnknown** ppObject, IUnknown** ppUnk) {
  if (ppmt) *ppmt = nullptr;
  if (ppszName) *ppszName = nullptr;
  if (ppObject) *ppObject = nullptr;
  if (ppUnk) *ppUnk = nullptr;
  CAutoLock lock(&m_cStateLock);
  if (!m_pAudio || lIndex < 0 || static_cast<size_t>(lIndex) >= m_pAudio->Tracks().size()) return E_INVALIDARG;
  const AudioTrack& track = m_pAudio->Tracks()[static_cast<size_t>(lIndex)];
  const bool playing = lIndex == m_pAudio->SelectedTrack();
  if (pdwFlags) *pdwFlags = playing ? (AMSTREAMSELECTINFO_ENABLED | AMSTREAMSELECTINFO_EXCLUSIVE) : 0;
  if (plcid) *plcid = track.language.lcid;
  if (pdwGroup) *pdwGroup = kAudioGroup;
  if (ppszName) {
    std::wstring name;
    try {
      name = DisplayName(track);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    wmemcpy(copy, name.c_str(), name.size() + 1);
    *ppszName = copy;
  }
  if (ppmt) {
    // The track that plays as it is delivered (a decoder may give another
    // rate or count than the description says).
    AudioTrack facts = track;
    WAVEFORMATEXTENSIBLE delivered = {};
    if (playing && SUCCEEDED(m_pAudio->GetWaveFormatExtensible(&delivered))) {
      facts.channels = delivered.Format.nChannels;
      facts.rate = delivered.Format.nSamplesPerSec;
      facts.bits = delivered.Format.wBitsPerSample;
    }
    CMediaType mt;
    HRESULT hr = StreamTypeOfTrack(facts, delivered.dwChannelMask, &mt);
    if (SUCCEEDED(hr)) *ppmt = CreateMediaType(&mt);
    if (!*ppmt) {
      if (ppszName) {
        CoTaskMemFree(*ppszName);
        *ppszName = nullptr;
      }
      return SUCCEEDED(hr) ? E_OUTOFMEMORY : hr;
    }
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::Enable(LONG lIndex, DWORD dwFlags) {
  ComPtr<IPin> reconnect;
  ComPtr<IFilterGraph> graph;
  {
    CAutoLock lock(&m_cStateLock);
    if (!m_pAudio || lIndex < 0 || static_cast<size_t>(lIndex) >= m_pAudio->Tracks().size()) return E_INVALIDARG;
    // One track plays: none, or all, cannot.
    if (dwFlags != AMSTREAMSELECTENABLE_ENABLE) return E_NOTIMPL;
    if (lIndex == m_pAudio->SelectedTrack()) return S_OK;
    if (!m_pAudioPin || !m_pFileName) return E_UNEXPECTED;

    std::unique_ptr<AudioExtractor> next(new (std::nothrow) AudioExtractor());
    if (!next) return E_OUTOFMEMORY;
    HRESULT hr = next->Open(m_pFileName.get(), static_cast<int>(lIndex));
    if (FAILED(hr)) return hr;
    const bool same = SameOutput(*m_pAudio, *next);
    // Another format while streaming would need the pin connected anew.
    if (!same && m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    hr = m_pAudioPin->ChangeSource(next.get());
    m_pAudio.swap(next);
    next->Close();  // the pin no longer reaches it
    if (FAILED(hr)) return hr;
    if (!same && m_pAudioPin->IsConnected() && m_pGraph) {
      reconnect.Assign(static_cast<IPin*>(m_pAudioPin.get()));
      graph.Assign(m_pGraph);
    }
  }
  if (!reconnect) return S_OK;
  // The graph disconnects both ends and connects them again, with the new
  // types: outside the state lock, which the graph's own calls take.
  ComPtr<IFilterGraph2> graph2;
  if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, graph2.ReleaseAndGetVoidAddress())))
    return graph2->ReconnectEx(reconnect.Get(), nullptr);
  return graph->Reconnect(reconnect.Get());
}

}  // namespace kestrel
