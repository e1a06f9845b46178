// SPDX-License-Identifier: GPL-3.0-or-later
// Text files as lines: ends of line CR LF or LF, a last line without a break kept.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> TextLines(const std::string& text);
