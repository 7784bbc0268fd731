#include "filter/kestrel.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "base/log.h"
#include "movie/movie_diagnosis.h"
#include "movie/movie_file.h"

namespace kestrel {
namespace {

int Milliseconds(int64_t media_time) { return static_cast<int>(media_time / 10000); }

// How the log names a stream.
struct StreamNames {
  const wchar_t* heading;
  const wchar_t* name;  // at the start of a line
  const wchar_t* noun;  // within one
};
constexpr StreamNames kVideoNames = {L"-[VIDEO INFO]-----", L"Video", L"video"};
constexpr StreamNames kAudioNames = {L"-[AUDIO INFO]-----", L"Audio", L"audio"};

// One stream's part of a load: its log heading, its source opened, and its
// pin when the file has the stream. `has` asks the source whether it does;
// `before_pin` logs what else is known of it before the pin is made.
template <typename Source, typename Has, typename BeforePin, typename Pin>
HRESULT LoadStream(CKestrel* filter, LPCOLESTR file, const StreamNames& names, std::unique_ptr<Source>* source, Has has,
                   BeforePin before_pin, std::unique_ptr<Pin>* pin) {
  WriteLog(L"");
  WriteLog(names.heading);
  WriteLog(L"");
  source->reset(new (std::nothrow) Source());
  if (!*source) return E_OUTOFMEMORY;
  if (FAILED((*source)->Open(file))) return E_FAIL;
  int32_t has_stream = 0;
  if (FAILED(((**source).*has)(&has_stream))) return E_FAIL;
  if (!has_stream) {
    WriteLog(L"File doesn't have %s.", names.noun);
    return S_OK;
  }
  int64_t duration = 0;
  if (FAILED((*source)->GetDuration(&duration))) return E_FAIL;
  WriteLog(L"%s duration: %I64d (%d ms)", names.name, duration, Milliseconds(duration));
  before_pin();
  HRESULT hr = S_OK;
  pin->reset(new (std::nothrow) Pin(&hr, filter, source->get(), duration));
  if (!*pin) return E_OUTOFMEMORY;
  return FAILED(hr) ? E_FAIL : S_OK;
}

// One line saying why a Load failed, as the engine reads the file: the log
// is all that another application's user sees of it.
void LogWhyLoadFails(LPCOLESTR path) {
  try {
    std::string text = "The file does not load.";
    MovieDiagnosis diagnosis;
    if (SUCCEEDED(DiagnoseMovie(MoviePath(path), &diagnosis))) WhyLoadFails(diagnosis, &text);
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (chars <= 0) return;
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), chars);
    WriteLog(L"ERROR! %s", wide.c_str());
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

CUnknown* WINAPI CKestrel::CreateInstance(IUnknown* pUnkOuter, HRESULT* phr) {
  ResetLog();
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CKestrel(pUnkOuter, &hr);
  if (!filter) hr = E_OUTOFMEMORY;
  if (filter && FAILED(hr)) {
    delete filter;
    filter = nullptr;
  }
  if (phr) *phr = hr;
  return filter;
}

CKestrel::CKestrel(IUnknown* pUnkOuter, HRESULT* phr) : CSource(nullptr, pUnkOuter, CLSID_Kestrel) {
  WriteLog(L"-[Initialization]-----");
  WriteLog(L"");
  WriteLog(L"Quicktime Filter Initialization started.");
  HRESULT hr = E_FAIL;
  if (InitializeQTML(0) == noErr && EnterMovies() == noErr) {
    m_bMoviesEntered = true;
    hr = S_OK;
  }
  if (phr) *phr = hr;
}

CKestrel::~CKestrel() {
  // Workers call into the pins: they end while the pins are whole.
  CBaseFilter::Stop();
  m_pVideoPin.reset();
  m_pAudioPin.reset();
  m_retiredPins.clear();
  m_pUserData.reset();
  if (m_pAudio) m_pAudio->Close();
  m_pAudio.reset();
  if (m_pMovie) m_pMovie->Close();
  m_pMovie.reset();
  m_pFileName.reset();
  if (m_bMoviesEntered) ExitMovies();
  m_mt.Clear();
}

HRESULT STDMETHODCALLTYPE CKestrel::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (riid == IID_IQTControl) return GetInterface(static_cast<IQTControl*>(this), ppv);
  if (riid == IID_IQTInfo) return GetInterface(static_cast<IQTInfo*>(this), ppv);
  if (riid == __uuidof(IAMMediaContent)) return GetInterface(static_cast<IAMMediaContent*>(this), ppv);
  if (riid == IID_IAMStreamSelect) return GetInterface(static_cast<IAMStreamSelect*>(this), ppv);
  if (riid == IID_IAMExtendedSeeking) return GetInterface(static_cast<IAMExtendedSeeking*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

void CKestrel::RetirePins() {
  for (CSourceStream* pin :
       {static_cast<CSourceStream*>(m_pVideoPin.get()), static_cast<CSourceStream*>(m_pAudioPin.get())}) {
    if (pin) RemovePin(pin);
  }
  if (m_pVideoPin) m_pVideoPin->Retire();
  if (m_pAudioPin) m_pAudioPin->Retire();
  // A failed allocation here only means the pin dies now instead of later.
  try {
    if (m_pVideoPin) m_retiredPins.push_back(std::move(m_pVideoPin));
    if (m_pAudioPin) m_retiredPins.push_back(std::move(m_pAudioPin));
  } catch (const std::bad_alloc&) {
  }
  m_pVideoPin.reset();
  m_pAudioPin.reset();
}

void CKestrel::DropFile() {
  m_pFileName.reset();
  RetirePins();
  m_pUserData.reset();
  m_chapters.clear();
  if (m_pAudio) m_pAudio->Close();
  m_pAudio.reset();
  if (m_pMovie) m_pMovie->Close();
  m_pMovie.reset();
  m_mt.Clear();
}

// The track's matrix, when it is not the identity: the turn applied and the
// size delivered, or the matrix that is shown as stored.
void CKestrel::LogVideoTransform() {
  VideoTransform transform;
  int32_t width = 0, height = 0;
  if (FAILED(m_pMovie->GetVideoTransform(&transform)) || FAILED(m_pMovie->GetDimensions(&width, &height))) return;
  if (transform.ignored) {
    const auto& m = transform.matrix.matrix;
    WriteLog(L"Video matrix [%.4g %.4g %.4g %.4g %.4g %.4g] is neither a rotation nor a mirror image: ignored.",
             m[0][0] / 65536.0, m[0][1] / 65536.0, m[1][0] / 65536.0, m[1][1] / 65536.0, m[2][0] / 65536.0,
             m[2][1] / 65536.0);
  } else if (transform.orientation != qtmOrientationUpright) {
    WriteLog(L"Video matrix: %s; delivered upright at %d x %d.", OrientationText(transform.orientation), width, height);
  }
}

HRESULT CKestrel::LoadVideo(LPCOLESTR pszFileName) {
  return LoadStream(
      this, pszFileName, kVideoNames, &m_pMovie, &MovieSession::HasVideo, [this] { LogVideoTransform(); },
      &m_pVideoPin);
}

HRESULT CKestrel::LoadAudio(LPCOLESTR pszFileName) {
  return LoadStream(
      this, pszFileName, kAudioNames, &m_pAudio, &AudioExtractor::HasAudio, [] {}, &m_pAudioPin);
}

HRESULT STDMETHODCALLTYPE CKestrel::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
  CAutoLock lock(&m_cStateLock);
  CMediaType keep;
  if (pmt) {
    if (FAILED(keep.Set(*pmt))) return E_OUTOFMEMORY;
  } else {
    keep.SetType(MEDIATYPE_Stream);
    keep.SetSubtype(GUID_NULL);
  }
  if (!pszFileName) return E_POINTER;
  // A file is changed only while nothing streams or is connected.
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  for (int i = 0; i < m_iPins; ++i) {
    if (m_paStreams[i]->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  }

  WriteLog(L"Loading file: %s", pszFileName);
  DropFile();
  HRESULT hr = LoadFile(pszFileName, keep);
  // A Load that fails leaves nothing of the file: no pins, no name.
  if (FAILED(hr)) {
    DropFile();
    LogWhyLoadFails(pszFileName);
  }
  return hr;
}

HRESULT CKestrel::LoadFile(LPCOLESTR pszFileName, const CMediaType& type) {
  HRESULT hr = LoadVideo(pszFileName);
  if (SUCCEEDED(hr)) hr = LoadAudio(pszFileName);
  if (FAILED(hr)) return hr;

  m_pUserData.reset(new (std::nothrow) UserDataCatalog());
  if (!m_pUserData) return E_OUTOFMEMORY;
  if (FAILED(m_pUserData->ReadUserData(pszFileName))) return E_FAIL;
  if (FAILED(m_pMovie->GetChapters(&m_chapters))) return E_OUTOFMEMORY;

  size_t chars = wcslen(pszFileName) + 1;
  m_pFileName.reset(new (std::nothrow) wchar_t[chars]);
  if (!m_pFileName) return E_OUTOFMEMORY;
  wmemcpy(m_pFileName.get(), pszFileName, chars);
  if (FAILED(m_mt.Set(type))) return E_OUTOFMEMORY;
  WriteLog(L"");
  WriteLog(L"-[PINS NEGOCIATION]-----");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  if (!ppszFileName) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *ppszFileName = nullptr;
  if (m_pFileName) {
    size_t chars = wcslen(m_pFileName.get()) + 1;
    // Out of memory leaves the name empty; the call still succeeds.
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(chars * sizeof(wchar_t)));
    if (copy) {
      wmemcpy(copy, m_pFileName.get(), chars);
      *ppszFileName = copy;
    }
  }
  if (pmt) CopyMediaType(pmt, &m_mt);
  return S_OK;
}

ULONG STDMETHODCALLTYPE CKestrel::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

HRESULT STDMETHODCALLTYPE CKestrel::GetPages(CAUUID* pPages) {
  if (!pPages) return E_POINTER;
  pPages->cElems = 1;
  pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pPages->pElems) return E_OUTOFMEMORY;
  pPages->pElems[0] = CLSID_KestrelProp;
  return S_OK;
}

}  // namespace kestrel
