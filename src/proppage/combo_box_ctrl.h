// CComboBoxCtrl: a drop-down list control, one message per operation.
#ifndef KESTREL_PROPPAGE_COMBO_BOX_CTRL_H
#define KESTREL_PROPPAGE_COMBO_BOX_CTRL_H

#include <windows.h>

namespace kestrel {

class CComboBoxCtrl {
 public:
  CComboBoxCtrl() = default;
  virtual ~CComboBoxCtrl() = default;
  CComboBoxCtrl(const CComboBoxCtrl&) = delete;
  CComboBoxCtrl& operator=(const CComboBoxCtrl&) = delete;

  // Works on hwnd from now on; answers 0.
  virtual int Attach(HWND hwnd);
  // The new entry's index, or CB_ERR / CB_ERRSPACE.
  virtual LRESULT AddString(const wchar_t* text);
  virtual LRESULT SetItemData(int index, DWORD_PTR data);
  virtual LRESULT GetItemData(int index);
  virtual LRESULT SetCurSel(int index);
  // The selected index, or CB_ERR when none is selected.
  virtual LRESULT GetCurSel();
  virtual LRESULT GetCount();
  // Index of the entry whose text is text (not case-sensitive), or CB_ERR.
  virtual LRESULT FindStringExact(const wchar_t* text);
  virtual LRESULT ResetContent();
  // Selects the first entry whose item data equals data and answers the
  // selection's result; CB_ERR, selection unchanged, when none does.
  virtual LRESULT SelectByItemData(DWORD_PTR data);

  HWND Handle() const { return m_hwnd; }

 private:
  HWND m_hwnd = nullptr;
};

}  // namespace kestrel

#endif
