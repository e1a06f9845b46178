// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card's high-rate path allocates nothing per piece: every allocation in this test
// program is counted, and none may happen while a card's pieces go through the carrier's shift
// and the averaging down to 8000 samples a second.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "capture/high_rate_stage.h"
#include "conditioning/conditioning.h"
#include "support/allocation_counter.h"

namespace {

TEST(HighRatePath, AllocatesNothingPerPiece) {
  std::vector<int16_t> x(96000);  // half a second of the 77.5 kHz carrier at 192 kHz
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<int16_t>(
        std::lround(10000.0 * std::sin(6.283185307179586 * 77500.0 * static_cast<double>(i) / 192000.0)));
  ToneShift shift(192000, 77500, FrontEndToneHz);
  HighRateStage stage(24, &shift);
  std::vector<int16_t> y(x.size() / 24 + 1);
  size_t made = 0;
  const long before = g_allocations.load();
  for (size_t at = 0; at + HighRateStage::MaxChunk <= x.size(); at += HighRateStage::MaxChunk)
    made += stage.Process(x.data() + at, HighRateStage::MaxChunk, y.data() + made);
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_EQ(made, x.size() / HighRateStage::MaxChunk * HighRateStage::MaxChunk / 24);
}

}  // namespace
