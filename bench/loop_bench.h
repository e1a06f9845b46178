// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks of the processing loop share: audio held in memory, a wave-error dialog
// that shows nothing, and the CPU time of two runs of the loop over the same audio, compared
// fairly on a machine whose speed wanders (other work, a virtual machine's neighbours): the
// runs take turns, 64 buffers (16 s of audio, a few milliseconds of work) each, so that a slow
// spell slows both alike, while each turn is long enough for its own data to be back in the
// caches. Only the processing is timed, in this thread's CPU time, never the making of the
// audio.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/sample_source.h"
#include "capture/source_wave_input.h"

namespace bench {

// Replays samples held in memory (they must outlive it).
class MemorySource : public SampleSource {
 public:
  explicit MemorySource(const std::vector<int16_t>& samples) : samples_(samples) {}
  size_t Read(int16_t* out, size_t count) override {
    const size_t n = std::min(count, samples_.size() - pos_);
    std::memcpy(out, samples_.data() + pos_, n * sizeof(int16_t));
    pos_ += n;
    return n;
  }

 private:
  const std::vector<int16_t>& samples_;
  size_t pos_ = 0;
};

class NoDialog : public WaveErrorDialog {
 public:
  void ShowModal(const std::string&, const std::string&) override {}
};

inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One run: `wave` feeds `doc`; `after` (may be empty) runs after each buffer, timed with it.
template <class After>
struct TimedLoop {
  SourceWaveInput& wave;
  CVarnolDoc& doc;
  After after;
  double busy = 0.0;  // CPU seconds

  bool Step() {
    if (!wave.Pump()) return false;
    const double t0 = ThreadCpuSeconds();
    doc.ProcessCaptureBuffer();
    after();
    busy += ThreadCpuSeconds() - t0;
    return true;
  }
};

// Runs both to the end of their audio, taking turns (which goes first alternates).
template <class A, class B>
void TakeTurns(A& a, B& b) {
  auto turn = [](auto& run) {
    bool more = true;
    for (int i = 0; i < 64 && more; ++i) more = run.Step();
    return more;
  };
  for (bool more = true, a_first = true; more; a_first = !a_first) {
    more = a_first ? turn(a) & turn(b) : turn(b) & turn(a);
  }
}

}  // namespace bench
