// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/soft_symbols.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int PiecesPerSlot = 10;  // 10 ms pieces
constexpr int Pieces = SlotsPerSecond * PiecesPerSlot;
// The averages of the tone's turn follow about a minute of seconds.
constexpr double TurnWeight = 1.0 / 60.0;
// ... from a turn of zero with the weight of a tone 10 dB under the noise in 300 Hz: a tenth
// of a piece's power is the tone's.
constexpr double TurnPrior = 0.1;

// The tone's complex sum over each 10 ms piece of the second that begins at `start`, against
// a reference whose phase comes from the absolute sample number (so that it never drifts
// between pieces or seconds), the samples in each and each piece's middle (samples from
// `start`).
void PieceSums(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
               double re[Pieces], double im[Pieces], int count[Pieces], double middle[Pieces]) {
  // The reference's cycle, repeated far enough that a whole piece reads it straight on from
  // any place in the cycle (a piece is at most MaxPiece samples: 90 at 9000 per second).
  constexpr int MaxPeriod = 128, MaxPiece = 96;
  double cos_table[MaxPeriod + MaxPiece], sin_table[MaxPeriod + MaxPiece];
  period = std::clamp(period, 1, MaxPeriod);
  for (int k = 0; k < period; ++k) {
    const double phase = 2.0 * M_PI * cycles * k / period;
    cos_table[k] = std::cos(phase);
    sin_table[k] = std::sin(phase);
  }
  for (int k = period; k < period + MaxPiece; ++k) {
    cos_table[k] = cos_table[k - period];
    sin_table[k] = sin_table[k - period];
  }
  int64_t from = std::llround(start);
  for (int piece = 0; piece < Pieces; ++piece) {
    const int64_t to = std::llround(start + rate * (piece + 1) / Pieces);
    double r = 0.0, i = 0.0;
    int k = static_cast<int>(((from % period) + period) % period);
    const int64_t length = to - from;
    if (length > 0 && length <= MaxPiece && (from & mask) + length <= mask + 1) {
      // the usual case, the piece in one stretch of the ring: four independent sums
      const int16_t* x = ring + (from & mask);
      const double* c = cos_table + k;
      const double* sn = sin_table + k;
      double r4[4] = {}, i4[4] = {};
      int64_t n = 0;
      for (; n + 4 <= length; n += 4)
        for (int j = 0; j < 4; ++j) {
          r4[j] += x[n + j] * c[n + j];
          i4[j] += x[n + j] * sn[n + j];
        }
      for (; n < length; ++n) {
        r4[0] += x[n] * c[n];
        i4[0] += x[n] * sn[n];
      }
      r = (r4[0] + r4[1]) + (r4[2] + r4[3]);
      i = -((i4[0] + i4[1]) + (i4[2] + i4[3]));
    } else {
      for (int64_t n = from; n < to; ++n) {
        const double x = ring[n & mask];
        r += x * cos_table[k];
        i -= x * sin_table[k];
        k = k + 1 == period ? 0 : k + 1;
      }
    }
    re[piece] = r;
    im[piece] = i;
    count[piece] = static_cast<int>(std::max<int64_t>(to - from, 0));
    middle[piece] = 0.5 * static_cast<double>(from + to) - start;
    from = to;
  }
}

}  // namespace

void PieceLevels(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                 double levels[TonePieces]) {
  static_assert(TonePieces == Pieces);
  double re[Pieces], im[Pieces], middle[Pieces];
  int count[Pieces];
  PieceSums(ring, mask, start, rate, cycles, period, re, im, count, middle);
  for (int piece = 0; piece < Pieces; ++piece)
    // the tone's amplitude: a tone of peak A sums to A / 2 per sample
    levels[piece] =
        count[piece] > 0 ? 2.0 * std::sqrt(re[piece] * re[piece] + im[piece] * im[piece]) / count[piece] : 0.0;
}

void SlotLevels(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                double levels[SlotsPerSecond]) {
  double pieces[Pieces];
  PieceLevels(ring, mask, start, rate, cycles, period, pieces);
  for (int j = 0; j < SlotsPerSecond; ++j) {
    double sum = 0.0;
    for (int piece = j * PiecesPerSlot; piece < (j + 1) * PiecesPerSlot; ++piece) sum += pieces[piece];
    levels[j] = sum / PiecesPerSlot;
  }
}

LevelTracker::LevelTracker(const StationSymbols& table) : table_(&table) {
  // A slot's expected share of the full carrier, the symbols taken as equally likely; none for
  // the slot that is low in nearly every second.
  for (int j = 0; j < SlotsPerSecond; ++j) {
    double high = 0.0;
    for (int s = 0; s < table.symbol_count; ++s) high += SlotTemplate(table.symbols[s], j, 1.0, 0.0);
    reference_weight_[j] = table.always_high >> j & 1 ? 1.0 : high / std::max(table.symbol_count, 1);
  }
  if (!table.tone_keyed) reference_weight_[table.usually_low] = 0.0;
  Reset();
}

double LevelTracker::ToneOffset() const {
  // hertz: cycles per piece (a hundredth of a second) times 100
  const double coarse = std::atan2(coarse_im_, coarse_re_) / (2.0 * M_PI) * Pieces;
  const double fine = std::atan2(fine_im_, fine_re_) / (2.0 * M_PI) * SlotsPerSecond;
  // the fine turn is known up to whole cycles per slot: 10 Hz steps
  const double step = SlotsPerSecond;
  return fine + step * std::round((coarse - fine) / step);
}

void LevelTracker::Read(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                        double levels[SlotsPerSecond]) {
  if (table_->tone_keyed && !table_->keyed_coherent) {
    SlotLevels(ring, mask, start, rate, cycles, period, levels);
    return;
  }
  double re[Pieces], im[Pieces], middle[Pieces];
  int count[Pieces];
  PieceSums(ring, mask, start, rate, cycles, period, re, im, count, middle);

  // The tone's offset, from the turn of its phase over a lag, measured within each second (a
  // station that keys its carrier's phase does so at the second's start), normalised by the
  // second's power so that a static crash or a deep fade weighs no more than a second of noise,
  // and averaged over about a minute. Two lags: from one 10 ms piece to the next (unambiguous
  // to +-50 Hz but noisy: a hertz or two at -10 dB in 300 Hz), and between 100 ms sums a slot
  // apart (ten times finer, ambiguous in steps of 10 Hz, the coarse turn chooses the step).
  // The slots' reference phase spans the second, so the offset must be right to a small
  // fraction of a hertz. Until the averages have heard the tone, it is taken to be where the
  // tone stage puts it: both start from a turn of zero with the weight a tone 10 dB under the
  // noise in 300 Hz would give.
  {
    double c_re = 0.0, c_im = 0.0, c_power = 0.0;
    for (int p = 1; p < Pieces; ++p) {
      c_re += re[p] * re[p - 1] + im[p] * im[p - 1];
      c_im += im[p] * re[p - 1] - re[p] * im[p - 1];
      c_power += re[p] * re[p] + im[p] * im[p];
    }
    if (c_power > 0.0) {
      coarse_re_ += TurnWeight * (c_re / c_power - coarse_re_);
      coarse_im_ += TurnWeight * (c_im / c_power - coarse_im_);
    }
    // Sliding 100 ms sums (window[p] ends with piece p) of the pieces turned back by the coarse
    // offset, so that the tone barely turns within a window: a window that turns through a
    // good part of a cycle has the phase of its stronger part, and a carrier reduced in part
    // of it would bias the turn between two windows. The coarse turn over the lag is given
    // back to each second's product, so that the average holds the tone's own turn whatever
    // the coarse offset was that second.
    const double coarse_hz = std::atan2(coarse_im_, coarse_re_) / (2.0 * M_PI) * Pieces;
    const double back = 2.0 * M_PI * coarse_hz / std::max(rate, 1.0);  // radians per sample
    double w_re[Pieces], w_im[Pieces];
    double a = 0.0, b = 0.0, t_re[Pieces], t_im[Pieces];
    for (int p = 0; p < Pieces; ++p) {
      const double c = std::cos(back * middle[p]), s = std::sin(back * middle[p]);
      t_re[p] = re[p] * c + im[p] * s;
      t_im[p] = im[p] * c - re[p] * s;
      a += t_re[p];
      b += t_im[p];
      if (p >= PiecesPerSlot) {
        a -= t_re[p - PiecesPerSlot];
        b -= t_im[p - PiecesPerSlot];
      }
      w_re[p] = a;
      w_im[p] = b;
    }
    double f_re = 0.0, f_im = 0.0, f_power = 0.0;
    for (int p = 2 * PiecesPerSlot - 1; p < Pieces; ++p) {
      const int q = p - PiecesPerSlot;
      f_re += w_re[p] * w_re[q] + w_im[p] * w_im[q];
      f_im += w_im[p] * w_re[q] - w_re[p] * w_im[q];
      f_power += w_re[p] * w_re[p] + w_im[p] * w_im[p];
    }
    if (f_power > 0.0) {
      const double lag = back * rate / SlotsPerSecond;  // the coarse turn over 100 ms
      const double c = std::cos(lag), s = std::sin(lag);
      fine_re_ += TurnWeight * ((f_re * c - f_im * s) / f_power - fine_re_);
      fine_im_ += TurnWeight * ((f_im * c + f_re * s) / f_power - fine_im_);
    }
  }
  const double per_sample = 2.0 * M_PI * ToneOffset() / std::max(rate, 1.0);  // radians per sample

  // Each slot's coherent sum, turned back to the second's start.
  double sre[SlotsPerSecond], sim[SlotsPerSecond];
  int samples[SlotsPerSecond];
  double rre = 0.0, rim = 0.0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    double a = 0.0, b = 0.0;
    int n = 0;
    for (int p = j * PiecesPerSlot; p < (j + 1) * PiecesPerSlot; ++p) {
      const double c = std::cos(per_sample * middle[p]), s = std::sin(per_sample * middle[p]);
      a += re[p] * c + im[p] * s;
      b += im[p] * c - re[p] * s;
      n += count[p];
    }
    sre[j] = a;
    sim[j] = b;
    samples[j] = n;
    rre += reference_weight_[j] * a;
    rim += reference_weight_[j] * b;
  }
  // A keyed subcarrier locked to the seconds (WWV's 100 Hz starts every second in the same
  // phase: within a degree over a minute of the off-air recording) has its phase in the seconds
  // before this one too, where the rest of this second may hold only a 200 ms pulse. Each
  // second's reference is turned by the reference cycle's phase at the second's start (the
  // pieces are read against a cycle that runs on through the samples), which leaves the
  // subcarrier's own phase at the start, and summed over about SecondsAveraged seconds, each
  // normalised by its power as the turns are (a static crash weighs no more than a second of
  // noise). Turned back to this second and scaled to its power, the sum joins the rest of the
  // second in each slot's reference: it holds far more of the subcarrier than one second does,
  // so it sets the phase, and this second's own pulses keep it to a line that moved.
  double earlier_re = 0.0, earlier_im = 0.0;
  if (table_->keyed_coherent) {
    constexpr double SecondsAveraged = 30.0;
    const double turn = 2.0 * M_PI * std::fmod(start * cycles, static_cast<double>(std::max(period, 1))) /
                        std::max(period, 1);
    const double c = std::cos(turn), s = std::sin(turn);
    double power = 0.0;
    for (int p = 0; p < Pieces; ++p) power += re[p] * re[p] + im[p] * im[p];
    if (power > 0.0) {
      const double scale = std::sqrt(power);
      earlier_re = (keyed_re_ * c + keyed_im_ * s) * scale;
      earlier_im = (keyed_im_ * c - keyed_re_ * s) * scale;
      keyed_re_ += ((rre * c - rim * s) / scale - keyed_re_ / SecondsAveraged);
      keyed_im_ += ((rim * c + rre * s) / scale - keyed_im_ / SecondsAveraged);
    }
  }
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (samples[j] <= 0) {
      levels[j] = 0.0;
      continue;
    }
    // the carrier's phase from the rest of the second (and the seconds before it, see above),
    // so that a slot's own noise does not pull the reference towards it
    const double qre = rre - reference_weight_[j] * sre[j] + earlier_re,
                 qim = rim - reference_weight_[j] * sim[j] + earlier_im;
    const double q = std::sqrt(qre * qre + qim * qim);
    const double along =
        q > 0.0 ? (sre[j] * qre + sim[j] * qim) / q : std::sqrt(sre[j] * sre[j] + sim[j] * sim[j]);
    // the tone's amplitude: a tone of peak A sums to A / 2 per sample
    levels[j] = 2.0 * along / samples[j];
  }
}

void LevelTracker::Reset() {
  seconds_ = 0;
  coarse_re_ = fine_re_ = table_->tone_keyed ? 0.0 : TurnPrior;
  coarse_im_ = fine_im_ = 0.0;
  high_ = low_ = variance_ = on_variance_ = 0.0;
  keyed_re_ = keyed_im_ = level_variance_ = 0.0;
}

void LevelTracker::Add(const double levels[SlotsPerSecond]) {
  if (table_->tone_keyed) {
    AddToneKeyed(levels);
    return;
  }
  double sum = 0.0;
  int n = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (!(table_->always_high >> j & 1)) continue;
    sum += levels[j];
    ++n;
  }
  const double mean = sum / n;
  double spread = 0.0;
  for (int j = 0; j < SlotsPerSecond; ++j)
    if (table_->always_high >> j & 1) spread += (levels[j] - mean) * (levels[j] - mean);
  spread /= n - 1;
  const double low = levels[table_->usually_low];
  if (seconds_ == 0) {
    high_ = mean;
    low_ = low;
    variance_ = spread;
  } else {
    high_ += 0.5 * (mean - high_);  // follows fading of a few seconds
    // A second without a reduction in that slot (DCF77's second 59, one in sixty) is not the
    // low level: each second counts as much as it is likely to have been reduced. (Taking
    // only the levels below the middle, as a hard choice, would keep the low noise and drop
    // the high, and carry the low level down by most of the scatter at these SNRs.)
    const double s2 = 2.0 * std::max(variance_, 1e-12);
    const double reduced_odds =
        59.0 *
        std::exp(std::clamp(((low - high_) * (low - high_) - (low - low_) * (low - low_)) / s2, -50.0, 50.0));
    low_ += 0.1 * reduced_odds / (1.0 + reduced_odds) * (low - low_);
    variance_ += (seconds_ < 20 ? 1.0 / (seconds_ + 1) : 0.05) * (spread - variance_);
  }
  ++seconds_;
}

void LevelTracker::AddToneKeyed(const double levels[SlotsPerSecond]) {
  // The silent level and the scatter about it from the slots no symbol keys.
  double sum = 0.0;
  int n = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (!(table_->always_low >> j & 1)) continue;
    sum += levels[j];
    ++n;
  }
  const double mean = sum / n;
  double spread = 0.0;
  for (int j = 0; j < SlotsPerSecond; ++j)
    if (table_->always_low >> j & 1) spread += (levels[j] - mean) * (levels[j] - mean);
  spread /= n - 1;
  const double weight = seconds_ < 20 ? 1.0 / (seconds_ + 1) : 0.05;
  if (seconds_ == 0) {
    low_ = mean;
    variance_ = on_variance_ = spread;
    high_ = *std::max_element(levels, levels + SlotsPerSecond);
  } else {
    low_ += 0.1 * (mean - low_);
    variance_ += weight * (spread - variance_);
  }
  // A tone below the scatter cannot be told from none: the level it is taken to have while
  // nothing is heard (a level that follows the noise would make noise look like pulses). The
  // silent slots' scatter only: the keyed slots' is measured about this level, so a floor
  // from it would feed on itself (a level set too high widens their scatter, which lifts the
  // level further) and never come back down.
  high_ = std::max(high_, low_ + 2.0 * std::sqrt(std::max(variance_, 0.0)));
  // The tone's level, fitted together with the second's symbol: for each symbol, the level x
  // above the silent one that best fits its template, level_j = low + w_j x (w_j the share of
  // slot j keyed on), held to the level followed so far, x0, by a weight of half a keyed slot:
  //     x = (sum w_j d_j + Pull x0) / (sum w_j^2 + Pull),  d_j = level_j - low,
  //     misfit = sum (d_j - w_j x)^2 + Pull (x - x0)^2.
  // The symbol that fits best gives the level. (A fit at the level followed alone would read a
  // faded 200 ms pulse of VNG, whose first slot looks like a 50 ms pulse at the full level, as
  // the short one, and hold the level up through the fade.)
  constexpr double Pull = 0.5;
  const double x0 = high_ - low_;
  int best = -1;
  double best_misfit = 0.0, best_x = x0;
  for (int s = 0; s < table_->symbol_count; ++s) {
    const SymbolShape& shape = table_->symbols[s];
    double ww = 0.0, wd = 0.0;
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double w = SlotTemplate(shape, j, 1.0, 0.0);
      ww += w * w;
      wd += w * (levels[j] - low_);
    }
    const double x = (wd + Pull * x0) / (ww + Pull);
    double misfit = Pull * (x - x0) * (x - x0);
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double r = levels[j] - low_ - SlotTemplate(shape, j, 1.0, 0.0) * x;
      misfit += r * r;
    }
    if (best < 0 || misfit < best_misfit) {
      best = s;
      best_misfit = misfit;
      best_x = x;
    }
  }
  const SymbolShape& shape = table_->symbols[best];
  double on_spread = 0.0;
  int on = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (SlotTemplate(shape, j, 1.0, 0.0) != 1.0) continue;
    on_spread += (levels[j] - high_) * (levels[j] - high_);
    ++on;
  }
  bool keyed = false;
  for (int j = 0; j < SlotsPerSecond; ++j) keyed |= SlotTemplate(shape, j, 1.0, 0.0) > 0.0;
  if (keyed) {
    // How far the followed level may be from the tone's: it moves half way to each second's
    // fit, so its error's variance is a third of a fit's, R (R a / (2 - a) for a = 1/2), and
    // the step to the fit (the fit's scatter and the level's error: 4R/3) has four times the
    // variance of that error. Fading between seconds counts in the step, as it should.
    const double step = low_ + best_x - high_;
    level_variance_ += weight * (step * step / 4.0 - level_variance_);
    high_ += 0.5 * step;  // follows fading of a few seconds
  }
  // The scatter of a keyed slot (a tone plus noise scatters more than noise alone), slowly.
  if (on > 0) on_variance_ += weight * (on_spread / on - on_variance_);
  ++seconds_;
}

double LevelTracker::Sigma() const {
  if (table_->tone_keyed)
    return std::max(std::sqrt(std::max({variance_, on_variance_, 0.0})),
                    0.01 * std::fabs(high_ - low_) + 1e-9);
  // never below a hundredth of the full level: a noiseless signal must not give infinite
  // certainty to a slot that a small imperfection moves
  return std::max(std::sqrt(std::max(variance_, 0.0)), 0.01 * std::fabs(high_) + 1e-9);
}

void SymbolLikelihoods(const StationSymbols& table, const double levels[SlotsPerSecond], double high,
                       double low, double sigma, double* out, double level_variance) {
  const double variance = sigma * sigma;
  const double scale = 1.0 / (2.0 * variance);
  double best = -1e300;
  for (int s = 0; s < table.symbol_count; ++s) {
    double d2 = 0.0, wr = 0.0, ww = 0.0;
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double expected = SlotTemplate(table.symbols[s], j, high, low);
      const double r = levels[j] - expected;
      d2 += r * r;
      if (level_variance > 0.0) {
        const double w = SlotTemplate(table.symbols[s], j, 1.0, 0.0);
        wr += w * r;
        ww += w * w;
      }
    }
    out[s] = -d2 * scale;
    if (level_variance > 0.0) {
      // The level's own error e (variance t2) moves every keyed slot of the symbol together,
      // by w_j e: the levels are Gaussian about the template with covariance
      // sigma^2 I + t2 w w', whose inverse (Sherman-Morrison) and determinant give
      //   ln P = -|r|^2 / 2 sigma^2 + t2 (w.r)^2 / (2 sigma^2 (sigma^2 + t2 |w|^2))
      //          - ln(1 + t2 |w|^2 / sigma^2) / 2.
      const double t2 = level_variance;
      out[s] += t2 * wr * wr * scale / (variance + t2 * ww) - 0.5 * std::log1p(t2 * ww / variance);
    }
    best = std::max(best, out[s]);
  }
  for (int s = 0; s < table.symbol_count; ++s) out[s] = std::max(out[s] - best, -LikelihoodCap);
}

double MaskLikelihood(const double* ll, int symbol_count, SymbolMask mask) {
  double sum = 0.0;
  int n = 0;
  for (int s = 0; s < symbol_count; ++s) {
    if (!(mask >> s & 1)) continue;
    sum += std::exp(ll[s]);
    ++n;
  }
  return n > 0 ? std::log(sum / n) : 0.0;
}
