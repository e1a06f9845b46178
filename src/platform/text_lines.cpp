// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_lines.h"

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const size_t stop = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(text.substr(pos, stop - pos));
    pos = end + 1;
  }
  return lines;
}
