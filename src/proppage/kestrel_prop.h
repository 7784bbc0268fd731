// KestrelProp: the filter's property page. Shows what IQTInfo reports about
// the loaded movie (video and audio facts, the user-data tags) and changes
// the decoding quality and field mode through IQTControl the moment a new
// entry is picked. The page is never dirty; Apply has nothing to store.
#ifndef KESTREL_PROPPAGE_KESTREL_PROP_H
#define KESTREL_PROPPAGE_KESTREL_PROP_H

#include <windows.h>

#include "framework/base_property_page.h"
#include "framework/com_ptr.h"
#include "kestrel_idl.h"
#include "proppage/combo_box_ctrl.h"

namespace kestrel {

class KestrelProp : public CBasePropertyPage {
 public:
  // The factory's creator; null with *phr = E_OUTOFMEMORY when it cannot
  // be allocated.
  static CUnknown* WINAPI CreateInstance(IUnknown* pUnkOuter, HRESULT* phr);

  explicit KestrelProp(IUnknown* pUnkOuter);
  ~KestrelProp() override;

 protected:
  // Takes the object's IQTInfo and IQTControl, both or neither.
  HRESULT OnConnect(IUnknown* pUnknown) override;
  // E_UNEXPECTED when nothing is held.
  HRESULT OnDisconnect() override;
  HRESULT OnActivate() override;
  HRESULT OnDeactivate() override;
  // WM_COMMAND (the link, the two lists), WM_CTLCOLORSTATIC (the link and
  // the product name over the banner), WM_SETCURSOR (the hand over the
  // link); 0 for the rest.
  INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

 private:
  // Copy of control id's font with one change, given to the control.
  HFONT DeriveFont(int id, bool bold, bool underline);
  // The banner control on its rectangle in the template, with the banner
  // drawn for that size in pixels.
  void FitBanner();
  // Labels whose caption is wider in the dialog's font than their box in
  // the template (Tahoma is wider than the font the template was measured
  // in) grow to the left, keeping the right edge they line up on; a static
  // that is too narrow breaks its caption and shows the first word alone.
  void FitLabels();
  // The banner back out of its control, and deleted.
  void DropBanner();
  void FillLists();
  void ShowVideoInfo();
  void ShowAudioInfo();
  void ShowUserData();
  void EnableGroup(const int* ids, size_t count, BOOL enable);
  void SetText(int id, const wchar_t* text);
  void DeleteFonts();

  HFONT m_hBoldFont = nullptr;
  HFONT m_hUnderlineFont = nullptr;
  HBITMAP m_hBanner = nullptr;  // drawn on activation, in the banner control
  CComboBoxCtrl m_Quality;
  CComboBoxCtrl m_FieldMode;
  ComPtr<IQTInfo> m_pInfo;
  ComPtr<IQTControl> m_pControl;
  HWND m_hUserData = nullptr;
};

}  // namespace kestrel

#endif
