// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/tick_onset.h"

#include <algorithm>
#include <cmath>

namespace {

// places beside the box's width that the peak's centroid takes in: the receiver's passband
// smears the tick's edges by a few samples
constexpr int SmearPlaces = 4;
// ms: the fold is moved under the peak once it lies this far from the count's second start
constexpr double ShiftMs = 2.0;
constexpr int EvaluateEvery = 4;  // seconds folded between looks at the fold

}  // namespace

TickOnset::TickOnset(const TickTones& tones) : tones_(tones) {
  tones_.count = std::clamp(tones_.count, 0, 2);
  for (int c = 0; c < tones_.count; ++c) {
    tones_.period[c] = std::clamp(tones_.period[c], 1, 128);
    for (int k = 0; k < tones_.period[c]; ++k) {
      const double phase = 2.0 * M_PI * tones_.cycles[c] * k / tones_.period[c];
      cos_[c][k] = std::cos(phase);
      sin_[c][k] = std::sin(phase);
    }
  }
  Reset();
}

void TickOnset::Reset() {
  have_origin_ = false;
  ClearFold();
}

void TickOnset::ClearFold() {
  for (auto& f : fold_re_) std::fill(f, f + MaxPlaces, 0.0);
  for (auto& f : fold_im_) std::fill(f, f + MaxPlaces, 0.0);
  added_ = 0;
  sure_ = false;
  sigmas_ = 0.0;
}

void TickOnset::Add(const int16_t* ring, int64_t mask, double start, double rate, bool has_tick) {
  if (tones_.count == 0 || ring == nullptr || !(rate > 7000.0 && rate < 9000.0) || !(std::fabs(start) < 1e15))
    return;
  const int from = static_cast<int>(std::floor(FromMs * rate / 1000.0));
  const int places = std::min(static_cast<int>(std::ceil(ToMs * rate / 1000.0)) - from + 1, MaxPlaces);
  const int box = std::clamp(static_cast<int>(std::lround(tones_.length_ms * rate / 1000.0)), 1, MaxBox);
  if (!have_origin_ || from != from_ || places != places_ || box != box_) {
    have_origin_ = true;
    origin_ = start;
    from_ = from;
    places_ = places;
    box_ = box;
    // Boxes d places apart share samples: their sums' noise is correlated by 1 - |d| / box.
    // The centroid's noise takes the sums of that correlation over the peak's places.
    const int half = box_ + SmearPlaces;
    spread_jl_ = spread_0_ = 0.0;
    for (int j = -half; j <= half; ++j)
      for (int l = -half; l <= half; ++l) {
        const double correlation = std::max(0.0, 1.0 - std::abs(j - l) / static_cast<double>(box_));
        spread_jl_ += j * l * correlation;
        spread_0_ += correlation;
      }
    ClearFold();
  } else {
    // the fold's own count of seconds, brought up to this one
    origin_ += std::round((start - origin_) / rate) * rate;
    if (!(std::fabs(origin_ - start) <= RecentreMs * rate / 1000.0)) {
      origin_ = start;
      ClearFold();
    }
  }
  if (!has_tick) return;

  const double keep = std::exp(-1.0 / FoldSeconds);
  const double floor_origin = std::floor(origin_);
  const double f = origin_ - floor_origin;
  const int64_t first = static_cast<int64_t>(floor_origin) + from_;
  const int span = places_ + box_ - 1;
  for (int c = 0; c < tones_.count; ++c) {
    const int period = tones_.period[c];
    int k = static_cast<int>(((first % period) + period) % period);
    double re[MaxPlaces + MaxBox], im[MaxPlaces + MaxBox];
    for (int i = 0; i < span; ++i) {
      const double v = ring[(first + i) & mask];
      re[i] = v * cos_[c][k];
      im[i] = -v * sin_[c][k];
      k = k + 1 == period ? 0 : k + 1;
    }
    double sum_re[MaxPlaces], sum_im[MaxPlaces];
    double sr = 0.0, si = 0.0;
    for (int i = 0; i < box_; ++i) {
      sr += re[i];
      si += im[i];
    }
    double total = 0.0;
    for (int i = 0; i < places_; ++i) {
      if (i > 0) {
        sr += re[i + box_ - 1] - re[i - 1];
        si += im[i + box_ - 1] - im[i - 1];
      }
      sum_re[i] = sr;
      sum_im[i] = si;
      total += sr * sr + si * si;
    }
    double* fold_re = fold_re_[c];
    double* fold_im = fold_im_[c];
    for (int j = 0; j < places_; ++j) {
      fold_re[j] *= keep;
      fold_im[j] *= keep;
    }
    if (!(total > 0.0)) continue;  // silence: nothing to place
    // The tick is sent in the same phase every second: the sums are turned by the reference's
    // phase at the fold's place 0, so that they add up from second to second.
    const double turn = 2.0 * M_PI * std::fmod(origin_ * tones_.cycles[c], static_cast<double>(period)) / period;
    const double unit = (1.0 - keep) / std::sqrt(total / places_);
    const double tr = std::cos(turn) * unit, ti = std::sin(turn) * unit;
    // box i begins at place i - f of the fold
    for (int i = 0; i < places_; ++i) {
      const double xr = sum_re[i] * tr - sum_im[i] * ti, xi = sum_re[i] * ti + sum_im[i] * tr;
      fold_re[i] += (1.0 - f) * xr;
      fold_im[i] += (1.0 - f) * xi;
      if (i > 0) {
        fold_re[i - 1] += f * xr;
        fold_im[i - 1] += f * xi;
      }
    }
  }
  ++added_;
  // (the onset moves far slower than a look every few seconds follows)
  if (added_ % EvaluateEvery == 0) Evaluate(rate);
}

void TickOnset::Evaluate(double rate) {
  sure_ = false;
  sigmas_ = 0.0;
  if (added_ < MinSeconds) return;
  const int half = box_ + SmearPlaces;
  double best_sigmas = 0.0, best_place = 0.0, best_sd = 0.0;
  bool any = false;
  for (int c = 0; c < tones_.count; ++c) {
    const double* fold_re = fold_re_[c];
    const double* fold_im = fold_im_[c];
    double power[MaxPlaces], sorted[MaxPlaces];
    for (int j = 0; j < places_; ++j) power[j] = fold_re[j] * fold_re[j] + fold_im[j] * fold_im[j];
    // The noise's power in the fold: the median place's power is ln 2 of it (the tick's peak
    // is a small part of the places).
    std::copy(power, power + places_, sorted);
    std::nth_element(sorted, sorted + places_ / 2, sorted + places_);
    const double noise = sorted[places_ / 2] / std::log(2.0);
    if (!(noise > 0.0)) continue;
    int peak = -1;
    for (int j = half; j + half < places_; ++j)
      if (peak < 0 || power[j] > power[peak]) peak = j;
    if (peak < 0) continue;
    const double sigmas = std::sqrt(power[peak] / noise);
    // In the peak's phase the fold is the tick's triangle (the overlap of box and tick) plus
    // noise of half the power: its centroid about the peak, then once more about the
    // centroid. Its noise: the moment's over the sum.
    const double norm = std::sqrt(power[peak]);
    const double cr = fold_re[peak] / norm, ci = fold_im[peak] / norm;
    double place = peak, place_sd = 0.0;
    bool ok = true;
    for (int pass = 0; pass < 2 && ok; ++pass) {
      const int centre = static_cast<int>(std::lround(place));
      if (centre - half < 0 || centre + half >= places_) {
        ok = false;
        break;
      }
      double sum = 0.0, moment = 0.0;
      for (int j = centre - half; j <= centre + half; ++j) {
        const double r = fold_re[j] * cr + fold_im[j] * ci;
        sum += r;
        moment += r * (j - centre);
      }
      if (!(sum > 0.0)) {
        ok = false;
        break;
      }
      const double mid = moment / sum;
      place = centre + mid;
      // sum over j, l of (j - mid) (l - mid) correlation(j - l); the terms odd in mid cancel
      const double spread = spread_jl_ + mid * mid * spread_0_;
      place_sd = std::sqrt(0.5 * noise * std::max(spread, 0.0)) / sum;
    }
    if (!ok) continue;
    if (!any || sigmas > best_sigmas) {
      any = true;
      best_sigmas = sigmas;
      best_place = place;
      best_sd = place_sd;
    }
  }
  if (!any) return;
  sigmas_ = best_sigmas;
  spread_ms_ = best_sd / rate * 1000.0;
  const double from_origin = from_ + best_place;  // samples
  onset_ = origin_ + from_origin;
  if (sigmas_ >= SureSigmas && spread_ms_ <= SureMs) sure_ = true;
  // The fold's count of seconds drifts from the tick as far as the line's rate is off: the
  // fold is moved by whole places to keep the peak well inside it.
  const int shift = static_cast<int>(std::lround(from_origin));
  if (sure_ && std::abs(shift) >= ShiftMs * rate / 1000.0) {
    // (places moved in from outside start empty; the turn at the new place 0 differs from the
    // old by the tone's phase over the shift)
    for (int c = 0; c < tones_.count; ++c) {
      const double turn = 2.0 * M_PI * tones_.cycles[c] * shift / tones_.period[c];
      const double tr = std::cos(turn), ti = std::sin(turn);
      for (double* fold : {fold_re_[c], fold_im_[c]}) {
        double moved[MaxPlaces];
        for (int j = 0; j < places_; ++j) {
          const int src = j + shift;
          moved[j] = src >= 0 && src < places_ ? fold[src] : 0.0;
        }
        std::copy(moved, moved + places_, fold);
      }
      for (int j = 0; j < places_; ++j) {
        const double r = fold_re_[c][j], i = fold_im_[c][j];
        fold_re_[c][j] = r * tr - i * ti;
        fold_im_[c][j] = r * ti + i * tr;
      }
    }
    origin_ += shift;
  }
}
