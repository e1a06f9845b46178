// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/edge_estimator.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr double TwoPi = 6.283185307179586;

// Median of the first `n` values (reorders them).
double Median(double* v, int n) {
  const int mid = n / 2;
  std::nth_element(v, v + mid, v + n);
  const double upper = v[mid];
  if (n % 2 == 1) return upper;
  return 0.5 * (upper + *std::max_element(v, v + mid));
}

}  // namespace

// ------------------------------------------------------------------------ tone envelope --

ToneEnvelope::ToneEnvelope(int cycles, int period) {
  period_ = std::clamp(period, 1, MaxTonePeriod);
  for (int n = 0; n < period_; ++n) {
    const double angle = TwoPi * cycles * n / period_;
    // scaled so that a steady tone of peak A gives an envelope of A
    cos_[n] = 2.0 * std::cos(angle) / EnvelopeWindow;
    sin_[n] = -2.0 * std::sin(angle) / EnvelopeWindow;
  }
}

void ToneEnvelope::Reset() {
  phase_ = 0;
  ring_pos_ = 0;
  sum_re_ = sum_im_ = 0.0;
  since_resum_ = 0;
  std::fill(std::begin(ring_re_), std::end(ring_re_), 0.0);
  std::fill(std::begin(ring_im_), std::end(ring_im_), 0.0);
}

// ---------------------------------------------------------------------------- edge finder --

EdgeResult FindEdge(const EnvelopeRing& ring, const EdgeShape& shape, double predicted, int gate,
                    double min_snr) {
  EdgeResult r;
  const int64_t p = static_cast<int64_t>(std::floor(predicted));
  constexpr int Half = EnvelopeWindow / 2;
  const int64_t pre_begin = p + shape.pre_begin - gate, pre_end = p + shape.pre_end - gate;
  const int64_t post_begin = p + shape.post_begin + gate + EnvelopeWindow, post_end = p + shape.post_end;

  // Noise power on the silent side, taken off each sample's power below.
  // Mean envelope power over samples [from, to).
  auto power = [&](int64_t from, int64_t to) {
    double sum = 0.0;
    for (int64_t n = from; n < to; ++n) sum += static_cast<double>(ring.At(n)) * ring.At(n);
    return to > from ? sum / static_cast<double>(to - from) : 0.0;
  };

  // The envelope before the edge, from a window that ends before the earliest edge the gate
  // allows: its mean and its scatter.
  const int n_pre = static_cast<int>(pre_end - pre_begin);
  if (n_pre < 8 || post_end - post_begin < 8) return r;
  double raw_sum = 0.0, raw_sum2 = 0.0;
  for (int64_t n = pre_begin; n < pre_end; ++n) {
    const double e = ring.At(n);
    raw_sum += e;
    raw_sum2 += e * e;
  }
  const double raw_mean = raw_sum / n_pre;
  const double noise = std::sqrt(std::max(0.0, raw_sum2 / n_pre - raw_mean * raw_mean));

  // The noise's power, taken off each sample's power, so that the levels and the ramp are the
  // tone's own amplitude and the ramp's middle does not move with the signal-to-noise ratio:
  // on the silent side of an on-off edge it is all the power there is; on a steady tone, a
  // complex noise of power c scatters the magnitude by about c / 2.
  const double noise_power = shape.silent_low
                                 ? (shape.rising ? power(pre_begin, pre_end) : power(post_begin, post_end))
                                 : 2.0 * noise * noise;
  auto level = [&](int64_t from, int64_t to) {
    return std::sqrt(std::max(0.0, power(from, to) - noise_power));
  };

  const double pre = level(pre_begin, pre_end);
  // Level after it: a window that starts after the latest ramp the gate allows, or, for a
  // tick, the few samples about the peak of its short plateau.
  double post = 0.0;
  if (shape.tick) {
    int64_t best = p - gate + EnvelopeWindow - 8;
    for (int64_t n = best; n <= p + gate + EnvelopeWindow + 8; ++n)
      if (ring.At(n) > ring.At(best)) best = n;
    post = level(best - 3, best + 4);
  } else {
    post = level(post_begin, post_end);
  }

  const double depth = shape.rising ? post - pre : pre - post;
  r.depth = depth;
  r.before = pre;
  r.after = post;
  r.noise = std::max(noise, 0.05);  // the 16-bit rounding alone leaves about this much
  // A tick's level is taken at the highest of many samples: in noise alone that stands some
  // three times the scatter above the mean, so a tick must stand that much higher again, and
  // never less than 6.5 times the scatter (its power ten times the noise's), which noise alone
  // reaches about once in a thousand searches.
  const double needed = shape.tick ? std::max(min_snr + 3.0, 6.5) : min_snr;
  if (depth <= 0.0 || depth < needed * r.noise) return r;
  const double mid = 0.5 * (pre + post);

  // The ramp's middle, found in the power domain where the noise only adds (its power taken
  // off, each sample is the tone's squared amplitude plus a noise of mean zero): the crossing
  // of the middle's power nearest the prediction, in the right direction, then refined by a
  // parabola (a straight amplitude ramp is a parabola in power) through the ramp about it.
  const double mid_power = mid * mid;
  auto excess = [&](int64_t n) {
    const double e = ring.At(n);
    return e * e - noise_power - mid_power;
  };
  const double expected = predicted + Half - 1;
  double crossing = 0.0;
  double best_distance = 1e300;
  for (int64_t n = p - gate + Half - 6; n <= p + gate + Half + 6; ++n) {
    const double a = excess(n);
    const double b = excess(n + 1);
    const bool crosses = shape.rising ? (a < 0.0 && b >= 0.0) : (a > 0.0 && b <= 0.0);
    if (!crosses) continue;
    // A ramp, not a wiggle of noise: a few samples either side lie on the right sides too.
    const double early = excess(n - 5), late = excess(n + 6);
    if (shape.rising ? (early >= 0.0 || late <= 0.0) : (early <= 0.0 || late >= 0.0)) continue;
    const double x = static_cast<double>(n) + a / (a - b);
    if (std::fabs(x - expected) < best_distance) {
      best_distance = std::fabs(x - expected);
      crossing = x;
    }
  }
  if (best_distance > gate + 8) return r;

  constexpr int FitHalf = 11;  // samples either side of the crossing, well inside the ramp
  const int64_t c = static_cast<int64_t>(std::lround(crossing));
  double s0 = 0.0, s2 = 0.0, s4 = 0.0, y0 = 0.0, y1 = 0.0, y2 = 0.0;
  for (int64_t n = c - FitHalf; n <= c + FitHalf; ++n) {
    const double x = static_cast<double>(n - c);
    const double y = excess(n);
    s0 += 1.0;
    s2 += x * x;
    s4 += x * x * x * x;
    y0 += y;
    y1 += x * y;
    y2 += x * x * y;
  }
  // y = a + b x + q x^2 by least squares over a window symmetric about 0
  const double b = y1 / s2;
  const double det = s0 * s4 - s2 * s2;
  const double a = (y0 * s4 - s2 * y2) / det;
  const double q = (s0 * y2 - s2 * y0) / det;
  if (shape.rising ? b <= 0.0 : b >= 0.0) return r;
  const double discriminant = b * b - 4.0 * q * a;
  if (discriminant < 0.0) return r;
  // the root near x = 0, in the form that stays exact when q is small
  const double root = -2.0 * a / (b + std::copysign(std::sqrt(discriminant), b));
  const double middle = static_cast<double>(c) + root;
  if (!std::isfinite(middle) || std::fabs(middle - crossing) > 8.0) return r;

  // The middle of the ramp lies Half - 1 samples after the step; half a sample more because a
  // sample at the step itself already holds the new level.
  r.position = middle - (Half - 1) - 0.5;
  r.found = true;
  return r;
}

// ---------------------------------------------------------------------------- robust line --

LineFit FitRobustLine(LinePoint* points, int count, double reject, double* scratch) {
  LineFit fit;
  count = std::min(count, MaxLinePoints);
  for (int i = 0; i < count; ++i) points[i].inlier = false;
  if (count < 3) return fit;
  fit.origin = points[count - 1].second;

  // Median of the pairwise slopes: a third of the points may be wild without moving it much.
  int pairs = 0;
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j) {
      const int64_t dk = points[j].second - points[i].second;
      if (dk == 0 || pairs >= LineScratchSize) continue;
      scratch[pairs++] = (points[j].position - points[i].position) / static_cast<double>(dk);
    }
  if (pairs == 0) return fit;
  double slope = Median(scratch, pairs);
  for (int i = 0; i < count; ++i)
    scratch[i] = points[i].position - slope * static_cast<double>(points[i].second - fit.origin);
  double intercept = Median(scratch, count);

  // Robust scatter, and the points that lie within it.
  for (int i = 0; i < count; ++i)
    scratch[i] = std::fabs(points[i].position - intercept -
                           slope * static_cast<double>(points[i].second - fit.origin));
  const double sigma = 1.4826 * Median(scratch, count);
  const double limit = std::max(reject, 4.0 * sigma);

  double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const double x = static_cast<double>(points[i].second - fit.origin);
    const double residual = points[i].position - intercept - slope * x;
    if (std::fabs(residual) > limit || !(points[i].weight > 0.0)) continue;
    points[i].inlier = true;
    const double w = points[i].weight;
    sw += w;
    sx += w * x;
    sy += w * points[i].position;
    sxx += w * x * x;
    sxy += w * x * points[i].position;
    ++n;
  }
  if (n < 3) return fit;
  const double det = sw * sxx - sx * sx;
  if (!(det > 0.0)) return fit;
  slope = (sw * sxy - sx * sy) / det;
  intercept = (sy - slope * sx) / sw;

  double ss = 0.0;
  for (int i = 0; i < count; ++i) {
    if (!points[i].inlier) continue;
    const double e =
        points[i].position - intercept - slope * static_cast<double>(points[i].second - fit.origin);
    ss += points[i].weight * e * e;
  }
  ss = ss / sw * n;
  fit.ok = true;
  fit.intercept = intercept;
  fit.slope = slope;
  fit.inliers = n;
  fit.rms = std::sqrt(ss / n);
  return fit;
}
