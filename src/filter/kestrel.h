// CKestrel: the source filter. Initialises the media engine for the
// instance, opens the file given to Load three times (the movie session for
// the video side and the facts, the audio extractor, the user-data
// catalogue), creates a "Video" pin when the movie has video and then an
// "Audio" pin when it has sound, and answers IFileSourceFilter,
// IAMFilterMiscFlags, ISpecifyPropertyPages, IQTInfo, IQTControl,
// IAMStreamSelect (the sound tracks, one plays), IAMExtendedSeeking (the
// chapters as markers) and IAMMediaContent.
#ifndef KESTREL_FILTER_KESTREL_H
#define KESTREL_FILTER_KESTREL_H

#include <windows.h>

#include <qnetwork.h>
#include <strmif.h>

#include <memory>
#include <vector>

#include "audio/audio_extractor.h"
#include "audio/audio_pin.h"
#include "filter/extended_seeking.h"
#include "framework/media_type.h"
#include "framework/source.h"
#include "kestrel_idl.h"
#include "movie/chapter_list.h"
#include "movie/user_data_catalog.h"
#include "video/movie_session.h"
#include "video/video_pin.h"

namespace kestrel {

// The filter's class: the type library's CKestrel.
inline constexpr CLSID CLSID_Kestrel = {0xe6e6e32e, 0xbb36, 0x4aaa, {0xbb, 0xc3, 0xd7, 0x16, 0xe7, 0x75, 0x57, 0xcc}};

class CKestrel : public CSource,
                 public IFileSourceFilter,
                 public IAMFilterMiscFlags,
                 public ISpecifyPropertyPages,
                 public IQTInfo,
                 public IQTControl,
                 public IAMStreamSelect,
                 public IAMExtendedSeeking,
                 public IAMMediaContent {
 public:
  // The factory's creator: a fresh log, then the filter. Null with *phr set
  // when it cannot be allocated (E_OUTOFMEMORY) or the media engine cannot
  // be started (E_FAIL).
  static CUnknown* WINAPI CreateInstance(IUnknown* pUnkOuter, HRESULT* phr);

  CKestrel(IUnknown* pUnkOuter, HRESULT* phr);
  ~CKestrel() override;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSourceFilter. Load refuses with VFW_E_NOT_STOPPED while the filter
  // runs or is paused and with VFW_E_ALREADY_CONNECTED while a pin is
  // connected; nothing loaded changes then.
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;
  // IAMFilterMiscFlags
  ULONG STDMETHODCALLTYPE GetMiscFlags() override;
  // ISpecifyPropertyPages
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

  // IQTControl (iqt_interfaces.cpp)
  HRESULT STDMETHODCALLTYPE SetVideoQuality(QT_VIDEO_QUALITY eQuality) override;
  HRESULT STDMETHODCALLTYPE GetVideoQuality(QT_VIDEO_QUALITY* peQuality) override;
  HRESULT STDMETHODCALLTYPE SetVideoFieldMode(QT_VIDEO_FIELDMODE eFieldMode) override;
  HRESULT STDMETHODCALLTYPE GetVideoFieldMode(QT_VIDEO_FIELDMODE* peFieldMode) override;
  // IQTInfo (iqt_interfaces.cpp)
  HRESULT STDMETHODCALLTYPE GetVideoInfo(BSTR* pbstrCodec, ULONG* pnWidth, ULONG* pnHeight, ULONG* pnDepth,
                                         double* pdFrameRate, ULONG* pdwFrameCount, double* pdDuration) override;
  HRESULT STDMETHODCALLTYPE GetAudioInfo(BSTR* pbstrCodec, BSTR* pbstrLayout, ULONG* pnSampleRate) override;
  HRESULT STDMETHODCALLTYPE GetUserDataCount(ULONG* pdwCount) override;
  HRESULT STDMETHODCALLTYPE GetUserDataName(ULONG dwIndex, BSTR* bstrName) override;
  HRESULT STDMETHODCALLTYPE GetUserDataValue(ULONG dwIndex, BSTR* bstrValue) override;
  HRESULT STDMETHODCALLTYPE GetTimeCode(LONG* pbDropFrame, BYTE* pHours, BYTE* pMinutes, BYTE* pSeconds,
                                        BYTE* pFrames) override;

  // IAMStreamSelect (stream_select.cpp): the movie's sound tracks, in one
  // group; the one that plays is enabled and exclusive. Enable switches the
  // audio pin to another track, stopped or streaming; a track whose PCM
  // format differs is refused with VFW_E_NOT_STOPPED unless the filter is
  // stopped, where a connected pin is connected again.
  HRESULT STDMETHODCALLTYPE Count(DWORD* pcStreams) override;
  HRESULT STDMETHODCALLTYPE Info(LONG lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid, DWORD* pdwGroup,
                                 WCHAR** ppszName, IUnknown** ppObject, IUnknown** ppUnk) override;
  HRESULT STDMETHODCALLTYPE Enable(LONG lIndex, DWORD dwFlags) override;

  // IAMExtendedSeeking (chapter_markers.cpp): the chapters as markers,
  // numbered from 1; the playback speed is 1.0 only.
  HRESULT STDMETHODCALLTYPE get_ExSeekCapabilities(long* pExCapabilities) override;
  HRESULT STDMETHODCALLTYPE get_MarkerCount(long* pMarkerCount) override;
  HRESULT STDMETHODCALLTYPE get_CurrentMarker(long* pCurrentMarker) override;
  HRESULT STDMETHODCALLTYPE GetMarkerTime(long MarkerNum, double* pMarkerTime) override;
  HRESULT STDMETHODCALLTYPE GetMarkerName(long MarkerNum, BSTR* pbstrMarkerName) override;
  HRESULT STDMETHODCALLTYPE put_PlaybackSpeed(double Speed) override;
  HRESULT STDMETHODCALLTYPE get_PlaybackSpeed(double* pSpeed) override;
  // IDispatch of IAMExtendedSeeking and IAMMediaContent (chapter_markers.cpp):
  // no type information; E_NOTIMPL, the count 0.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // IAMMediaContent (media_content.cpp): the loaded movie's user-data texts
  // as a player's title, author and so on. Each a new BSTR, or
  // VFW_E_NOT_FOUND when the movie has none (or nothing is loaded).
  HRESULT STDMETHODCALLTYPE get_AuthorName(BSTR* pbstrAuthorName) override;
  HRESULT STDMETHODCALLTYPE get_Title(BSTR* pbstrTitle) override;
  HRESULT STDMETHODCALLTYPE get_Rating(BSTR* pbstrRating) override;
  HRESULT STDMETHODCALLTYPE get_Description(BSTR* pbstrDescription) override;
  HRESULT STDMETHODCALLTYPE get_Copyright(BSTR* pbstrCopyright) override;
  HRESULT STDMETHODCALLTYPE get_BaseURL(BSTR* pbstrBaseURL) override;
  HRESULT STDMETHODCALLTYPE get_LogoURL(BSTR* pbstrLogoURL) override;
  HRESULT STDMETHODCALLTYPE get_LogoIconURL(BSTR* pbstrLogoURL) override;
  HRESULT STDMETHODCALLTYPE get_WatermarkURL(BSTR* pbstrWatermarkURL) override;
  HRESULT STDMETHODCALLTYPE get_MoreInfoURL(BSTR* pbstrMoreInfoURL) override;
  HRESULT STDMETHODCALLTYPE get_MoreInfoBannerImage(BSTR* pbstrMoreInfoBannerImage) override;
  HRESULT STDMETHODCALLTYPE get_MoreInfoBannerURL(BSTR* pbstrMoreInfoBannerURL) override;
  HRESULT STDMETHODCALLTYPE get_MoreInfoText(BSTR* pbstrMoreInfoText) override;

 private:
  // The first of the user-data entries of the given types that has a value,
  // as a new BSTR; VFW_E_NOT_FOUND when none has.
  HRESULT ContentText(std::initializer_list<OSType> types, BSTR* pbstr);

  // Load after the previous file is dropped, and its steps.
  HRESULT LoadFile(LPCOLESTR pszFileName, const CMediaType& type);
  HRESULT LoadVideo(LPCOLESTR pszFileName);
  void LogVideoTransform();
  HRESULT LoadAudio(LPCOLESTR pszFileName);
  // Takes the pins out of the filter; they stay alive (detached from the
  // movie objects) until the filter is destroyed, for callers that still
  // hold their interfaces.
  void RetirePins();
  void DropFile();

  std::unique_ptr<wchar_t[]> m_pFileName;
  std::unique_ptr<CVideoPin> m_pVideoPin;
  std::unique_ptr<CAudioPin> m_pAudioPin;
  CMediaType m_mt;
  std::unique_ptr<MovieSession> m_pMovie;
  std::unique_ptr<AudioExtractor> m_pAudio;
  std::unique_ptr<UserDataCatalog> m_pUserData;
  std::vector<Chapter> m_chapters;
  std::vector<std::unique_ptr<CSourceStream>> m_retiredPins;
  bool m_bMoviesEntered = false;
};

}  // namespace kestrel

#endif
