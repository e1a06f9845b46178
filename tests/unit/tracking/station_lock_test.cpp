// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock as the window runs it, as the document's clock and observer: the document's own
// writes pass, a write that contradicts the lock is refused and told in words, the report line
// says "locked" with its evidence, and a change of station starts a lock of its own only when
// the owner asks (outside the per-buffer path), writes passing until it holds.
#include "tracking/station_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "unit/app/fakes.h"

namespace {

TEST(StationLock, GuardsTheDocumentsWritesAndFollowsItsStation) {
  constexpr int64_t Start = 1796648400;  // 2026-12-07 13:00 UTC
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Start);
  rs.snr_db = 3.0;
  rs.duration_s = 7 * 60.0;
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeEncoder("dcf77"), rs));
  CaptureStamps st;
  st.first_ns = Start * 1000000000;
  st.samples_per_second = rs.card_rate;
  wave.SetCaptureStamps(st);
  SimulatedClock inner(Start);
  StationLock lock(inner);
  RecordingErrors dialog;
  CVarnolDoc doc(wave, lock, dialog);
  doc.StationMode = StationDcf77;
  doc.AutoSetClock = 1;
  inner.FollowBlocks(&doc.BlocksProcessed);
  lock.Follow(&doc);
  doc.AddObserver(&lock);
  ASSERT_NE(lock.Lock(), nullptr);
  EXPECT_EQ(lock.Describe(), "Robust lock: looking for the seconds");
  doc.StartCapture();
  while (wave.Pump()) doc.ProcessCaptureBuffer();

  ASSERT_TRUE(lock.Lock()->Locked()) << lock.Describe();
  EXPECT_GE(inner.WriteCount(), 3) << "the document's right writes pass";
  std::string text;
  EXPECT_FALSE(lock.TakeRefusal(&text));
  EXPECT_EQ(lock.Describe().rfind("Robust lock: locked, last minute 13:0", 0), 0u) << lock.Describe();
  EXPECT_NE(lock.Describe().find(" minutes of evidence, margin "), std::string::npos) << lock.Describe();

  // An hour off: refused, and told in words with both times, as the document would pass it on.
  const int writes = inner.WriteCount();
  const SYSTEMTIME wrong = SystemTimeFromUnix(Start + 7 * 60 + 3600);
  EXPECT_FALSE(lock.SetSystemTime(wrong));
  lock.OnClockWrite(wrong, false);
  EXPECT_EQ(inner.WriteCount(), writes);
  ASSERT_TRUE(lock.TakeRefusal(&text));
  EXPECT_EQ(text.rfind("clock write of 2026-12-07T14:07:00Z refused: the robust lock has 2026-12-07T13:0", 0),
            0u)
      << text;
  EXPECT_FALSE(lock.TakeRefusal(&text));
  EXPECT_NE(lock.Describe().find("; 1 clock write refused"), std::string::npos) << lock.Describe();

  // Another station: the old lock stops guarding at once; the new one is built when asked.
  doc.StationMode = StationMsf;
  EXPECT_TRUE(lock.SetSystemTime(wrong));
  lock.FollowStation();
  ASSERT_NE(lock.Lock(), nullptr);
  EXPECT_FALSE(lock.Lock()->Locked());
  EXPECT_TRUE(lock.SetSystemTime(wrong));
  EXPECT_EQ(inner.WriteCount(), writes + 2);
  doc.StopCapture();
  doc.RemoveObserver(&lock);
}

}  // namespace
