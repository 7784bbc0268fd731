#include "page/page_reader.h"

#include <commctrl.h>

#include <algorithm>

#include "common/json_writer.h"
#include "proppage/page_resources.h"

namespace kestrel::page {
namespace {

constexpr int kTextChars = 1024;

bool IsPage(HWND hwnd) { return GetDlgItem(hwnd, IDC_LINK) && GetDlgItem(hwnd, IDC_USERDATA); }

BOOL CALLBACK FindPageChild(HWND hwnd, LPARAM found) {
  if (!IsPage(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// A static showing a bitmap or an icon: its text names the resource.
bool IsPicture(HWND hwnd) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  const auto type = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)) & SS_TYPEMASK;
  return _wcsicmp(name, L"Static") == 0 && (type == SS_BITMAP || type == SS_ICON || type == SS_ENHMETAFILE);
}

BOOL CALLBACK CollectControl(HWND hwnd, LPARAM param) {
  auto* controls = reinterpret_cast<PageControls*>(param);
  HWND page = GetParent(hwnd);
  int id = GetDlgCtrlID(hwnd);
  if (id <= 0 || GetDlgItem(page, id) != hwnd) return TRUE;  // not a direct control of the page
  wchar_t text[kTextChars] = {};
  if (!IsPicture(hwnd)) GetWindowTextW(hwnd, text, kTextChars);
  controls->texts.emplace_back(id, text);
  if (!IsWindowEnabled(hwnd)) controls->disabled.push_back(id);
  return TRUE;
}

std::wstring ListText(HWND list, int row, int column) {
  wchar_t text[kTextChars] = {};
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = kTextChars;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

}  // namespace

std::wstring PageControls::Text(int id) const {
  for (const auto& [control, text] : texts)
    if (control == id) return text;
  return {};
}

bool PageControls::Disabled(int id) const { return std::find(disabled.begin(), disabled.end(), id) != disabled.end(); }

HWND FindPageWindow(HWND root) {
  if (!root) return nullptr;
  if (IsPage(root)) return root;
  HWND found = nullptr;
  EnumChildWindows(root, FindPageChild, reinterpret_cast<LPARAM>(&found));
  return found;
}

PageControls ReadPageControls(HWND page) {
  PageControls controls;
  EnumChildWindows(page, CollectControl, reinterpret_cast<LPARAM>(&controls));
  std::sort(controls.texts.begin(), controls.texts.end());
  std::sort(controls.disabled.begin(), controls.disabled.end());
  controls.quality = static_cast<int>(SendDlgItemMessageW(page, IDC_QUALITY, CB_GETCURSEL, 0, 0));
  controls.fieldmode = static_cast<int>(SendDlgItemMessageW(page, IDC_FIELDMODE, CB_GETCURSEL, 0, 0));
  HWND list = GetDlgItem(page, IDC_USERDATA);
  auto rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) controls.tags.emplace_back(ListText(list, row, 0), ListText(list, row, 1));
  return controls;
}

std::string PageControlsJson(const PageControls& controls) {
  using tools::JsonNumber;
  using tools::JsonString;
  tools::JsonObject texts;
  for (const auto& [id, text] : controls.texts) texts.Add(std::to_string(id), JsonString(text.c_str()));
  std::string disabled = "[";
  for (size_t i = 0; i < controls.disabled.size(); ++i)
    disabled += (i ? ", " : "") + JsonNumber(static_cast<int64_t>(controls.disabled[i]));
  disabled += "]";
  std::string tags = "[";
  for (size_t i = 0; i < controls.tags.size(); ++i)
    tags += (i ? ", [" : "[") + JsonString(controls.tags[i].first.c_str()) + ", " +
            JsonString(controls.tags[i].second.c_str()) + "]";
  tags += "]";
  tools::JsonObject out;
  out.Add("controls", texts.Text());
  out.Add("quality", JsonNumber(static_cast<int64_t>(controls.quality)));
  out.Add("fieldmode", JsonNumber(static_cast<int64_t>(controls.fieldmode)));
  out.Add("disabled", disabled);
  out.Add("tags", tags);
  return out.Text();
}

}  // namespace kestrel::page
