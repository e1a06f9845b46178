// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/capture_clock.h"

#include <algorithm>
#include <cmath>

CaptureClock::CaptureClock(int window, double nominal_rate)
    : window_(std::max(window, MinStamps)),
      nominal_rate_(nominal_rate > 0.0 ? nominal_rate : 8000.0),
      ring_(new Pair[static_cast<size_t>(window_)]),
      off_(new Pair[RestartAfter]),
      inv_rate_(1.0 / nominal_rate_) {}

CaptureClock::~CaptureClock() = default;

void CaptureClock::Reset() {
  count_ = 0;
  next_ = 0;
  off_count_ = 0;
  since_fit_ = 0;
  fitted_ = false;
  inv_rate_ = 1.0 / nominal_rate_;
  b_ = 0.0;
  residual_ = 0.0;
  span_ = 0.0;
}

double CaptureClock::Predict(int64_t sample) const {
  return b_ + static_cast<double>(sample - s0_) * inv_rate_;
}

void CaptureClock::Add(int64_t sample, int64_t time_ns) {
  if (time_ns == 0) return;
  // A sample count that goes backwards is a new capture: nothing before it applies.
  if (count_ > 0) {
    const Pair& newest = ring_[static_cast<size_t>((next_ + window_ - 1) % window_)];
    if (sample <= newest.sample) Reset();
  }
  if (fitted_) {
    const double dev = static_cast<double>(time_ns - t0_ns_) * 1e-9 - Predict(sample);
    if (std::fabs(dev) > OutlierSeconds) {
      off_[off_count_++] = Pair{sample, time_ns};
      if (off_count_ < RestartAfter) return;
      // Do the stamps off the line lie on a line of their own (at the rate measured so far)?
      double lo = 1e300, hi = -1e300;
      for (int i = 0; i < off_count_; ++i) {
        const double d = static_cast<double>(off_[i].time_ns - off_[0].time_ns) * 1e-9 -
                         static_cast<double>(off_[i].sample - off_[0].sample) * inv_rate_;
        lo = std::min(lo, d);
        hi = std::max(hi, d);
      }
      if (hi - lo > OutlierSeconds) {
        // Scattered late stamps, not a break: forget the oldest and keep watching.
        for (int i = 1; i < off_count_; ++i) off_[i - 1] = off_[i];
        --off_count_;
        return;
      }
      // The line broke: start again from the stamps that agree with one another.
      const int n = off_count_;
      Pair keep[RestartAfter];
      for (int i = 0; i < n; ++i) keep[i] = off_[i];
      Reset();
      ++restarts_;
      for (int i = 0; i < n; ++i) {
        ring_[static_cast<size_t>(next_)] = keep[i];
        next_ = (next_ + 1) % window_;
        ++count_;
      }
      Fit();
      return;
    }
    off_count_ = 0;
  }
  ring_[static_cast<size_t>(next_)] = Pair{sample, time_ns};
  next_ = (next_ + 1) % window_;
  if (count_ < window_) ++count_;
  // Once the line stands, a stamp more or less barely moves it: refit once a second or so
  // (the fit walks the whole window), not on every buffer.
  if (++since_fit_ >= FitEvery || !Ready()) Fit();
}

void CaptureClock::Fit() {
  since_fit_ = 0;
  if (count_ == 0) {
    fitted_ = false;
    return;
  }
  const Pair& newest = ring_[static_cast<size_t>((next_ + window_ - 1) % window_)];
  const Pair& oldest = ring_[static_cast<size_t>((next_ + window_ - count_) % window_)];
  s0_ = newest.sample;
  t0_ns_ = newest.time_ns;
  span_ = static_cast<double>(newest.time_ns - oldest.time_ns) * 1e-9;

  auto x_of = [&](const Pair& p) { return static_cast<double>(p.sample - s0_); };
  auto y_of = [&](const Pair& p) { return static_cast<double>(p.time_ns - t0_ns_) * 1e-9; };
  auto at = [&](int i) -> const Pair& {
    return ring_[static_cast<size_t>((next_ + window_ - count_ + i) % window_)];
  };

  if (count_ < MinStamps || span_ < MinSpanSeconds) {
    // Too few stamps for a slope: the nominal rate, and the median offset (one late stamp
    // among a handful must not move it).
    inv_rate_ = 1.0 / nominal_rate_;
    double d[MinStamps * 4];
    const int n = std::min(count_, static_cast<int>(sizeof d / sizeof d[0]));
    for (int i = 0; i < n; ++i) d[i] = y_of(at(count_ - n + i)) - x_of(at(count_ - n + i)) * inv_rate_;
    std::nth_element(d, d + n / 2, d + n);
    b_ = d[n / 2];
  } else {
    // Least squares, then once more without the stamps far off the first line.
    bool exclude = false;
    for (int pass = 0; pass < 2; ++pass) {
      double n = 0, sx = 0, sy = 0;
      for (int i = 0; i < count_; ++i) {
        const double x = x_of(at(i)), y = y_of(at(i));
        if (exclude && std::fabs(y - Predict(at(i).sample)) > OutlierSeconds) continue;
        n += 1;
        sx += x;
        sy += y;
      }
      if (n < 2) break;  // everything off the first line: keep it
      const double mx = sx / n, my = sy / n;
      double sxx = 0, sxy = 0;
      for (int i = 0; i < count_; ++i) {
        const double x = x_of(at(i)), y = y_of(at(i));
        if (exclude && std::fabs(y - Predict(at(i).sample)) > OutlierSeconds) continue;
        sxx += (x - mx) * (x - mx);
        sxy += (x - mx) * (y - my);
      }
      double slope = sxx > 0 ? sxy / sxx : 1.0 / nominal_rate_;
      // A slope more than 5 % off nominal is no sound card: keep the nominal rate.
      if (!(std::fabs(slope * nominal_rate_ - 1.0) < 0.05)) slope = 1.0 / nominal_rate_;
      b_ = my - slope * mx;
      inv_rate_ = slope;
      if (pass == 1) break;
      for (int i = 0; i < count_ && !exclude; ++i)
        exclude = std::fabs(y_of(at(i)) - Predict(at(i).sample)) > OutlierSeconds;
      if (!exclude) break;
    }
  }
  double ss = 0;
  for (int i = 0; i < count_; ++i) {
    const double r = y_of(at(i)) - Predict(at(i).sample);
    ss += r * r;
  }
  residual_ = std::sqrt(ss / count_);
  fitted_ = true;
}

bool CaptureClock::Ready() const { return fitted_ && count_ >= MinStamps && span_ >= MinSpanSeconds; }

int64_t CaptureClock::TimeNs(double sample) const {
  const double s = b_ + (sample - static_cast<double>(s0_)) * inv_rate_;
  return t0_ns_ + static_cast<int64_t>(std::llround(s * 1e9));
}

double CaptureClock::Rate() const { return 1.0 / inv_rate_; }

double CaptureClock::Residual() const { return residual_; }
