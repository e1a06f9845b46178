// SPDX-License-Identifier: GPL-3.0-or-later
// CaptureClock: which system time (CLOCK_REALTIME) a given sample of the capture was taken at.
//
// Every capture buffer arrives with the system time of its first sample, but those stamps are
// rough: a sound card's driver reports them with a millisecond or two of jitter (scheduling,
// period boundaries), and the card's sample clock is not exactly 8000 per second of system
// time (0.1 % off is common). A straight line fitted by least squares through the recent
// (sample index, time) pairs removes the jitter and measures the card's true rate at once.
//
// The line follows a sliding window of the last `window` stamps. A stamp far off the line
// (a late callback) is left out of the fit; several in a row that agree with one another but
// not with the line mean the line itself broke (samples were lost, or the system clock was
// stepped), and the fit starts again from them.
//
// Units: samples since the capture's first sample; times in nanoseconds since 1970 UTC.
// No allocation after construction.
#pragma once

#include <cstdint>
#include <memory>

class CaptureClock {
 public:
  // `window`: stamps kept for the fit (at four buffers a second, 256 is a minute).
  explicit CaptureClock(int window = 256, double nominal_rate = 8000.0);
  ~CaptureClock();
  CaptureClock(const CaptureClock&) = delete;
  CaptureClock& operator=(const CaptureClock&) = delete;

  // One stamp: the system time of sample `sample`. A zero time (the backend could not stamp)
  // is ignored.
  void Add(int64_t sample, int64_t time_ns);
  // Forgets every stamp (a new capture).
  void Reset();

  // True once the line rests on enough stamps to be trusted (several seconds of them).
  bool Ready() const;
  // The system time of (fractional) sample `sample` on the line, nanoseconds since 1970.
  // Only meaningful when Ready().
  int64_t TimeNs(double sample) const;
  // The card's measured rate: samples per second of system time.
  double Rate() const;
  // Root-mean-square distance of the stamps in the fit from the line, seconds.
  double Residual() const;
  // How many times the line broke and was started again.
  int Restarts() const { return restarts_; }
  // True while the newest stamps lie off the line: a late callback, or the start of a break.
  bool Doubtful() const { return off_count_ > 0; }

  static constexpr double OutlierSeconds = 0.010;  // a stamp this far off is left out
  static constexpr int RestartAfter = 4;           // this many in a row start a new line
  static constexpr int MinStamps = 8;
  static constexpr double MinSpanSeconds = 2.0;
  static constexpr int FitEvery = 4;  // stamps between fits once Ready

 private:
  struct Pair {
    int64_t sample;
    int64_t time_ns;
  };
  void Fit();
  double Predict(int64_t sample) const;  // seconds relative to t0_ns_

  int window_;
  double nominal_rate_;
  std::unique_ptr<Pair[]> ring_;
  int count_ = 0;  // pairs in the ring
  int next_ = 0;   // next slot
  std::unique_ptr<Pair[]> off_;  // recent stamps off the line, oldest first
  int off_count_ = 0;
  int restarts_ = 0;
  int since_fit_ = 0;  // stamps added since the last fit

  // The line: time = t0 + (sample - s0) / rate + b, with (s0, t0) a recent stamp that keeps the
  // doubles small.
  int64_t s0_ = 0;
  int64_t t0_ns_ = 0;
  double b_ = 0.0;                  // seconds
  double inv_rate_ = 1.0 / 8000.0;  // seconds per sample
  double residual_ = 0.0;           // seconds
  double span_ = 0.0;               // seconds covered by the stamps in the fit
  bool fitted_ = false;
};
