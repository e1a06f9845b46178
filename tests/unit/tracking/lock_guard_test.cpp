// SPDX-License-Identifier: GPL-3.0-or-later
// The guard on the clock step: once the robust lock (fed the capture buffers as the document
// feeds its observers) is confident, a write that contradicts it is refused with both times,
// a right one passes, and before the lock every write passes, unless writes are to wait for
// a lock: then they are held back until it stands.
#include "tracking/lock_guard.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux_clock.h"
#include "simulator/receiver.h"

namespace {

TEST(LockGuard, RefusesOnlyWritesThatContradictTheLock) {
  constexpr int64_t Start = 1796648400;  // 2026-12-07 13:00 UTC
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Start);
  rs.card_rate = 8000.0;
  rs.snr_db = 3.0;
  rs.duration_s = 7 * 60.0;
  SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * 8000.0));
  audio.resize(rx.Read(audio.data(), audio.size()));

  SimulatedClock inner(Start);
  LockObserver lock(StationDcf77);
  const double offset_hours = 0.0;
  GuardedClock guarded(inner, lock, &offset_hours);
  auto at = [](int64_t utc) { return SystemTimeFromUnix(utc); };
  // Before any lock every write goes through, unless it is to wait for one.
  double held = 0.0;
  guarded.SetWaitForLock(true);
  EXPECT_FALSE(guarded.SetSystemTime(at(Start + 3600)));
  ASSERT_TRUE(guarded.TakeHeldBack(&held));
  EXPECT_DOUBLE_EQ(held, static_cast<double>(Start + 3600));
  EXPECT_FALSE(guarded.TakeHeldBack(&held));
  EXPECT_EQ(inner.WriteCount(), 0);
  guarded.SetWaitForLock(false);
  EXPECT_TRUE(guarded.SetSystemTime(at(Start + 3600)));
  EXPECT_FALSE(guarded.TakeHeldBack(&held));

  constexpr int Buffer = 2048;  // 16 blocks
  for (size_t n = 0; n + Buffer <= audio.size(); n += Buffer)
    lock.OnCaptureBuffer(&audio[n], Buffer, static_cast<int64_t>(n / BlockSize) + 1,
                         (Start + static_cast<int64_t>(n / 8000)) * 1000000000);
  ASSERT_TRUE(lock.Lock().Locked());
  double now = 0.0;
  ASSERT_TRUE(lock.UtcNow(&now));
  const double truth =
      static_cast<double>(Start) + static_cast<double>(audio.size() / Buffer * Buffer) / 8000.0;
  EXPECT_NEAR(now, truth, 0.01);

  const int writes = inner.WriteCount();
  double written = 0.0, locked = 0.0;
  // A minute off, an hour off: refused, with both times.
  for (const int64_t wrong : {int64_t{60}, int64_t{-3600}}) {
    EXPECT_FALSE(guarded.SetSystemTime(at(static_cast<int64_t>(truth) + wrong)));
    ASSERT_TRUE(guarded.TakeRefusal(&written, &locked));
    EXPECT_NEAR(written - locked, static_cast<double>(wrong), 1.0);
    EXPECT_FALSE(guarded.TakeRefusal(&written, &locked));
  }
  EXPECT_EQ(inner.WriteCount(), writes);
  // A write two seconds from the lock (the clock step's second 01 lands about there): made.
  EXPECT_TRUE(guarded.SetSystemTime(at(static_cast<int64_t>(truth) - 2)));
  EXPECT_EQ(inner.WriteCount(), writes + 1);
  EXPECT_FALSE(guarded.TakeRefusal(&written, &locked));
  // Waiting for a lock changes nothing once it stands.
  guarded.SetWaitForLock(true);
  EXPECT_TRUE(guarded.SetSystemTime(at(static_cast<int64_t>(truth) - 1)));
  EXPECT_FALSE(guarded.SetSystemTime(at(static_cast<int64_t>(truth) + 60)));
  EXPECT_FALSE(guarded.TakeHeldBack(&held));
  EXPECT_EQ(inner.WriteCount(), writes + 2);

  // The same audio with no time stamps: the lock has the time of day but no date, so a right
  // write on any day passes and a wrong one is refused with the lock's time on the write's day.
  LockObserver undated(StationDcf77);
  GuardedClock guarded_undated(inner, undated, &offset_hours);
  for (size_t n = 0; n + Buffer <= audio.size(); n += Buffer)
    undated.OnCaptureBuffer(&audio[n], Buffer, static_cast<int64_t>(n / BlockSize) + 1, 0);
  ASSERT_TRUE(undated.Lock().Locked());
  EXPECT_FALSE(undated.Lock().DateKnown());
  EXPECT_TRUE(guarded_undated.SetSystemTime(at(static_cast<int64_t>(truth) - 2)));
  EXPECT_FALSE(guarded_undated.SetSystemTime(at(static_cast<int64_t>(truth) - 3600)));
  ASSERT_TRUE(guarded_undated.TakeRefusal(&written, &locked));
  EXPECT_NEAR(locked, truth, 1.0);
}

}  // namespace
