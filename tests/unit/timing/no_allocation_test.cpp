// SPDX-License-Identifier: GPL-3.0-or-later
// The per-buffer path of the second epochs allocates nothing: every allocation in this test
// program is counted, and none may happen while buffers, accepted minutes and epoch requests
// go through a searching, tracking and locked estimator.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "simulator/receiver.h"
#include "support/allocation_counter.h"
#include "timing/second_epochs.h"

namespace {

TEST(SecondEpochsPath, AllocatesNothingPerBuffer) {
  constexpr int64_t Start = 1796648400;  // 2026-12-07 13:00:00 UTC
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Start) + 17.3;
  rs.snr_db = 10.0;
  rs.duration_s = 5 * 60.0;
  SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * rs.card_rate));
  audio.resize(rx.Read(audio.data(), audio.size()));
  SecondEpochs epochs(StationDcf77);
  SecondEpoch out[16];
  int taken = 0;
  int next_minute = 1;

  const long before = g_allocations.load();
  int64_t block = 1;
  for (size_t pos = 0; pos + BufferSamples <= audio.size(); pos += BufferSamples) {
    const int64_t stamp =
        static_cast<int64_t>((rs.start_utc + static_cast<double>(pos) / rs.card_rate) * 1e9);
    epochs.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, stamp);
    block += BufferSamples / BlockSize;
    // each minute accepted as a decoder would, about a second after its marker
    const double accept_at =
        (static_cast<double>(Start + 60 * next_minute) + 1.05 - rs.start_utc) * rs.card_rate;
    if (static_cast<double>(pos + BufferSamples) >= accept_at) {
      epochs.OnMinuteAccepted(13, next_minute, static_cast<int64_t>(accept_at) / BlockSize + 1);
      ++next_minute;
    }
    taken += epochs.TakeEpochs(out, 16);
  }
  const long during = g_allocations.load() - before;

  EXPECT_GT(before, 0);  // the counter sees allocations: the estimator's own, at construction
  EXPECT_TRUE(epochs.Locked());
  EXPECT_GT(taken, 0);
  EXPECT_EQ(during, 0);
}

}  // namespace
