#include "ui/report_list_win.h"

#include <algorithm>
#include <stdexcept>

#include "ui/win_handles_win.h"

namespace resicrypt {

namespace {

// Turns a control's drawing back on after a list was rebuilt.
void ResumeRedraw(HWND control) {
  SendMessageA(control, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(control, nullptr, TRUE);
}

}  // namespace

void ReportListBox::Append(const std::string& line, bool inBatch) {
  const HWND list = List();
  if (inBatch && !paused_) {
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    paused_ = true;
  }
  // An unsorted list adds at the end.
  const LRESULT result = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  if (result == LB_ERR || result == LB_ERRSPACE) {
    throw std::runtime_error("The report list cannot take more lines");
  }
  if (result + 1 >= room_) {
    const LRESULT more = std::max<LRESULT>(result + 1, 256);
    SendMessageA(list, LB_INITSTORAGE, static_cast<WPARAM>(more), more * 40);
    room_ = result + 1 + more;
  }
}

void ReportListBox::ReplaceAll(const std::vector<std::string>& lines, bool inBatch) {
  const HWND list = List();
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  const win::UniqueHandle<HWND, ResumeRedraw> redraw(list);
  Clear();
  for (const std::string& line : lines) Append(line, inBatch);
}

void ReportListBox::Clear() {
  SendMessageA(List(), LB_RESETCONTENT, 0, 0);
  room_ = 0;
}

void ReportListBox::ResumeDrawing() {
  if (!paused_) return;
  ResumeRedraw(List());
  paused_ = false;
}

}  // namespace resicrypt
