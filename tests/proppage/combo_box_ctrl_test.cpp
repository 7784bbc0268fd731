// CComboBoxCtrl on a real drop-down list.
#include "proppage/combo_box_ctrl.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "proppage/page_test_support.h"

namespace kestrel::test {
namespace {

class ComboBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    m_hwnd = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, 10, 10, 120,
                             100, PageHost(), nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_hwnd, nullptr);
    EXPECT_EQ(list.Attach(m_hwnd), 0);
    EXPECT_EQ(list.Handle(), m_hwnd);
  }
  void TearDown() override { DestroyWindow(m_hwnd); }

  CComboBoxCtrl list;
  HWND m_hwnd = nullptr;
};

TEST_F(ComboBoxTest, EntriesDataAndSelection) {
  EXPECT_EQ(list.AddString(L"Zeta"), 0);  // unsorted: in the order added
  EXPECT_EQ(list.AddString(L"Alpha"), 1);
  EXPECT_EQ(list.AddString(L"Mid"), 2);
  EXPECT_EQ(list.GetCount(), 3);
  list.SetItemData(0, 1024);
  list.SetItemData(1, 0);
  list.SetItemData(2, 512);
  EXPECT_EQ(list.GetItemData(2), 512);
  EXPECT_EQ(list.GetCurSel(), CB_ERR);

  EXPECT_EQ(list.SelectByItemData(0), 1);
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(list.SelectByItemData(768), CB_ERR);  // no match: selection kept
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(list.SetCurSel(0), 0);
  EXPECT_EQ(list.GetCurSel(), 0);

  EXPECT_EQ(list.FindStringExact(L"mid"), 2);
  EXPECT_EQ(list.FindStringExact(L"Mi"), CB_ERR);
  list.ResetContent();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.SelectByItemData(0), CB_ERR);
}

}  // namespace
}  // namespace kestrel::test
