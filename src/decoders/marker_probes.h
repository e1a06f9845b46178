// SPDX-License-Identifier: GPL-3.0-or-later
// A minute-marker test as a table: each row asks whether the tone was off (level below the
// threshold: OffScore > 0) or on (OffScore < 0) in tenths first..last of one second of the
// minute in the ring. A score of exactly 0 is neither. Rows are probed in order, tenth by
// tenth, and the test stops at the first probe that fails.
#pragma once

#include <span>

#include "app/varnol_doc.h"

enum class Tone { Off, On };

struct MarkerProbe {
  int second;       // 0 = the second just begun, 1..59 the minute just past
  int first_tenth;  // 0..9
  int last_tenth;   // 0..9
  Tone want;
};

inline bool ProbesHold(const CVarnolDoc& doc, std::span<const MarkerProbe> probes) {
  for (const MarkerProbe& p : probes) {
    for (int t = p.first_tenth; t <= p.last_tenth; ++t) {
      const int score = doc.OffScore(p.second, t);
      if (p.want == Tone::Off ? !(score > 0) : !(score < 0)) return false;
    }
  }
  return true;
}
