// The memo's text as a list of lines sees it: each line ends in CR LF, and a
// CR LF at the very end opens no other line. The window's memo control holds the
// text; the memo commands see its lines.
#pragma once

#include <string>
#include <vector>

namespace resicrypt {

std::vector<std::string> MemoTextLines(const std::string& text);
// The lines, each followed by CR LF.
std::string MemoText(const std::vector<std::string>& lines);
// What appending a line adds at the end of text: the line after a last line that
// ends in CR LF, or on a new line behind one that does not.
std::string MemoTextAddition(const std::string& text, const std::string& line);

}  // namespace resicrypt
