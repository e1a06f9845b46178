// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock's per-buffer path allocates nothing: every allocation in this test program is
// counted, and none may happen while buffers go through a lock that searches, finds the
// minute's phase, scores the minutes and locks; nor while the time service takes its labels
// from such a lock, nor while the window's lock follows the document's station.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "support/allocation_counter.h"
#include "tracking/lock_guard.h"
#include "tracking/lock_labels.h"
#include "tracking/station_lock.h"
#include "unit/app/fakes.h"

namespace {

// Seven minutes of simulated DCF77 from 13:00:17.3 UTC, with the receiver's settings.
constexpr int64_t Start = 1796648400;  // 2026-12-07 13:00:00 UTC

struct SevenMinutes {
  ReceiverSettings rs;
  std::vector<int16_t> audio;
  SevenMinutes() {
    rs.start_utc = static_cast<double>(Start) + 17.3;
    rs.duration_s = 7 * 60.0;
    SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
    audio.resize(static_cast<size_t>(rs.duration_s * rs.card_rate));
    audio.resize(rx.Read(audio.data(), audio.size()));
  }
};

TEST(RobustLockPath, AllocatesNothingPerBuffer) {
  const SevenMinutes sim;
  const ReceiverSettings& rs = sim.rs;
  const std::vector<int16_t>& audio = sim.audio;
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

class CountEpochs : public EpochOutput {
 public:
  void OnEpoch(const EpochMeasurement&) override { ++count; }
  int64_t count = 0;
};

TEST(RobustLockPath, LabelsAndTheWindowsLockAllocateNothingPerBuffer) {
  const SevenMinutes sim;
  const ReceiverSettings& rs = sim.rs;
  const std::vector<int16_t>& audio = sim.audio;
  LockObserver lock(StationDcf77);
  LockLabels labels(lock.Lock());
  TimeService service(StationDcf77, 0.0);
  service.SetLabeller(&labels);
  CountEpochs epochs;
  service.AddOutput(&epochs);
  FakeWaveInput wave;
  SimulatedClock clock(Start);
  StationLock window_lock(clock);
  RecordingErrors dialog;
  CVarnolDoc doc(wave, window_lock, dialog);
  doc.StationMode = StationDcf77;
  window_lock.Follow(&doc);

  const long before = g_allocations.load();
  int64_t block = 1;
  for (size_t pos = 0; pos + BufferSamples <= audio.size(); pos += BufferSamples) {
    const int64_t stamp =
        static_cast<int64_t>((rs.start_utc + static_cast<double>(pos) / rs.card_rate) * 1e9);
    lock.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, stamp);
    service.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, stamp);
    window_lock.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, stamp);
    window_lock.FollowStation();  // the station unchanged: nothing built
    block += BufferSamples / BlockSize;
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_GT(epochs.count, 60);
  ASSERT_NE(window_lock.Lock(), nullptr);
  EXPECT_TRUE(window_lock.Lock()->Locked());
}

}  // namespace
