// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/second_finder.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int BinsPerSlot = SecondFinder::Bins / SlotsPerSecond;  // 100 ms
constexpr int GroupBins = 20;  // 20 ms means for the noise: longer than the window
constexpr int Groups = SecondFinder::Bins / GroupBins;
constexpr int GroupsPerSlot = BinsPerSlot / GroupBins;
constexpr int LobeBins = BinsPerSlot / 2;  // phases this near the best belong to its peak
// Median of a chi-square variable of one degree of freedom: the median of d^2 for a normal d
// of unit variance.
constexpr double MedianChi2One = 0.4549364;
constexpr double MeanLevelPieces = 3000.0;  // pieces: the running mean's time constant, 3 s
constexpr double RecentMinSeconds = 5.0;
// windows between looks at the fold: about 4 s (the phase moves far slower)
constexpr int EvaluatePieces = 4 * SecondFinder::Bins;
// bins (ms) from the coarse edge: where the levels on either side are measured, and how far
// the ramp between them is summed
constexpr int EdgeLevelFrom = 15, EdgeLevelTo = 60, EdgeReach = 12, NearReach = 7;

// The mean of each bin, `sum` / `count`; a bin no window fell into is read on the straight
// line between the nearest bins that have one (around the second's end too), so that the
// shape of an edge keeps its middle. All zero when no bin has any.
void FillProfile(const double* sum, const double* count, double* out) {
  constexpr int Bins = SecondFinder::Bins;
  int first = -1;
  for (int b = 0; b < Bins; ++b)
    if (count[b] > 0.0) {
      first = b;
      break;
    }
  if (first < 0) {
    std::fill(out, out + Bins, 0.0);
    return;
  }
  int from = first;
  const double first_value = sum[first] / count[first];
  double from_value = first_value;
  out[first] = first_value;
  for (int step = 1; step <= Bins; ++step) {
    const int b = (first + step) % Bins;
    if (step < Bins && !(count[b] > 0.0)) continue;
    const double value = step < Bins ? sum[b] / count[b] : first_value;
    int gap = (b - from + Bins) % Bins;
    if (gap == 0) gap = Bins;  // one bin alone: the line runs round the whole second
    for (int g = 1; g < gap; ++g) out[(from + g) % Bins] = from_value + (value - from_value) * g / gap;
    if (step == Bins) break;
    out[b] = value;
    from = b;
    from_value = value;
  }
}

// The mean, over the window's places across the seconds' edge, of the window's power
// normalised between the edge's low side (0) and its high side (1) (see Evaluate). The level
// steps from 1 to `rho` (or back, `rises`) under a tone of `cycles` cycles in `period`
// samples. A code phase-locked to the second (`locked`: WWV's 100 Hz, one cycle in the window)
// starts at its zero crossing; a carrier's beat meets the edge at any phase, so the mean is
// taken over 16 of them (with many cycles in the window the phase hardly counts).
double RampMean(double rho, bool rises, int cycles, int period, bool locked) {
  constexpr int n = SecondFinder::WindowPieces * SecondFinder::PieceSamples;
  const double w = 2.0 * M_PI * cycles / period;
  const int phases = locked ? 1 : 16;
  double mean = 0.0;
  for (int q = 0; q < phases; ++q) {
    const double phi = 2.0 * M_PI * q / phases;
    auto power = [&](int step) {  // the step just before sample `step` of the window
      double re = 0.0, im = 0.0;
      for (int k = 0; k < n; ++k) {
        const bool high = rises ? k >= step : k < step;
        const double v = (high ? 1.0 : rho) * std::sin(w * (k - step) + phi);
        re += v * std::cos(w * k);
        im -= v * std::sin(w * k);
      }
      return re * re + im * im;
    };
    const double high = rises ? power(0) : power(n), low = rises ? power(n) : power(0);
    if (!(high - low > 0.0)) return 0.5;
    double sum = 0.0;
    for (int j = 0; j <= n; ++j) sum += (j == 0 || j == n ? 0.5 : 1.0) * (power(j) - low) / (high - low);
    mean += sum / n / phases;
  }
  return mean;
}

double Wrap(double phase) {
  phase -= std::floor(phase);
  return phase >= 1.0 ? 0.0 : phase;
}

}  // namespace

SecondFinder::SecondFinder(const StationSymbols& table, int tone_cycles, int tone_period)
    : power_sum_(std::make_unique<double[]>(Bins)),
      profile_(std::make_unique<double[]>(Bins)),
      prefix_(std::make_unique<double[]>(2 * Bins + 1)),
      corr_(std::make_unique<double[]>(Bins)) {
  for (Fold* f : {&fold_, &recent_}) {
    f->sum = std::make_unique<double[]>(Bins);
    f->count = std::make_unique<double[]>(Bins);
  }
  // The station's mean second: in how many seconds of a minute each tenth is reduced, each
  // symbol a second allows taken as equally likely. The power there is lower by that fraction
  // (the reduced carrier's own power, a few per cent of the full one, is left out).
  double low[SlotsPerSecond] = {};
  for (int p = 0; p < 60; ++p) {
    int n = 0;
    for (int s = 0; s < table.symbol_count; ++s) n += table.allowed[p] >> s & 1;
    if (n == 0) continue;
    for (int s = 0; s < table.symbol_count; ++s) {
      if (!(table.allowed[p] >> s & 1)) continue;
      for (int j = 0; j < SlotsPerSecond; ++j)
        if (table.symbols[s].low_slots >> j & 1) low[j] += 1.0 / (60.0 * n);
    }
  }
  double mean = 0.0;
  for (double l : low) mean += l / SlotsPerSecond;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    slot_weight_[j] = mean - low[j];
    weight_norm2_ += slot_weight_[j] * slot_weight_[j];
  }
  supported_ = weight_norm2_ > 1e-6;
  edge_bins_ = std::clamp(table.edge_ms, 0, BinsPerSlot - EdgeLevelTo) * (Bins / 1000);
  edge_rises_ = table.edge_rises;
  period_ = std::clamp(tone_period, 1, MaxPeriod);
  for (int k = 0; k < period_; ++k) {
    const double phase = 2.0 * M_PI * tone_cycles * k / period_;
    cos_[k] = std::cos(phase);
    sin_[k] = std::sin(phase);
  }
  // A whole piece's reference from each place in the tone's cycle, so that a piece is summed
  // without stepping through the table sample by sample.
  for (int k = 0; k < period_; ++k) piece_next_[k] = (k + PieceSamples) % period_;
  for (int k = 0; k < period_; ++k)
    for (int j = 0; j < PieceSamples; ++j) {
      piece_cos_[k][j] = cos_[(k + j) % period_];
      piece_sin_[k][j] = sin_[(k + j) % period_];
    }
  // The edge's low side as a fraction of its high side, and what that makes of the mean of the
  // power's ramp across it (see Evaluate).
  ramp_mean_ = RampMean(std::clamp(static_cast<double>(table.edge_low), 0.0, 0.99), table.edge_rises,
                        tone_cycles, std::max(tone_period, 1), table.code_cycles > 0);
  Reset();
}

SecondFinder::~SecondFinder() = default;

void SecondFinder::Reset() {
  std::fill(fold_.sum.get(), fold_.sum.get() + Bins, 0.0);
  std::fill(fold_.count.get(), fold_.count.get() + Bins, 0.0);
  std::fill(power_sum_.get(), power_sum_.get() + Bins, 0.0);
  ClearRecent();
  started_ = false;
  have_stamp_ = false;
  rate_ = 8000.0;
  re_ = im_ = 0.0;
  counters_set_ = false;
  inverse_level_ = inverse_power_ = 0.0;
  tone_k_ = 0;
  in_piece_ = 0;
  window_fill_ = window_pos_ = 0;
  sum_re_ = sum_im_ = 0.0;
  for (double& w : window_re_) w = 0.0;
  for (double& w : window_im_) w = 0.0;
  mean_power_ = -1.0;
  phase_ = 0.0;
  mean_level_ = -1.0;
  pieces_ = 0;
  seconds_ = 0.0;
  found_ = false;
  sigmas_ = lead_sigmas_ = 0.0;
  confirmed_ = false;
}

void SecondFinder::UpdateRate(int64_t first_sample, int64_t capture_time_ns) {
  if (capture_time_ns <= 0) return;
  if (!have_stamp_) {
    have_stamp_ = true;
    stamp0_ns_ = capture_time_ns;
    stamp0_sample_ = first_sample;
    phase_ = Wrap(static_cast<double>(capture_time_ns % 1000000000) * 1e-9);
    return;
  }
  const double span = static_cast<double>(capture_time_ns - stamp0_ns_) * 1e-9;
  const double samples = static_cast<double>(first_sample - stamp0_sample_);
  const double predicted = samples / rate_;
  // A capture clock that was stepped (the system time set) starts a new baseline; the rate
  // measured so far stays.
  if (!(std::fabs(span - predicted) <= 0.05 + 1e-3 * predicted)) {
    stamp0_ns_ = capture_time_ns;
    stamp0_sample_ = first_sample;
    return;
  }
  if (span < 2.0) return;
  const double rate = samples / span;
  if (rate > 7000.0 && rate < 9000.0) rate_ = rate;
}

void SecondFinder::Add(const int16_t* samples, int count, int64_t first_sample, int64_t capture_time_ns) {
  if (!supported_ || samples == nullptr || count <= 0) return;
  if (!started_) {
    started_ = true;
    piece_start_ = first_sample;
  }
  UpdateRate(first_sample, capture_time_ns);
  const double piece_phase = PieceSamples / rate_;  // seconds per piece
  // the window's middle, from the end of its newest piece
  const double centre = -0.5 * WindowPieces * piece_phase;
  if (!counters_set_) {
    counters_set_ = true;
    tone_k_ = static_cast<int>(first_sample % period_);
  }
  for (int i = 0; i < count;) {
    // the rest of the piece being gathered, with the sums in registers
    const int take = std::min(PieceSamples - in_piece_, count - i);
    if (take == PieceSamples) {
      // a whole piece at once (nearly always): the sums in independent lanes
      const double* c = piece_cos_[tone_k_];
      const double* sn = piece_sin_[tone_k_];
      double re[PieceSamples], im[PieceSamples];
      for (int j = 0; j < PieceSamples; ++j) {
        const double v = samples[i + j];
        re[j] = v * c[j];
        im[j] = v * sn[j];
      }
      re_ += ((re[0] + re[1]) + (re[2] + re[3])) + ((re[4] + re[5]) + (re[6] + re[7]));
      im_ -= ((im[0] + im[1]) + (im[2] + im[3])) + ((im[4] + im[5]) + (im[6] + im[7]));
      tone_k_ = piece_next_[tone_k_];
    } else {
      double re = 0.0, im = 0.0;
      int k = tone_k_;
      for (int j = 0; j < take; ++j) {
        const double v = samples[i + j];
        re += v * cos_[k];
        im -= v * sin_[k];
        k = k + 1 == period_ ? 0 : k + 1;
      }
      tone_k_ = k;
      re_ += re;
      im_ += im;
    }
    i += take;
    in_piece_ += take;
    if (in_piece_ < PieceSamples) continue;
    const int slot = window_pos_;
    window_pos_ = window_pos_ + 1 == WindowPieces ? 0 : window_pos_ + 1;
    // The window's sum runs on, the newest piece in and the oldest out; added up afresh once a
    // round, so that rounding never gathers.
    if (slot == 0) {
      const double* r = window_re_;
      const double* m = window_im_;
      sum_re_ = ((r[1] + r[2]) + (r[3] + r[4])) + ((r[5] + r[6]) + (r[7] + r[8])) + (r[9] + re_);
      sum_im_ = ((m[1] + m[2]) + (m[3] + m[4])) + ((m[5] + m[6]) + (m[7] + m[8])) + (m[9] + im_);
    } else {
      sum_re_ += re_ - window_re_[slot];
      sum_im_ += im_ - window_im_[slot];
    }
    window_re_[slot] = re_;
    window_im_[slot] = im_;
    re_ = im_ = 0.0;
    in_piece_ = 0;
    phase_ += piece_phase;
    if (phase_ >= 1.0) phase_ -= 1.0;
    piece_start_ = first_sample + i;
    if (window_fill_ < WindowPieces) {
      ++window_fill_;
      continue;
    }
    const double wr = sum_re_, wi = sum_im_;
    // The correlation folds the magnitude: across a keyed edge the window's coherent sum ramps
    // straight from one level to the other, and so does its magnitude. (The edge itself is
    // placed in the fold of the power, below.)
    const double power = wr * wr + wi * wi;
    const double level = std::sqrt(power);
    if (mean_level_ < 0.0) mean_level_ = level;
    // (the running means' inverses, taken afresh every 16 windows: they move far slower)
    if ((pieces_ & 15) == 0) {
      inverse_level_ = mean_level_ > 0.0 ? 1.0 / mean_level_ : 0.0;
      inverse_power_ = mean_power_ > 0.0 ? 1.0 / mean_power_ : 0.0;
    }
    const double x = std::min(level * inverse_level_, ClipRatio);
    mean_level_ += (std::min(level, ClipRatio * mean_level_) - mean_level_) * (1.0 / MeanLevelPieces);
    // The window's power: its mean over many seconds at one phase is the square of the tone's
    // level there plus the noise's power, the same at every phase (see Evaluate).
    if (mean_power_ < 0.0) mean_power_ = power;
    const double clip = ClipRatio * ClipRatio;
    mean_power_ += (std::min(power, clip * mean_power_) - mean_power_) * (1.0 / MeanLevelPieces);
    const double relative_power = std::min(power, clip * mean_power_) * inverse_power_;
    double middle = phase_ + centre;
    if (middle < 0.0) middle += 1.0;
    const int b = std::clamp(static_cast<int>(middle * Bins), 0, Bins - 1);
    power_sum_[b] += relative_power;
    fold_.sum[b] += x;
    fold_.count[b] += 1.0;
    recent_.sum[b] += x;
    recent_.count[b] += 1.0;
    if (++pieces_ >= EvaluatePieces) Evaluate();
  }
}

double SecondFinder::Correlate(const Fold& fold, bool all_phases, int at) {
  // The fold's mean second.
  FillProfile(fold.sum.get(), fold.count.get(), profile_.get());
  // The noise, from sums over 20 ms groups: the station's shape is flat across all but a few
  // of them, so the median squared difference of groups two apart (whose windows share no
  // sample) is twice a group's noise variance alone, and that of neighbouring groups tells how
  // much of it they share (the window, the receiver's passband).
  double sums[Groups], d1[Groups], d2[Groups];
  for (int g = 0; g < Groups; ++g) {
    double sum = 0.0;
    for (int b = 0; b < GroupBins; ++b) sum += profile_[g * GroupBins + b];
    sums[g] = sum;
  }
  for (int g = 0; g < Groups; ++g) {
    const double a1 = sums[(g + 1) % Groups] - sums[g], a2 = sums[(g + 2) % Groups] - sums[g];
    d1[g] = a1 * a1;
    d2[g] = a2 * a2;
  }
  std::nth_element(d1, d1 + Groups / 2, d1 + Groups);
  std::nth_element(d2, d2 + Groups / 2, d2 + Groups);
  const double variance = d2[Groups / 2] / (2.0 * MedianChi2One);
  const double shared =
      variance > 0.0 ? std::clamp(1.0 - d1[Groups / 2] / (2.0 * MedianChi2One) / variance, 0.0, 1.0) : 0.0;
  // A slot's sum is that of GroupsPerSlot groups, each sharing `shared` of its variance with
  // its neighbours.
  const double slot_variance = variance * (GroupsPerSlot + 2.0 * (GroupsPerSlot - 1) * shared);
  const double sigma = std::sqrt(std::max(slot_variance * weight_norm2_, 1e-30));

  prefix_[0] = 0.0;
  for (int i = 0; i < 2 * Bins; ++i) prefix_[i + 1] = prefix_[i] + profile_[i % Bins];
  const int from = all_phases ? 0 : at, to = all_phases ? Bins : at + 1;
  for (int s = from; s < to; ++s) {
    double c = 0.0;
    for (int j = 0; j < SlotsPerSecond; ++j)
      c += slot_weight_[j] * (prefix_[s + (j + 1) * BinsPerSlot] - prefix_[s + j * BinsPerSlot]);
    corr_[s] = c;
  }
  return sigma;
}

void SecondFinder::Evaluate() {
  const double elapsed = pieces_ * PieceSamples / rate_;  // seconds
  pieces_ = 0;
  const double keep = std::exp(-elapsed / FoldSeconds);
  for (int b = 0; b < Bins; ++b) {
    fold_.sum[b] *= keep;
    fold_.count[b] *= keep;
    power_sum_[b] *= keep;
  }
  seconds_ = seconds_ * keep + elapsed;
  if (seconds_ < MinSeconds) return;

  const double sigma = Correlate(fold_, true, 0);
  int best = 0;
  for (int s = 1; s < Bins; ++s)
    if (corr_[s] > corr_[best]) best = s;
  double next = -1e300;
  for (int s = 0; s < Bins; ++s) {
    const int d = std::abs(s - best);
    if (std::min(d, Bins - d) >= LobeBins) next = std::max(next, corr_[s]);
  }
  sigmas_ = corr_[best] / sigma;
  lead_sigmas_ = (corr_[best] - next) / sigma;
  // Finer than the correlation, whose peak also leans with the share of long and short symbols
  // in the minutes heard: the edge every second starts with, alone. Across it the tone's level
  // (its coherent sum over the window) ramps straight from the full carrier to the reduced one
  // over the window's 10 ms, in every second alike whatever its fading. The fold of the
  // window's power follows the square of that ramp, plus the noise's power, the same at every
  // phase. Between the levels before the edge (always the full carrier) and after it (reduced
  // in nearly every second), measured away from it, the ramp's height as a fraction of the
  // step, summed over bins from EdgeReach before to EdgeReach after the peak, counts the bins
  // before the ramp's start plus the ramp's width times the mean of its normalised square,
  // ramp_mean_ (RampMean): for a level falling straight from 1 to rho,
  //     integral over 0..1 of ((rho + (1 - rho) u)^2 - rho^2) / (1 - rho^2) du
  //         = (1 + 2 rho) / (3 (1 + rho)),
  // a third for a carrier switched off, a half for a step too small to bend the square (WWV's
  // 100 Hz, one cycle in the window, bends it a little more: 0.352). The noise's power, the
  // same in every bin, falls out of the differences: nothing of it is estimated, so nothing of
  // it biases the middle. (The root of the power less an estimate
  // of the noise would ramp straight, but near a carrier switched off that root of a small
  // difference is lifted by the noise, and the middle moved early by a millisecond at -5 dB.)
  FillProfile(power_sum_.get(), fold_.count.get(), profile_.get());
  // A code that rises some way into the second (WWV's) is placed by that edge the same way:
  // the sum then counts the bins before its middle on the silent side. The correlation's
  // peak lies somewhere between the second's start and that edge, so the edge is first found
  // as the steepest rise there.
  int edge = best;
  if (edge_rises_) {
    double steepest = -1e300;
    for (int c = best - EdgeReach; c <= best + edge_bins_ + EdgeReach; ++c) {
      double rise = 0.0;
      for (int b = EdgeReach / 2; b < EdgeReach + EdgeReach / 2; ++b)
        rise += profile_[(c + b + Bins) % Bins] - profile_[(c - b + 2 * Bins) % Bins];
      if (rise > steepest) {
        steepest = rise;
        edge = c;
      }
    }
  }
  double before = 0.0, after = 0.0;
  for (int b = EdgeLevelFrom; b < EdgeLevelTo; ++b) {
    before += profile_[(edge - b + Bins) % Bins];
    after += profile_[(edge + b) % Bins];
  }
  double phase = static_cast<double>(best) / Bins;
  const double step = (before - after) / (EdgeLevelTo - EdgeLevelFrom);
  if (edge_rises_ ? step < 0.0 : step > 0.0) {
    after /= EdgeLevelTo - EdgeLevelFrom;
    // The window's width in bins, and how many bins the ramp's fractions fall short of its
    // middle: on a falling edge the sum counts w * ramp_mean_ of the ramp's w bins where a
    // straight ramp gives w / 2; on a rising one (the low side first) w * (1 - ramp_mean_).
    const double width = WindowPieces * PieceSamples * Bins / rate_;
    const double short_of_middle = width * (edge_rises_ ? ramp_mean_ - 0.5 : 0.5 - ramp_mean_);
    double before_bins = 0.0;
    for (int b = -EdgeReach; b < EdgeReach; ++b)
      before_bins += (profile_[(edge + b + Bins) % Bins] - after) / step;
    before_bins += short_of_middle;
    if (std::fabs(before_bins - EdgeReach) < EdgeReach) {
      // Once more over the ramp and a little beside it alone, centred where the first sum put
      // the middle: fewer bins, less of their noise.
      const double middle = edge - EdgeReach + before_bins;
      const int centre = static_cast<int>(std::lround(middle));
      double near_bins = short_of_middle;
      for (int b = -NearReach; b < NearReach; ++b)
        near_bins += (profile_[((centre + b) % Bins + Bins) % Bins] - after) / step;
      const double fine =
          std::fabs(near_bins - NearReach) < NearReach ? centre - NearReach + near_bins : middle;
      phase = Wrap((fine - edge_bins_) / Bins);
    }
  }
  const bool sure = sigmas_ >= FindSigmas && lead_sigmas_ >= LeadNeeded;
  if (!found_) {
    if (!sure) return;
    found_ = true;
    best_phase_ = phase;
    ClearRecent();
  } else if (sigmas_ < LoseSigmas) {
    found_ = false;
    return;
  } else {
    const double d = std::fabs(phase - best_phase_);
    const bool far = std::min(d, 1.0 - d) * Bins >= LobeBins;
    // A peak elsewhere takes over only once it is sure on its own; until then the phase
    // found stays.
    if (!far || sure) best_phase_ = phase;
    if (far && sure) ClearRecent();
  }
  start_sample_ = static_cast<double>(piece_start_) + Wrap(best_phase_ - phase_) * rate_;

  // Is the phase still heard? The evidence since the last confirmation alone.
  recent_seconds_ += elapsed;
  if (recent_seconds_ < RecentMinSeconds) return;
  const int at = static_cast<int>(std::lround(best_phase_ * Bins)) % Bins;
  const double recent_sigma = Correlate(recent_, false, at);
  if (corr_[at] >= ConfirmSigmas * recent_sigma) {
    confirmed_ = true;
    ClearRecent();
  }
}

void SecondFinder::ClearRecent() {
  std::fill(recent_.sum.get(), recent_.sum.get() + Bins, 0.0);
  std::fill(recent_.count.get(), recent_.count.get() + Bins, 0.0);
  recent_seconds_ = 0.0;
}

bool SecondFinder::TakeConfirmation() {
  const bool c = confirmed_;
  confirmed_ = false;
  return c;
}
