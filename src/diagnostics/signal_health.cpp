// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/signal_health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstring>

namespace {

constexpr double SampleRate = 8000.0;  // samples per second, nominal
constexpr double Pi = 3.14159265358979323846;

// On x86-64 the transform is also built for processors with AVX2, chosen when the program
// starts: four products or sums at a time instead of two. Vector instructions round each product
// and sum exactly as the scalar ones do, and nothing is fused (this file is built with
// -ffp-contract=off), so both give the same bits.
#if defined(__x86_64__) && (defined(__clang__) ? __clang_major__ >= 14 : defined(__GNUC__))
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

// One stage's butterflies on one group of 2 * `half` points: the first half a, the second b,
// the twiddle factors w. The four parts never overlap, so the compiler may work on several k at
// once.
inline __attribute__((always_inline)) void Butterflies(double* __restrict ra, double* __restrict ia,
                                                       double* __restrict rb, double* __restrict ib,
                                                       const double* __restrict wr,
                                                       const double* __restrict wi, int half) {
  for (int k = 0; k < half; ++k) {
    const double vr = rb[k] * wr[k] - ib[k] * wi[k];
    const double vi = rb[k] * wi[k] + ib[k] * wr[k];
    rb[k] = ra[k] - vr;
    ib[k] = ia[k] - vi;
    ra[k] += vr;
    ia[k] += vi;
  }
}

// Radix-2 decimation in time of a frame's points on separate real and imaginary parts, already
// in bit-reversed order: each stage combines groups twice its size, with the twiddle factors of
// the stage of `len` points from stage_re[len/2 - 1] on.
VECTOR_CLONES void Transform(double* re, double* im, const double* stage_re, const double* stage_im) {
  constexpr int N = FramePower::Size;
  for (int half = 1; half < N; half *= 2)
    for (int i = 0; i < N; i += 2 * half)
      Butterflies(re + i, im + i, re + i + half, im + i + half, stage_re + half - 1, stage_im + half - 1,
                  half);
}

// The level below which `fraction` of the counted values lie.
template <size_t N>
int Percentile(const std::array<int, N>& hist, double fraction) {
  int64_t total = 0;
  for (int c : hist) total += c;
  if (total == 0) return 0;
  const auto want = static_cast<int64_t>(std::ceil(fraction * static_cast<double>(total)));
  int64_t run = 0;
  for (size_t i = 0; i < N; ++i) {
    run += hist[i];
    if (run >= std::max<int64_t>(want, 1)) return static_cast<int>(i);
  }
  return static_cast<int>(N - 1);
}

// The frequency of a spectral peak at bin k, between the bins: a Gaussian through the power of
// bin k and its two neighbours (a Hann window's main lobe is close to one), in bins. The bins
// are 31.25 Hz apart, so WWV's 100 Hz code lies between two of them and its nearest bin alone
// would read 94 Hz.
template <size_t N>
double PeakBin(const std::array<double, N>& power, int k) {
  const auto at = [&](int i) { return std::log(std::max(power[static_cast<size_t>(i)], 1e-30)); };
  if (k < 1 || k + 1 >= static_cast<int>(N)) return k;
  const double a = at(k - 1), b = at(k), c = at(k + 1);
  const double curve = a - 2.0 * b + c;
  if (!(curve < 0.0)) return k;  // not a peak: flat, or k is not the largest
  return k + std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
}

// What the signal-to-noise ratio means for decoding, with the station's own scale: the ratio is
// taken over the whole 0..4 kHz band, so a few dB below zero can still be plenty (WWV's narrow
// 100 Hz code decodes further down than the long-wave stations). Below the station's "much
// noise" the pulses start to drown; within 3 dB above it decoding is marginal.
std::string SnrWords(double snr_db, int station_mode) {
  const double much = MuchNoiseDb(station_mode);
  const char* word = snr_db < much         ? "much noise: below"
                     : snr_db < much + 3.0 ? "marginal: much noise below"
                                           : "good: much noise only below";
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s %.0f dB", word, much);
  return buf;
}

const char* StationLabel(int mode) {
  static const char* const names[] = {"MSF", "HBG", "DCF77", "WWVB", "VNG", "RWM", "WWV/WWVH", "JJY", "CHU"};
  static_assert(std::size(names) == StationCount);
  return mode >= 0 && mode < StationCount ? names[mode] : "?";
}

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

const char* VerdictKey(LevelVerdict v) {
  switch (v) {
    case LevelVerdict::Good: return "good";
    case LevelVerdict::Weak: return "weak";
    case LevelVerdict::TooStrong: return "too_strong";
    case LevelVerdict::NoTone: return "no_tone";
  }
  return "?";
}

int LevelCeiling(int station_mode) {
  return station_mode == StationWwv ? 1536 : 765;
}
double StationToneHz(int station_mode) {
  return station_mode == StationWwv ? 100.0 : 1000.0;
}

LevelVerdict JudgeLevel(const LevelInputs& in) {
  // Clipping and a measure held at its ceiling come first: a clipped recording can still show
  // a tone, and lowering the level is then what helps.
  if (in.clip_fraction >= TooStrongClipFraction || in.ceiling_fraction >= TooStrongCeilingFraction)
    return LevelVerdict::TooStrong;
  if (!in.tone_present) return LevelVerdict::NoTone;
  if (in.tone_level < WeakToneLevel) return LevelVerdict::Weak;
  return LevelVerdict::Good;
}

std::string DescribeSignal(const SignalReport& r) {
  const double f0 = StationToneHz(r.station_mode);
  std::string text;
  switch (r.verdict) {
    case LevelVerdict::TooStrong:
      text = "The signal is too strong: lower the recording level (or use --gain)";
      text += Format(" [level %d%s of %d, %.1f %% of blocks at the ceiling, %.2f %% of samples clipped]",
                     r.level.tone_level, r.level.tone_level >= HighestCountedLevel ? "+" : "",
                     LevelCeiling(r.station_mode), 100.0 * r.level.ceiling_fraction,
                     100.0 * r.level.clip_fraction);
      break;
    case LevelVerdict::NoTone:
      text = Format("No tone near %.0f Hz", f0);
      if (r.strongest_is_tone)
        text += Format(" (the strongest tone is at %.0f Hz: tune the receiver by %+.0f Hz)", r.strongest_hz,
                       f0 - r.strongest_hz);
      else
        text += " (noise or silence only: is the receiver connected and tuned to the station?)";
      break;
    case LevelVerdict::Weak:
      text = Format(
          "The signal is weak: raise the recording level (or use --gain) [level %d, at least %d wanted]",
          r.level.tone_level, WeakToneLevel);
      break;
    case LevelVerdict::Good:
      text = Format("Tone at %.0f Hz, level %d of %d: a good level", r.tone_hz, r.level.tone_level,
                    LevelCeiling(r.station_mode));
      break;
  }
  if (r.found_hz) {
    text += Format(" (the receiver's tone at %.0f Hz, moved %+.0f Hz)", *r.found_hz, r.shift_hz);
  }
  // The level's word says nothing of the noise: the ratio carries its own.
  if (r.verdict != LevelVerdict::NoTone)
    text += Format("; signal-to-noise about %.0f dB over 0..4 kHz (%s)", r.snr_db,
                   SnrWords(r.snr_db, r.station_mode).c_str());
  if (r.card_blocks_per_minute)
    text += Format("; sound card about %.1f samples/s (%.0f blocks a minute)",
                   *r.card_blocks_per_minute * 128.0 / 60.0, *r.card_blocks_per_minute);
  if (r.gain_db) text += Format("; gain %+.1f dB", *r.gain_db);
  return text;
}

double MuchNoiseDb(int station_mode) {
  // WWV's 100 Hz code is on for only part of each second: its mean power reads about 6 dB
  // below the full subcarrier's, and it decodes further down than the long-wave stations.
  return station_mode == StationWwv ? -10.0 : -3.0;
}

RunSummary Summarise(const SummaryInputs& in) {
  RunSummary s;
  s.in = in;
  const double f0 = StationToneHz(in.station_mode);
  int strong = 0, no_tone = 0, weak = 0, noisy = 0;
  double snr_sum = 0.0;
  int snr_count = 0;
  const SignalReport* strongest = nullptr;
  for (const SignalReport& r : in.reports) {
    if (r.verdict == LevelVerdict::TooStrong) strong += 1;
    if (r.verdict == LevelVerdict::NoTone) {
      no_tone += 1;
      if (r.strongest_is_tone) strongest = &r;
    }
    if (r.verdict == LevelVerdict::Weak) weak += 1;
    if (r.verdict != LevelVerdict::NoTone) {
      snr_sum += r.snr_db;
      snr_count += 1;
      if (r.snr_db < MuchNoiseDb(in.station_mode)) noisy += 1;
    }
  }
  const int n = static_cast<int>(in.reports.size());
  auto most = [n](int count) { return n > 0 && 2 * count >= n; };
  std::vector<std::string>& out = s.reasons;

  // A fading that deep, or minutes that contradict the audio's own time, make even decoded
  // minutes suspect: reported whether or not anything decoded.
  auto fading = [&] {
    if (in.fading_depth >= DeepFadingDepth)
      out.push_back(Format("Deep fading: the tone fell to %.0f %% of its strongest level%s",
                           100.0 * (1.0 - in.fading_depth),
                           in.decoded > 0 ? "; decoded times may be wrong" : ""));
  };
  if (in.disagreeing > 0)
    out.push_back(
        Format("%d decoded minute%s did not follow the time elapsed in the audio: poor reception, "
               "do not trust the clock",
               in.disagreeing, in.disagreeing == 1 ? "" : "s"));
  if (in.decoded > 0) {
    fading();
    if (most(strong)) out.push_back("The signal is too strong: lower the recording level (or use --gain)");
    return s;
  }

  if (in.minutes < 2.5)
    out.push_back(
        Format("Only %.1f minutes of audio, too short: a first decode needs a minute marker and two "
               "whole minutes after it",
               in.minutes));
  if (most(strong)) out.push_back("The signal is too strong: lower the recording level (or use --gain)");
  if (most(no_tone)) {
    std::string t = Format("No tone near %.0f Hz", f0);
    if (strongest != nullptr)
      t += Format(": the strongest tone is at %.0f Hz, tune the receiver by %+.0f Hz",
                  strongest->strongest_hz, f0 - strongest->strongest_hz);
    out.push_back(t);
  }
  if (in.minute_markers == 0) {
    std::string seen;
    for (const OtherStationSeen& o : in.others) {
      // Another station is named when its markers came in a fair share of the minutes (at
      // least two, and one minute in four): over a long noisy hour, noise alone passes a
      // marker test now and then.
      const bool markers = o.minute_markers >= 2 && 4.0 * o.minute_markers >= in.minutes;
      if (!markers && o.decoded == 0) continue;
      if (!seen.empty()) seen += ", ";
      std::string upper = o.name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      seen += upper;
    }
    // Another station's markers are the likeliest cause, unless the level itself is wrong: a
    // clipped tone's harmonics can pass another station's marker test, so they are not named then.
    if (!seen.empty() && !most(strong))
      out.insert(out.begin() + (in.minutes < 2.5 ? 1 : 0) + (most(no_tone) ? 1 : 0),
                 "no minute markers: is this the right station? markers of " + seen + " were seen");
    else if (!most(strong) && !most(no_tone))
      out.push_back(
          Format("no minute markers of %s: is the receiver tuned to it?", StationLabel(in.station_mode)));
  }
  if (most(weak)) out.push_back("The signal is weak: raise the recording level (or use --gain)");
  if (snr_count > 0 && 2 * noisy >= snr_count)
    out.push_back(
        Format("Much noise: signal-to-noise about %.0f dB; improve the antenna or the receiver's tuning",
               snr_sum / snr_count));
  fading();
  if (in.minute_markers > 0)
    out.push_back(
        "Minute markers were seen but no minute's code was read in two minutes running: noise, "
        "fading or interference on the pulses");
  return s;
}

FramePower::FramePower() {
  static_assert(Size <= 256, "bit-reversed indices are kept in bytes");
  for (int i = 0; i < Size; ++i) hann_[i] = 0.5 - 0.5 * std::cos(2.0 * Pi * i / Size);
  for (int i = 0; i < Size; ++i) {
    int r = 0;
    for (int bit = 1, top = Size / 2; bit < Size; bit <<= 1, top >>= 1)
      if ((i & bit) != 0) r |= top;
    reversed_[i] = static_cast<uint8_t>(r);
  }
  // e^(-2 pi i j / Size) with j = k * Size / len: the stage of `len` points takes every
  // (Size / len)-th factor of the whole transform.
  for (int half = 1; half < Size; half *= 2) {
    for (int k = 0; k < half; ++k) {
      const int j = k * (Size / (2 * half));
      stage_re_[half - 1 + k] = std::cos(2.0 * Pi * j / Size);
      stage_im_[half - 1 + k] = -std::sin(2.0 * Pi * j / Size);
    }
  }
}

void FramePower::AddTo(const int16_t* frame, std::array<double, Size / 2 + 1>& power) {
  // The windowed samples go straight to their bit-reversed places.
  for (int k = 0; k < Size; ++k) re_[reversed_[k]] = frame[k] * hann_[k];
  im_.fill(0.0);
  Transform(re_.data(), im_.data(), stage_re_.data(), stage_im_.data());
  for (int k = 0; k <= Size / 2; ++k) power[k] += re_[k] * re_[k] + im_[k] * im_[k];
}

SignalHealth::SignalHealth(const CVarnolDoc& doc, std::function<void(const SignalReport&)> on_report)
    : doc_(doc), on_report_(std::move(on_report)) {
  seen_block_ = doc.BlocksProcessed;
  reports_.reserve(2 * KeptReports);
}

void SignalHealth::OnCaptureBuffer(const int16_t* samples, int count, int64_t, int64_t) {
  // Samples at the 16-bit limits, counted in a loop of their own (a vector loop).
  int clipped = 0;
  for (int i = 0; i < count; ++i)
    clipped += static_cast<int>(samples[i] == 32767) + static_cast<int>(samples[i] == -32768);
  window_clipped_ += clipped;
  // Frames of FftSize samples, of which one in four is plenty for a minute's mean spectrum
  // (about 470 frames) and keeps this well below the cost of the clock's own front end: only
  // the frames measured are copied.
  for (int i = 0; i < count;) {
    const int take = std::min(FftSize - frame_fill_, count - i);
    const bool measured = frame_count_ % 4 == 0;
    if (measured)
      std::memcpy(frame_.data() + frame_fill_, samples + i, sizeof(int16_t) * static_cast<size_t>(take));
    frame_fill_ += take;
    i += take;
    if (frame_fill_ == FftSize) {
      if (measured) {
        spectrum_.AddTo(frame_.data(), power_);
        frames_ += 1;
      }
      frame_count_ += 1;
      frame_fill_ = 0;
    }
  }
  window_samples_ += count;
}

void SignalHealth::OnUpdate(int hint) {
  if (hint != UPDATE_HINT_NEW_BUFFER) return;
  const int64_t fresh = std::min<int64_t>(doc_.BlocksProcessed - seen_block_, TraceColumns);
  seen_block_ = doc_.BlocksProcessed;
  const int ceiling = LevelCeiling(doc_.StationMode);
  const int blocks_per_second = doc_.BlocksPerMinute / 60;
  for (int64_t i = fresh; i >= 1; --i) {
    const int col = static_cast<int>((doc_.DisplayColumn - i + 2 * TraceColumns) % TraceColumns);
    const int level = std::clamp(doc_.LevelTrace[col], 0, LevelBins - 1);
    level_hist_[level] += 1;
    const bool at_ceiling = doc_.StationMode == StationWwv
                                ? level >= ceiling
                                : (doc_.SpectrumTrace[col][15] == 255 || doc_.SpectrumTrace[col][16] == 255 ||
                                   doc_.SpectrumTrace[col][17] == 255);
    if (at_ceiling) window_ceiling_ += 1;
    window_blocks_ += 1;
    blocks_total_ += 1;
    // The fading is judged on the level as it came in: a step of the gain stage is no fading.
    int heard = level;
    if (gain_db_) {
      const double g = gain_db_();
      if (!first_gain_db_) first_gain_db_ = g;
      if (g != *first_gain_db_)
        heard =
            std::clamp(static_cast<int>(std::lround(level * std::pow(10.0, (*first_gain_db_ - g) / 20.0))), 0,
                       LevelBins - 1);
    }
    second_max_ = std::max(second_max_, heard);
    if (++second_blocks_ >= blocks_per_second) {
      second_hist_[second_max_] += 1;
      second_max_ = 0;
      second_blocks_ = 0;
    }
    if (window_blocks_ >= doc_.BlocksPerMinute) EndWindow();
  }
}

void SignalHealth::OnStatusText(const char* text) {
  int interval = 0;
  if (std::sscanf(text, "mark %d", &interval) != 1) return;
  markers_ += 1;
  // About a minute after the previous marker (the calibration's range and a little more).
  if (interval >= 3600 && interval <= 3900) {
    minute_markers_ += 1;
    intervals_[interval_count_ % intervals_.size()] = interval;
    interval_count_ += 1;
  }
}

void SignalHealth::OnClockWrite(const SYSTEMTIME&, bool) {
  clock_steps_ += 1;
}

void SignalHealth::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  const AcceptedMinute b{ut_hour, ut_minute, block};
  // Consecutive accepted minutes must lie as many minutes apart as the audio between them.
  if (have_accepted_) {
    const AcceptedMinute& a = last_accepted_;
    const long elapsed = std::lround(static_cast<double>(b.block - a.block) / doc_.BlocksPerMinute);
    const int decoded = ((b.hour * 60 + b.minute - a.hour * 60 - a.minute) % 1440 + 1440) % 1440;
    if (decoded != elapsed % 1440) disagreeing_ += 1;
  }
  last_accepted_ = b;
  have_accepted_ = true;
  accepted_count_ += 1;
}

SignalReport SignalHealth::Judge() {
  SignalReport r;
  r.t = static_cast<double>(doc_.BlocksProcessed) * BlockSize / SampleRate;
  r.station_mode = doc_.StationMode;
  r.level.station_mode = doc_.StationMode;
  r.level.tone_level = Percentile(level_hist_, 0.9);
  r.level.ceiling_fraction = window_blocks_ > 0 ? static_cast<double>(window_ceiling_) / window_blocks_ : 0.0;
  r.level.clip_fraction =
      window_samples_ > 0 ? static_cast<double>(window_clipped_) / static_cast<double>(window_samples_) : 0.0;

  // The spectrum: noise as the median bin (the tone and its keying sidebands cover only a few
  // bins), the tone as the strongest bin within 100 Hz of the station's frequency, its power the
  // five bins around it less their noise. Power ratios from summed |X|^2 are the signals' power
  // ratios, whatever the window.
  const double bin_hz = SampleRate / FftSize;
  const int last = FftSize / 2 - 2;  // 3937.5 Hz
  std::array<double, FftSize / 2 + 1> sorted = power_;
  std::sort(sorted.begin() + 2, sorted.begin() + last + 1);
  double noise_bin = std::max(sorted[static_cast<size_t>((2 + last) / 2)], 1e-12);
  if (band_half_width_hz_ > 0.0) {
    // Moved audio holds noise only within the band kept around the tone: the median of the bins
    // well inside it but more than 150 Hz from the tone (its keying's sidebands, and a receiver
    // AGC's overshoot after each pulse, spread that far), when there are enough of them.
    const double f0 = StationToneHz(doc_.StationMode);
    const int b_lo = static_cast<int>(std::ceil((f0 - 0.8 * band_half_width_hz_) / bin_hz));
    const int b_hi = static_cast<int>(std::floor((f0 + 0.8 * band_half_width_hz_) / bin_hz));
    std::array<double, FftSize / 2 + 1> band{};
    int n = 0;
    for (int k = std::max(2, b_lo); k <= std::min(last, b_hi); ++k)
      if (std::fabs(k * bin_hz - f0) > 150.0) band[static_cast<size_t>(n++)] = power_[k];
    if (n >= 8) {
      std::sort(band.begin(), band.begin() + n);
      noise_bin = std::max(band[static_cast<size_t>(n / 2)], 1e-12);
    }
  }
  const double f0 = StationToneHz(doc_.StationMode);
  const int lo = std::max(2, static_cast<int>(std::floor((f0 - 100.0) / bin_hz)));
  const int hi = static_cast<int>(std::ceil((f0 + 100.0) / bin_hz));
  int tone_bin = lo;
  for (int k = lo; k <= hi; ++k)
    if (power_[k] > power_[tone_bin]) tone_bin = k;
  int strongest = 2;
  for (int k = 2; k <= last; ++k)
    if (power_[k] > power_[strongest]) strongest = k;
  r.tone_hz = PeakBin(power_, tone_bin) * bin_hz;
  r.strongest_hz = PeakBin(power_, strongest) * bin_hz;
  r.strongest_is_tone = power_[strongest] >= 10.0 * noise_bin;
  r.level.tone_present = frames_ > 0 && power_[tone_bin] >= 10.0 * noise_bin;
  // A much stronger tone elsewhere leaks into the bins near the station's frequency: what stands
  // there 20 dB or more below it is that leakage (or the keying's sidebands), not a tone. WWV's
  // audio carries louder tones (the 500 and 600 Hz ones) beside its code, so it is left out.
  if (doc_.StationMode != StationWwv && r.strongest_is_tone &&
      std::abs(strongest - tone_bin) * bin_hz > 100.0 && power_[tone_bin] * 100.0 < power_[strongest])
    r.level.tone_present = false;
  double tone_power = 0.0;
  for (int k = std::max(1, tone_bin - 2); k <= tone_bin + 2; ++k)
    tone_power += std::max(0.0, power_[k] - noise_bin);
  r.snr_db = 10.0 * std::log10(std::max(tone_power, 1e-12) / (noise_bin * (FftSize / 2)));

  const int n = std::min<int>(interval_count_, static_cast<int>(intervals_.size()));
  if (n > 0) {
    std::array<int, 64> iv{};
    std::copy(intervals_.begin(), intervals_.begin() + n, iv.begin());
    std::sort(iv.begin(), iv.begin() + n);
    r.card_blocks_per_minute = n % 2 == 1 ? iv[n / 2] : 0.5 * (iv[n / 2 - 1] + iv[n / 2]);
  }
  if (gain_db_) r.gain_db = gain_db_();
  r.found_hz = found_hz_;
  r.shift_hz = shift_hz_;
  r.verdict = JudgeLevel(r.level);
  r.text = DescribeSignal(r);
  // The gist: the verdict, the signal-to-noise ratio in 3 dB steps, the card's rate in steps
  // of two blocks, the gain in whole dB, and where the strongest tone lies when it is not ours.
  char key[128];
  std::snprintf(
      key, sizeof key, "%s|%ld|%ld|%ld|%ld", VerdictKey(r.verdict),
      r.verdict == LevelVerdict::NoTone ? 0L : std::lround(r.snr_db / 3.0),
      r.card_blocks_per_minute ? std::lround(*r.card_blocks_per_minute / 2.0) : -1L,
      r.gain_db ? std::lround(*r.gain_db) : 0L,
      r.verdict == LevelVerdict::NoTone && r.strongest_is_tone ? std::lround(r.strongest_hz / 50.0) : 0L);
  r.key = key;
  return r;
}

void SignalHealth::EndWindow() {
  SignalReport r = Judge();
  if (reports_.size() >= 2 * KeptReports)
    reports_.erase(reports_.begin(), reports_.begin() + static_cast<std::ptrdiff_t>(KeptReports));
  reports_.push_back(r);
  if (r.key != last_key_) {
    last_key_ = r.key;
    if (on_report_) on_report_(r);
  }
  level_hist_.fill(0);
  window_blocks_ = 0;
  window_ceiling_ = 0;
  window_samples_ = 0;
  window_clipped_ = 0;
  power_.fill(0.0);
  frames_ = 0;
}

RunSummary SignalHealth::Finish() {
  if (window_blocks_ * 3 >= doc_.BlocksPerMinute) EndWindow();  // 20 s or more
  SummaryInputs in;
  in.station_mode = doc_.StationMode;
  in.minutes = static_cast<double>(blocks_total_) * BlockSize / SampleRate / 60.0;
  in.markers = markers_;
  in.minute_markers = minute_markers_;
  in.decoded = accepted_count_;
  in.clock_steps = clock_steps_;
  in.blocks_per_minute = doc_.BlocksPerMinute;
  in.disagreeing = disagreeing_;
  // Fading: the weakest against the strongest second, each second by its highest level
  // (every station's tone is on in part of every second, but for CHU's 19 seconds a minute
  // that carry only a 10 ms tick or nothing: 29, 31..39 and 51..59).
  const double quiet = doc_.StationMode == StationChu ? 19.0 / 60.0 : 0.0;
  const int strong = Percentile(second_hist_, 0.95);
  const int weak = Percentile(second_hist_, quiet + 0.05 * (1.0 - quiet));  // among the others
  if (strong > 0) in.fading_depth = 1.0 - static_cast<double>(weak) / strong;
  in.reports = reports_;
  if (others_) in.others = others_();
  return Summarise(in);
}
