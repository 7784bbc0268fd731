// Reads the Kestrel page back through Win32: every control's text, which
// controls are disabled, the two lists' selections and the user-data rows.
// Used by kestrel-page and by the page's tests.
#ifndef KESTREL_TOOLS_PAGE_PAGE_READER_H
#define KESTREL_TOOLS_PAGE_PAGE_READER_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrel::page {

struct PageControls {
  std::vector<std::pair<int, std::wstring>> texts;  // id and text, by id
  std::vector<int> disabled;                        // ids, ascending
  int quality = -1;                                 // selected index, -1: none
  int fieldmode = -1;
  std::vector<std::pair<std::wstring, std::wstring>> tags;  // rows, top first

  // Text of control id; empty when there is no such control.
  std::wstring Text(int id) const;
  bool Disabled(int id) const;
};

// The page window below root (root included): the dialog that holds the
// link and the user-data list. Null when there is none.
HWND FindPageWindow(HWND root);

PageControls ReadPageControls(HWND page);

// {"controls": {id: text}, "quality": index, "fieldmode": index,
//  "disabled": [id ...], "tags": [[name, value] ...]}
std::string PageControlsJson(const PageControls& controls);

}  // namespace kestrel::page

#endif
