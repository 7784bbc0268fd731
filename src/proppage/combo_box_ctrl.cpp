#include "proppage/combo_box_ctrl.h"

namespace kestrel {

int CComboBoxCtrl::Attach(HWND hwnd) {
  m_hwnd = hwnd;
  return 0;
}

LRESULT CComboBoxCtrl::AddString(const wchar_t* text) {
  return SendMessageW(m_hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

LRESULT CComboBoxCtrl::SetItemData(int index, DWORD_PTR data) {
  return SendMessageW(m_hwnd, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

LRESULT CComboBoxCtrl::GetItemData(int index) {
  return SendMessageW(m_hwnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

LRESULT CComboBoxCtrl::SetCurSel(int index) {
  return SendMessageW(m_hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

LRESULT CComboBoxCtrl::GetCurSel() { return SendMessageW(m_hwnd, CB_GETCURSEL, 0, 0); }

LRESULT CComboBoxCtrl::GetCount() { return SendMessageW(m_hwnd, CB_GETCOUNT, 0, 0); }

LRESULT CComboBoxCtrl::FindStringExact(const wchar_t* text) {
  // -1: search the whole list from its start.
  return SendMessageW(m_hwnd, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
}

LRESULT CComboBoxCtrl::ResetContent() { return SendMessageW(m_hwnd, CB_RESETCONTENT, 0, 0); }

LRESULT CComboBoxCtrl::SelectByItemData(DWORD_PTR data) {
  LRESULT count = GetCount();
  for (int i = 0; i < count; ++i)
    if (static_cast<DWORD_PTR>(GetItemData(i)) == data) return SetCurSel(i);
  return CB_ERR;
}

}  // namespace kestrel
