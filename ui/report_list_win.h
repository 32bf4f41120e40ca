// ListBox1 as the report list (ReportList): lines appended at the end, unsorted,
// without limit. The list is given room for twice its lines at a time, as a list
// that grows by a few lines moves all it holds each time; while a batch of a file
// command's calls runs it is not drawn until the batch ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/form_layout_win.h"

namespace resicrypt {

class ReportListBox {
 public:
  // controls: the window's controls by id, filled in when they are created.
  explicit ReportListBox(const ControlWindows& controls) : controls_(controls) {}

  // inBatch: a batch of calls runs, and the list is drawn once it has ended
  // (ResumeDrawing). Throws std::runtime_error when the list takes no more lines.
  void Append(const std::string& line, bool inBatch);
  void ReplaceAll(const std::vector<std::string>& lines, bool inBatch);
  void Clear();
  // Draws the list again after a batch.
  void ResumeDrawing();

 private:
  HWND List() const { return controls_[static_cast<std::size_t>(ControlId::ListBox1)]; }

  const ControlWindows& controls_;
  bool paused_ = false;  // not drawn until the batch ends
  LRESULT room_ = 0;     // lines the list has room for
};

}  // namespace resicrypt
