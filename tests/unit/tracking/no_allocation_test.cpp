// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock's per-buffer path allocates nothing: every allocation in this test program is
// counted, and none may happen while buffers go through a lock that searches, finds the
// minute's phase, scores the minutes and locks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "simulator/receiver.h"
#include "support/allocation_counter.h"
#include "tracking/lock_guard.h"

namespace {

TEST(RobustLockPath, AllocatesNothingPerBuffer) {
  constexpr int64_t Start = 1796648400;  // 2026-12-07 13:00:00 UTC
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Start) + 17.3;
  rs.duration_s = 7 * 60.0;
  SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * rs.card_rate));
  audio.resize(rx.Read(audio.data(), audio.size()));
  LockObserver lock(StationDcf77);

  const long before = g_allocations.load();
  int64_t block = 1;
  for (size_t pos = 0; pos + BufferSamples <= audio.size(); pos += BufferSamples) {
    const int64_t stamp =
        static_cast<int64_t>((rs.start_utc + static_cast<double>(pos) / rs.card_rate) * 1e9);
    lock.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, stamp);
    block += BufferSamples / BlockSize;
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_TRUE(lock.Lock().Locked());
}

}  // namespace
