// CBasePropertyPage: the base of a property page shown by a host's property
// frame. It answers IPropertyPage, builds the page's dialog (a child dialog
// template in a resource module) when the frame activates it, and passes
// every dialog message to the derived page.
//
// How to derive: construct with the module that holds the dialog template
// and the title string, and their resource ids. Override the hooks you need:
//  - OnConnect(pUnknown): the frame gave the object the page edits; query it
//    for the interfaces you use and hold them. A failure refuses the object.
//  - OnDisconnect: release what OnConnect took; also called when nothing is
//    held (answer E_UNEXPECTED then).
//  - OnActivate: the dialog exists (m_Dlg); fill its controls.
//  - OnDeactivate: the dialog is about to be destroyed; free what
//    OnActivate made.
//  - OnApplyChanges: store the edits; called by Apply while the page is
//    dirty (set m_bDirty and tell the site when something is edited).
//  - OnReceiveMessage: every message of the dialog, WM_INITDIALOG included;
//    the answer is the dialog procedure's.
#ifndef KESTREL_FRAMEWORK_BASE_PROPERTY_PAGE_H
#define KESTREL_FRAMEWORK_BASE_PROPERTY_PAGE_H

#include <windows.h>

#include <ocidl.h>

#include "framework/com_ptr.h"
#include "framework/unknown.h"

namespace kestrel {

class CBasePropertyPage : public IPropertyPage, public CUnknown {
 public:
  // hResources: the module with dialog DialogId and string TitleId.
  CBasePropertyPage(const wchar_t* pName, IUnknown* pUnk, HINSTANCE hResources, int DialogId, int TitleId);
  ~CBasePropertyPage() override = default;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The last release lets go of the site and the object (and closes the
  // dialog if the frame left it open) before the page is destroyed.
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // IPropertyPage
  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* pPageSite) override;
  HRESULT STDMETHODCALLTYPE Activate(HWND hwndParent, LPCRECT pRect, BOOL bModal) override;
  HRESULT STDMETHODCALLTYPE Deactivate() override;
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* pPageInfo) override;
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
  HRESULT STDMETHODCALLTYPE Show(UINT nCmdShow) override;
  HRESULT STDMETHODCALLTYPE Move(LPCRECT pRect) override;
  // S_OK when dirty, S_FALSE when not.
  HRESULT STDMETHODCALLTYPE IsPageDirty() override;
  HRESULT STDMETHODCALLTYPE Apply() override;
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR pszHelpDir) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* pMsg) override;

 protected:
  virtual HRESULT OnConnect(IUnknown* pUnknown) { return S_OK; }
  virtual HRESULT OnDisconnect() { return S_OK; }
  virtual HRESULT OnActivate() { return S_OK; }
  virtual HRESULT OnDeactivate() { return S_OK; }
  virtual HRESULT OnApplyChanges() { return S_OK; }
  virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) { return 0; }

  HWND m_Dlg = nullptr;  // the page window while active
  BOOL m_bDirty = FALSE;
  ComPtr<IPropertyPageSite> m_pPageSite;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  const HINSTANCE m_hResources;
  const int m_DialogId;
  const int m_TitleId;
  BOOL m_bObjectSet = FALSE;  // SetObjects gave an object that OnConnect took
};

}  // namespace kestrel

#endif
