#include "app/memo_text.h"

#include <algorithm>

namespace resicrypt {

std::vector<std::string> MemoTextLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string MemoText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text.append(line).append("\r\n");
  return text;
}

std::string MemoTextAddition(const std::string& text, const std::string& line) {
  const bool ended = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
  return text.empty() || ended ? line + "\r\n" : "\r\n" + line;
}

}  // namespace resicrypt
