#include "framework/base_property_page.h"

namespace kestrel {
namespace {

constexpr int kTitleChars = 256;
// The page size given when the dialog cannot be measured.
constexpr SIZE kFallbackSize = {340, 150};

}  // namespace

CBasePropertyPage::CBasePropertyPage(const wchar_t* pName, IUnknown* pUnk, HINSTANCE hResources, int DialogId,
                                     int TitleId)
    : CUnknown(pName, pUnk), m_hResources(hResources), m_DialogId(DialogId), m_TitleId(TitleId) {}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingRelease() {
  LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) {
    // The hooks below may take and drop references: hold one meanwhile.
    m_cRef = 1;
    if (m_Dlg) Deactivate();
    SetPageSite(nullptr);
    SetObjects(0, nullptr);
    delete this;
    return 0;
  }
  return count < 1 ? 1 : static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* pPageSite) {
  if (pPageSite) {
    if (m_pPageSite) return E_UNEXPECTED;
    m_pPageSite.Assign(pPageSite);
  } else {
    if (!m_pPageSite) return E_UNEXPECTED;
    m_pPageSite.Reset();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
  if (cObjects == 1) {
    if (!ppUnk || !ppUnk[0]) return E_POINTER;
    // An object the page could not take leaves the page without one, so
    // that Activate refuses instead of showing a page with nothing behind.
    HRESULT hr = OnConnect(ppUnk[0]);
    m_bObjectSet = SUCCEEDED(hr);
    return hr;
  }
  if (cObjects == 0) {
    m_bObjectSet = FALSE;
    return OnDisconnect();
  }
  return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
  if (!pPageInfo) return E_POINTER;
  wchar_t title[kTitleChars] = {};
  int length = LoadStringW(m_hResources, m_TitleId, title, kTitleChars);
  if (length < 0) length = 0;
  auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
  if (!text) return E_OUTOFMEMORY;
  CopyMemory(text, title, length * sizeof(wchar_t));
  text[length] = L'\0';

  pPageInfo->cb = sizeof(PROPPAGEINFO);
  pPageInfo->pszTitle = text;
  pPageInfo->pszDocString = nullptr;
  pPageInfo->pszHelpFile = nullptr;
  pPageInfo->dwHelpContext = 0;
  // The dialog's size in pixels: build it hidden, measure it, destroy it.
  pPageInfo->size = kFallbackSize;
  HWND measure = CreateDialogParamW(m_hResources, MAKEINTRESOURCEW(m_DialogId), GetDesktopWindow(), DialogProc, 0);
  if (measure) {
    RECT rect;
    if (GetWindowRect(measure, &rect)) pPageInfo->size = {rect.right - rect.left, rect.bottom - rect.top};
    DestroyWindow(measure);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND hwndParent, LPCRECT pRect, BOOL bModal) {
  if (!pRect) return E_POINTER;
  if (!m_bObjectSet || m_Dlg) return E_UNEXPECTED;
  // WM_INITDIALOG records the window in m_Dlg.
  HWND dialog = CreateDialogParamW(m_hResources, MAKEINTRESOURCEW(m_DialogId), hwndParent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (!dialog) return E_OUTOFMEMORY;
  m_Dlg = dialog;
  OnActivate();
  Move(pRect);
  return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate() {
  if (!m_Dlg) return E_UNEXPECTED;
  // Without the control-parent bit the frame's dialog manager no longer
  // walks into the page while it goes away.
  LONG_PTR style = GetWindowLongPtrW(m_Dlg, GWL_EXSTYLE);
  SetWindowLongPtrW(m_Dlg, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
  OnDeactivate();
  DestroyWindow(m_Dlg);
  m_Dlg = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT nCmdShow) {
  if (!m_Dlg) return E_UNEXPECTED;
  if (nCmdShow != SW_HIDE && nCmdShow != SW_SHOWNORMAL && nCmdShow != SW_SHOW) return E_INVALIDARG;
  ShowWindow(m_Dlg, static_cast<int>(nCmdShow));
  InvalidateRect(m_Dlg, nullptr, TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT pRect) {
  if (!pRect) return E_POINTER;
  if (!m_Dlg) return E_UNEXPECTED;
  MoveWindow(m_Dlg, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply() {
  if (!m_bObjectSet || !m_pPageSite) return E_UNEXPECTED;
  if (!m_bDirty) return S_OK;
  HRESULT hr = OnApplyChanges();
  if (SUCCEEDED(hr)) m_bDirty = FALSE;
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*) { return E_NOTIMPL; }

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    // The measuring dialog of GetPageInfo comes without a page.
    auto* created = reinterpret_cast<CBasePropertyPage*>(lParam);
    if (!created) return TRUE;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
    created->m_Dlg = hwnd;
  }
  auto* page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!page) return TRUE;
  return page->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

}  // namespace kestrel
