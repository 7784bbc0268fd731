// CKestrel's IAMMediaContent: where players look for a movie's title,
// author, copyright and description, answered from the user-data catalogue
// of the loaded file. Every method runs under the filter's state lock.
#include <ole2.h>
#include <vfwmsgs.h>

#include "filter/kestrel.h"

namespace kestrel {
namespace {

// User-data types (QuickTime's "©xxx" items), by the catalogue's names.
constexpr OSType kFullName = 0xA96E616D;
constexpr OSType kArtist = 0xA9415254;
constexpr OSType kAuthor = 0xA9617574;
constexpr OSType kPerformers = 0xA9707266;
constexpr OSType kCopyright = 0xA9637079;
constexpr OSType kDescription = 0xA9646573;
constexpr OSType kComment = 0xA9636D74;
constexpr OSType kInformation = 0xA9696E66;
constexpr OSType kUrlLink = 0xA975726C;

// Fields the movie's user data has no item for.
HRESULT NotFound(BSTR* pbstr) {
  if (!pbstr) return E_POINTER;
  *pbstr = nullptr;
  return VFW_E_NOT_FOUND;
}

}  // namespace

HRESULT CKestrel::ContentText(std::initializer_list<OSType> types, BSTR* pbstr) {
  if (!pbstr) return E_POINTER;
  *pbstr = nullptr;
  CAutoLock lock(&m_cStateLock);
  if (!m_pUserData) return VFW_E_NOT_FOUND;
  for (OSType wanted : types) {
    for (int i = 0; i < m_pUserData->GetEntryCount(); ++i) {
      OSType type = 0;
      wchar_t value[UserDataCatalog::kTextChars] = {};
      if (FAILED(m_pUserData->GetEntryType(i, &type)) || type != wanted) continue;
      if (FAILED(m_pUserData->GetEntryValue(i, value)) || !value[0]) break;
      *pbstr = SysAllocString(value);
      return *pbstr ? S_OK : E_OUTOFMEMORY;
    }
  }
  return VFW_E_NOT_FOUND;
}

// ---- The fields.

HRESULT STDMETHODCALLTYPE CKestrel::get_Title(BSTR* pbstrTitle) { return ContentText({kFullName}, pbstrTitle); }

HRESULT STDMETHODCALLTYPE CKestrel::get_AuthorName(BSTR* pbstrAuthorName) {
  return ContentText({kArtist, kAuthor, kPerformers}, pbstrAuthorName);
}

HRESULT STDMETHODCALLTYPE CKestrel::get_Copyright(BSTR* pbstrCopyright) {
  return ContentText({kCopyright}, pbstrCopyright);
}

HRESULT STDMETHODCALLTYPE CKestrel::get_Description(BSTR* pbstrDescription) {
  return ContentText({kDescription, kComment, kInformation}, pbstrDescription);
}

HRESULT STDMETHODCALLTYPE CKestrel::get_BaseURL(BSTR* pbstrBaseURL) { return ContentText({kUrlLink}, pbstrBaseURL); }

HRESULT STDMETHODCALLTYPE CKestrel::get_MoreInfoText(BSTR* pbstrMoreInfoText) {
  return ContentText({kInformation}, pbstrMoreInfoText);
}

HRESULT STDMETHODCALLTYPE CKestrel::get_Rating(BSTR* pbstrRating) { return NotFound(pbstrRating); }
HRESULT STDMETHODCALLTYPE CKestrel::get_LogoURL(BSTR* pbstrLogoURL) { return NotFound(pbstrLogoURL); }
HRESULT STDMETHODCALLTYPE CKestrel::get_LogoIconURL(BSTR* pbstrLogoURL) { return NotFound(pbstrLogoURL); }
HRESULT STDMETHODCALLTYPE CKestrel::get_WatermarkURL(BSTR* pbstrWatermarkURL) { return NotFound(pbstrWatermarkURL); }
HRESULT STDMETHODCALLTYPE CKestrel::get_MoreInfoURL(BSTR* pbstrMoreInfoURL) { return NotFound(pbstrMoreInfoURL); }
HRESULT STDMETHODCALLTYPE CKestrel::get_MoreInfoBannerImage(BSTR* pbstrMoreInfoBannerImage) {
  return NotFound(pbstrMoreInfoBannerImage);
}
HRESULT STDMETHODCALLTYPE CKestrel::get_MoreInfoBannerURL(BSTR* pbstrMoreInfoBannerURL) {
  return NotFound(pbstrMoreInfoBannerURL);
}

}  // namespace kestrel
