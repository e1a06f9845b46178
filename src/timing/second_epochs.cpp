// SPDX-License-Identifier: GPL-3.0-or-later
// Second epochs: the on-time marker of every second, found in the raw samples, fitted to a
// line over a window of seconds, and labelled with UTC from the minutes the clock step accepted.
//
// Three stages, one after the other:
//  1. Searching. The tone's envelope is kept for the last 16 s, sample by sample and (while
//     searching) averaged per millisecond. Every second, the last 10 s are folded at every
//     plausible length of a second (7880 to 8120 samples: the calibration range and then some)
//     to find where the seconds' markers stand and how fast the card runs; each of those ten
//     markers is then measured finely, and when at least seven agree on a straight line the
//     seconds are tracked from there on.
//  2. Tracking. Each second's marker is measured close to where the line puts it (within a few
//     milliseconds), and the line is fitted again over the last 32 seconds; seconds that do not
//     fit (noise bursts, a missing marker, a marker of another shape) are left out. Forty
//     seconds in a row without a usable marker lose the seconds: back to searching. The
//     envelope is then only worked out where a measurement reads it, about each marker (a
//     fifth of the samples for DCF77), which keeps the cost well below the search's.
//  3. Labelling. An accepted minute names the second whose marker began about one second
//     before the block that accepted it (the decoders see the minute marker only when it has
//     ended). Its UTC, less that second's running number, is the label offset. Epochs are handed
//     out only once three minutes agree on one offset, with no disagreement since, and the
//     marker shapes at the minute's edge confirm at least two of them (the missing second 59 of
//     DCF77, HBG, VNG and WWV, MSF's 500 ms minute marker, WWVB's pair of 800 ms markers, JJY's
//     pair of 200 ms markers, CHU's 500 ms minute pulse with its silent second 29).
//     A disagreeing minute, a break in the audio, a new capture, a station change or the loss
//     of the seconds drops the labels until three minutes agree again; so does the last minute
//     of June and of December, which may end with a leap second the count would not see.
#include "timing/second_epochs.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "platform/system_clock.h"
#include "timing/edge_estimator.h"

namespace {

constexpr int64_t FullRingSize = int64_t{1} << 17;    // samples of envelope kept: 16.4 s
constexpr int64_t CoarseRingSize = int64_t{1} << 14;  // milliseconds of envelope kept
constexpr int SamplesPerMs = 8;                       // nominal
constexpr int AcquireSeconds = 10;                    // seconds folded when searching
constexpr int AcquireSpanMs = 10200;                  // enough for ten of the longest seconds
constexpr int MinPeriod = 7880;                       // samples per second, search range
constexpr int MaxPeriod = 8120;
constexpr int PeriodStep = 8;
constexpr int WindowSeconds = 32;      // markers in the line fit
constexpr int MaxAgeSeconds = 90;      // ... none older than this
constexpr int LostAfterSeconds = 40;   // seconds in a row without a marker
constexpr int SignatureSeconds = 128;  // seconds whose marker shapes are kept
constexpr int EpochQueueSize = 128;
constexpr int MinutesToLock = 3;
constexpr int ConfirmedToLock = 2;
constexpr double AcquireEdgeSnr = 4.0;   // edge depth over the envelope's scatter: searching
constexpr double TrackEdgeSnr = 2.0;     // ... tracking, within a few ms of the line
constexpr double LabelTolerance = 0.35;  // seconds: how far an accepted minute may stray
constexpr int WideGate = 96;             // samples: the edge finder's reach while the line settles
constexpr int WindowMargin = 96;         // samples: see window_lo

// How the minute announces itself in the seconds' marker shapes.
enum class MinuteShape {
  None,
  MissingSecond59,      // second 59 carries no marker
  LongSecond0,          // second 0's marker lasts 500 ms, the others at most 300 ms
  LongPair,             // seconds 59 and 0 both carry 800 ms markers
  ShortPair,            // seconds 59 and 0 both carry 200 ms markers, the others 500 or 800 ms
  LongSecond0Silent29,  // second 0's pulse lasts 500 ms (1 s at the hour), second 29 is silent
};

struct StationProfile {
  bool supported = false;
  bool labels = true;  // accepted minutes name the seconds (not RWM's: it sends no time code)
  int channels = 1;
  int tone_cycles[2] = {1, 1};  // whole cycles of the tone per `tone_period` samples
  int tone_period[2] = {8, 8};
  EdgeShape shape;
  bool coarse_rising = false;
  int coarse_pre[2] = {-50, -5};  // milliseconds relative to the coarse edge
  int coarse_post[2] = {5, 90};
  double accept_delay = 1.05;  // seconds from the minute's marker to the accepting block
  MinuteShape minute = MinuteShape::None;
  int late_begin = 0, late_end = 0;  // samples: where a long marker is still low
  int measure_lag = 0;               // samples after the edge before it can be measured
};

StationProfile ProfileFor(int station_mode) {
  StationProfile p;
  p.supported = true;
  p.shape.pre_begin = -480;  // 60 ms .. 6 ms before the edge: carrier (or silence) in every second
  p.shape.pre_end = -48;
  switch (station_mode) {
    case StationDcf77:
    case StationHbg:
      // carrier drop (DCF77 to 15 %, HBG to nothing) of 100 or 200 ms
      p.shape.silent_low = station_mode == StationHbg;
      p.shape.post_begin = 48;
      p.shape.post_end = 720;
      p.minute = MinuteShape::MissingSecond59;
      break;
    case StationMsf:
      p.shape.silent_low = true;  // carrier off
      p.shape.post_begin = 48;
      p.shape.post_end = 720;
      p.minute = MinuteShape::LongSecond0;
      p.late_begin = 2800;  // 350 .. 450 ms: off only in second 0
      p.late_end = 3600;
      break;
    case StationWwvb:
      // 17 dB drop of 200, 500 or 800 ms
      p.shape.post_begin = 48;
      p.shape.post_end = 1500;
      p.coarse_post[1] = 190;
      p.minute = MinuteShape::LongPair;
      p.late_begin = 5200;  // 650 .. 750 ms: low only under an 800 ms marker
      p.late_end = 6000;
      break;
    case StationJjy:
      // full carrier from the start of the second for 200, 500 or 800 ms, then 10 %
      p.shape.rising = true;
      p.shape.post_begin = 48;
      p.shape.post_end = 1500;
      p.coarse_rising = true;
      p.minute = MinuteShape::ShortPair;
      p.late_begin = 2400;  // 300 .. 400 ms: already reduced only after a 200 ms marker
      p.late_end = 3200;
      break;
    case StationVng:
    case StationRwm:
      // tone pulses of 50, 200 or 500 ms starting on the second (RWM: 100 or 500 ms); the
      // windows fit inside VNG's shortest pulse, so they read RWM's as well
      p.shape.rising = true;
      p.shape.silent_low = true;
      p.shape.post_begin = 40;
      p.shape.post_end = 380;
      p.coarse_rising = true;
      p.coarse_pre[0] = -60;
      p.coarse_post[1] = 45;
      p.minute = MinuteShape::MissingSecond59;
      break;
    case StationWwv:
      // 5 ms ticks of 1000 Hz (WWV) or 1200 Hz (WWVH), none in seconds 29 and 59
      p.channels = 2;
      p.tone_cycles[1] = 3;
      p.tone_period[1] = 20;
      p.shape.rising = true;
      p.shape.tick = true;
      p.shape.silent_low = true;
      p.shape.pre_begin = -200;
      p.shape.pre_end = -24;
      p.coarse_rising = true;
      p.coarse_pre[0] = -20;
      p.coarse_pre[1] = -3;
      p.coarse_post[0] = 3;
      p.coarse_post[1] = 6;
      p.accept_delay = 1.14;
      p.minute = MinuteShape::MissingSecond59;
      break;
    case StationChu:
      // 1000 Hz pulses from the start of the second: 300 ms, 500 ms in second 0 (1 s at the
      // hour), none in second 29, and only a 10 ms tick in seconds 31..39 and 51..59 (in 31..39
      // the modem tones at 2025 and 2225 Hz follow it, which the 1000 Hz envelope hardly sees).
      // The level after the edge is read as a tick's, inside the first 10 ms, so that every
      // second's marker is measured alike, pulse or tick.
      p.shape.rising = true;
      p.shape.tick = true;
      p.shape.silent_low = true;
      p.coarse_rising = true;
      p.coarse_post[0] = 3;
      p.coarse_post[1] = 9;
      // the document names its minutes from the code of seconds 32..39, giving the block at
      // which second 1 began, not one where a minute marker ended
      p.accept_delay = 1.0;
      p.minute = MinuteShape::LongSecond0Silent29;
      p.late_begin = 2800;  // 350 .. 450 ms: the tone still on only in second 0
      p.late_end = 3600;
      break;
    default:
      p.supported = false;
      break;
  }
  // RWM: its seconds are followed (for the robust lock's minute phase) but its minutes never
  // name them
  if (station_mode == StationRwm) p.labels = false;
  p.measure_lag = std::max(p.shape.post_end, p.late_end) + 160;
  return p;
}

// What one second's marker looked like, for the minute-shape checks.
struct SecondSignature {
  int64_t second = -1;
  bool measured = false;
  bool found = false;
  double presence = 0.0;      // envelope units: the marker's step where the line puts it
  double late_fraction = -1;  // 0 = still as low as the marker, 1 = back to the level before
};

enum class Evidence { Contradicts, Neutral, Confirms };

// The last minute of 30 June and of 31 December (UTC), where a leap second may be inserted.
bool MayHoldLeapSecond(int64_t utc) {
  if (((utc % 86400) + 86400) % 86400 < 86400 - 60) return false;
  const SYSTEMTIME next_day = SystemTimeFromUnix(utc + 60);
  return next_day.wDay == 1 && (next_day.wMonth == 1 || next_day.wMonth == 7);
}

}  // namespace

struct SecondEpochs::Impl {
  explicit Impl(int station_mode) { SetStation(station_mode); }

  // --- configuration
  int station = StationDcf77;
  StationProfile profile;

  // --- audio and envelopes
  ToneEnvelope envelope[2] = {ToneEnvelope(1, 8), ToneEnvelope(1, 8)};
  float full[2][FullRingSize] = {};
  float coarse[2][CoarseRingSize] = {};
  double coarse_sum[2] = {};  // the millisecond begun but not finished
  // Only the search reads the coarse ring, so it is not kept while the seconds are tracked;
  // it holds every millisecond from this sample on. While tracking, the full ring is only
  // kept about each second's marker (and where a long marker is told from a short one), and
  // not at all for a tone the tracked seconds are not on (WWVH's while WWV's ticks are
  // followed, and the other way round): everything else is stale until the search again.
  int64_t coarse_from = 0;
  int64_t envelope_next[2] = {};              // the sample each tone's envelope takes next
  double window_lo[2] = {}, window_hi[2] = {};  // samples from a marker: what tracking reads
  double power[1024] = {};                    // the envelope's square for a run of samples
  bool have_audio = false;
  int64_t expected_block = 0;  // first_block the next buffer should carry
  int64_t first_sample = 0;    // where the present stretch of audio began
  int64_t next_sample = 0;     // index of the next sample to arrive
  int64_t last_time_ns = 0;    // capture time of the latest stamped buffer's first sample
  int64_t last_time_sample = 0;
  int64_t expected_time_ns = 0;

  // --- searching
  int64_t last_attempt = 0;
  double score[AcquireSpanMs] = {};
  double prefix[AcquireSpanMs + 512] = {};

  // --- tracking
  bool tracking = false;
  int channel = 0;
  int64_t next_second = 0;
  int misses = 0;
  double typical_depth = 0.0;     // envelope units: depth of the recent markers' edges
  double typical_presence = 0.0;  // envelope units: their step where the line put them
  LinePoint points[MaxLinePoints];
  int point_count = 0;
  double scratch[LineScratchSize] = {};
  LineFit fit;
  SecondSignature signatures[SignatureSeconds];

  // --- labels
  int chain_count = 0;
  int chain_confirmed = 0;
  int64_t chain_offset = 0;  // UTC of a second minus its running number
  bool locked = false;

  // --- epochs ready
  SecondEpoch queue[EpochQueueSize];
  int queue_head = 0;
  int queue_count = 0;

  void SetStation(int station_mode) {
    station = station_mode;
    profile = ProfileFor(station_mode);
    for (int c = 0; c < 2; ++c) envelope[c] = ToneEnvelope(profile.tone_cycles[c], profile.tone_period[c]);
    // What a measured second reads of the envelope, about where the line puts its marker: the
    // edge finder's windows at the widest gate, and the late window of a long marker; wider by
    // a margin for the line's moving a little between a sample's arrival and its measuring,
    // and, at the start, by the envelope's own window, which a window computed afresh fills
    // first.
    const EdgeShape& shape = profile.shape;
    window_lo[0] = shape.pre_begin - WideGate - 1 - WindowMargin - EnvelopeWindow;
    window_hi[0] = std::max(shape.post_end, WideGate + EnvelopeWindow + 64) + WindowMargin;
    window_lo[1] = profile.late_begin - WindowMargin - EnvelopeWindow;
    window_hi[1] = profile.late_end > profile.late_begin ? profile.late_end + WindowMargin : window_lo[1];
    Restart(true);
    have_audio = false;
  }

  // Forget the seconds and their labels. When the audio itself broke off (`stream_break`), the
  // envelopes start afresh from `next_sample`; otherwise they go on and only the search does.
  void Restart(bool stream_break = false) {
    tracking = false;
    point_count = 0;
    fit = LineFit();
    misses = 0;
    typical_depth = 0.0;
    typical_presence = 0.0;
    for (SecondSignature& s : signatures) s = SecondSignature();
    Unlock();
    last_attempt = next_sample;
    coarse_from = next_sample;
    for (int c = 0; c < 2; ++c) coarse_sum[c] = 0.0;
    if (!stream_break) return;
    first_sample = next_sample;
    for (int c = 0; c < 2; ++c) envelope[c].Reset();
  }

  void Unlock() {
    locked = false;
    chain_count = 0;
    chain_confirmed = 0;
    queue_count = 0;  // nothing labelled under the old count may still go out
  }

  // ------------------------------------------------------------------------- audio in --

  void OnBuffer(const int16_t* samples, int count, int64_t first_block, int64_t capture_time_ns) {
    if (samples == nullptr || count <= 0) return;
    // A block count no capture reaches (a caller's mistake) is dropped, and breaks the stream.
    constexpr int64_t MaxBlock = int64_t{1} << 48;  // 142 years of 16 ms blocks
    if (first_block < 1 || first_block > MaxBlock) {
      have_audio = false;
      return;
    }
    // A time stamp outside 1970..2116 is as good as none.
    if (capture_time_ns < 0 || capture_time_ns > (int64_t{1} << 62)) capture_time_ns = 0;
    const int64_t start = (first_block - 1) * BlockSize;
    bool broken = !have_audio || first_block != expected_block;
    // A stamped stream whose time jumps by far more than the buffers' jitter was paused.
    if (!broken && capture_time_ns != 0 && expected_time_ns != 0 &&
        std::llabs(capture_time_ns - expected_time_ns) > 1000000000) {
      broken = true;
    }
    if (broken) {
      next_sample = start;
      Restart(true);
    }
    have_audio = true;
    expected_block = first_block + count / BlockSize;
    if (capture_time_ns != 0) {
      last_time_ns = capture_time_ns;
      last_time_sample = start;
      expected_time_ns = capture_time_ns + static_cast<int64_t>(count) * 125000;  // 1e9 / 8000
    } else {
      expected_time_ns = 0;
    }

    if (!profile.supported) {
      next_sample = start + count;
      return;
    }
    const int64_t end = start + count;
    for (int c = 0; c < profile.channels; ++c) {
      if (!tracking) {
        EnvelopeRange(c, samples, start, start, end, true);
      } else if (c == channel) {
        // the windows of the seconds still to be measured that lie in this buffer
        int64_t cursor = start;
        for (int64_t k = next_second; k < next_second + 64; ++k) {
          const double p = fit.At(k);
          if (p + window_lo[0] >= static_cast<double>(end)) break;
          for (int w = 0; w < 2; ++w) {
            if (window_hi[w] <= window_lo[w]) continue;
            const int64_t from = std::max(cursor, static_cast<int64_t>(std::floor(p + window_lo[w])));
            const int64_t to = std::min(end, static_cast<int64_t>(std::ceil(p + window_hi[w])));
            if (from >= to) continue;
            EnvelopeRange(c, samples, start, from, to, false);
            cursor = to;
          }
        }
      }
    }
    next_sample = end;

    if (!tracking) {
      const int64_t needed = (AcquireSpanMs + 1000) * SamplesPerMs;
      if (next_sample - coarse_from >= needed && next_sample - last_attempt >= 8000) {
        last_attempt = next_sample;
        TryAcquire();
      }
    }
    while (tracking && static_cast<double>(next_sample) > fit.At(next_second) + profile.measure_lag + 64)
      MeasureSecond(next_second++);
  }

  // The envelope of channel `c` over samples [from, to) of the buffer `samples` that begins at
  // sample `start`. When it did not stop at `from` last time, it starts afresh there: its first
  // EnvelopeWindow values sum less than a window, and nothing reads them.
  void EnvelopeRange(int c, const int16_t* samples, int64_t start, int64_t from, int64_t to, bool coarse_too) {
    if (envelope_next[c] != from) envelope[c].Reset();
    Envelope(c, samples + (from - start), static_cast<int>(to - from), from, coarse_too);
    envelope_next[c] = to;
  }

  // The envelope of channel `c` for `count` samples from sample `start`, into the full ring,
  // and, with `coarse_too`, its mean over each millisecond into the coarse ring. A run at a time,
  // the square roots of a whole run in one loop the compiler can vectorise.
  void Envelope(int c, const int16_t* samples, int count, int64_t start, bool coarse_too) {
    double coarse_run = coarse_sum[c];
    for (int done = 0; done < count;) {
      const int64_t n0 = start + done;
      const int len = static_cast<int>(std::min<int64_t>(
          {static_cast<int64_t>(std::size(power)), count - done, FullRingSize - (n0 & (FullRingSize - 1))}));
      envelope[c].Powers(samples + done, len, power);
      float* const out = &full[c][n0 & (FullRingSize - 1)];
      for (int i = 0; i < len; ++i) out[i] = static_cast<float>(std::sqrt(power[i]));
      done += len;
      if (!coarse_too) continue;
      // Millisecond means. Whole milliseconds are summed independently of one another; one
      // begun in the last run, or not finished in this one, carries its sum across.
      auto finish_ms = [&](int64_t n, double sum) {
        coarse[c][(n / SamplesPerMs) & (CoarseRingSize - 1)] = static_cast<float>(sum / SamplesPerMs);
      };
      int i = 0;
      for (; i < len && ((n0 + i) & (SamplesPerMs - 1)) != 0; ++i) {
        coarse_run += out[i];
        if (((n0 + i) & (SamplesPerMs - 1)) == SamplesPerMs - 1) {
          finish_ms(n0 + i, coarse_run);
          coarse_run = 0.0;
        }
      }
      for (; i + SamplesPerMs <= len; i += SamplesPerMs) {
        double sum = 0.0;
        for (int j = 0; j < SamplesPerMs; ++j) sum += out[i + j];
        finish_ms(n0 + i, sum);
      }
      for (; i < len; ++i) coarse_run += out[i];
    }
    coarse_sum[c] = coarse_run;
  }

  // ------------------------------------------------------------------------ searching --

  // The coarse edge score of channel `c` over the last AcquireSpanMs milliseconds; returns the
  // millisecond index of score[0].
  int64_t CoarseScores(int c) {
    const int64_t last_ms = next_sample / SamplesPerMs - 2;  // last complete millisecond
    const int64_t end_ms = last_ms - profile.coarse_post[1] - 1;
    const int64_t begin_ms = end_ms - AcquireSpanMs;
    const int64_t base = begin_ms + profile.coarse_pre[0];
    const int length = static_cast<int>(end_ms + profile.coarse_post[1] - base) + 1;
    prefix[0] = 0.0;
    for (int i = 0; i < length && i + 1 < static_cast<int>(std::size(prefix)); ++i)
      prefix[i + 1] = prefix[i] + coarse[c][(base + i) & (CoarseRingSize - 1)];
    auto mean = [&](int64_t from, int64_t to) {  // ms [from, to)
      return (prefix[to - base] - prefix[from - base]) / static_cast<double>(to - from);
    };
    for (int i = 0; i < AcquireSpanMs; ++i) {
      const int64_t m = begin_ms + i;
      const double before = mean(m + profile.coarse_pre[0], m + profile.coarse_pre[1]);
      const double after = mean(m + profile.coarse_post[0], m + profile.coarse_post[1]);
      score[i] = profile.coarse_rising ? after - before : before - after;
    }
    return begin_ms;
  }

  void TryAcquire() {
    struct Best {
      double total = -1e300;
      int period = 0;
      int phase = 0;
      int channel = 0;
      int64_t begin_ms = 0;
    } best;
    for (int c = 0; c < profile.channels; ++c) {
      const int64_t begin_ms = CoarseScores(c);
      for (int period = MinPeriod; period <= MaxPeriod; period += PeriodStep) {
        const double period_ms = static_cast<double>(period) / SamplesPerMs;
        for (int phase = 0; phase < 1000; ++phase) {
          double total = 0.0;
          for (int j = 0; j < AcquireSeconds; ++j)
            total += score[phase + static_cast<int>(j * period_ms + 0.5)];
          if (total > best.total) best = {total, period, phase, c, begin_ms};
        }
      }
    }
    if (best.total <= 0.0) return;

    // Each of the ten markers measured finely; seven or more on one line make a start.
    const double period = best.period;
    const double first_edge =
        static_cast<double>((best.begin_ms + best.phase) * SamplesPerMs) - (EnvelopeWindow / 2 + 3);
    channel = best.channel;
    const EnvelopeRing ring{full[channel], FullRingSize - 1};
    LinePoint found[AcquireSeconds];
    double depths[AcquireSeconds];
    int n = 0;
    for (int j = 0; j < AcquireSeconds; ++j) {
      const double predicted = first_edge + j * period;
      if (predicted + profile.shape.pre_begin - 200 < static_cast<double>(coarse_from)) continue;
      const EdgeResult r = FindEdge(ring, profile.shape, predicted, 96, AcquireEdgeSnr);
      if (!r.found) continue;
      found[n].second = j;
      found[n].position = r.position;
      found[n].weight = r.Snr() * r.Snr();
      depths[n] = r.depth;
      ++n;
    }
    if (n < 7) return;
    const LineFit line = FitRobustLine(found, n, 16.0, scratch);
    if (!line.ok || line.inliers < 7 || line.rms > 12.0 || line.slope < MinPeriod - 40 ||
        line.slope > MaxPeriod + 40)
      return;

    point_count = 0;
    double depth_list[AcquireSeconds];
    int depth_count = 0;
    for (int i = 0; i < n; ++i) {
      if (!found[i].inlier) continue;
      points[point_count++] = found[i];
      depth_list[depth_count++] = depths[i];
    }
    std::nth_element(depth_list, depth_list + depth_count / 2, depth_list + depth_count);
    typical_depth = depth_list[depth_count / 2];
    typical_presence = typical_depth;  // near enough until the first seconds are measured
    fit = line;
    tracking = true;
    misses = 0;
    next_second = AcquireSeconds;
  }

  // ------------------------------------------------------------------------- tracking --

  static double RawMean(const EnvelopeRing& ring, int64_t from, int64_t to) {
    double sum = 0.0;
    for (int64_t n = from; n < to; ++n) sum += ring.At(n);
    return to > from ? sum / static_cast<double>(to - from) : 0.0;
  }

  void MeasureSecond(int64_t k) {
    const EnvelopeRing ring{full[channel], FullRingSize - 1};
    const double predicted = fit.At(k);
    const int gate = fit.inliers >= 8 ? 40 : WideGate;  // samples: 5 ms once the line is settled
    const EdgeResult r = FindEdge(ring, profile.shape, predicted, gate, TrackEdgeSnr);

    // The marker's shape, read where the line puts it (whether or not its edge was found):
    // the envelope before it, while it holds, and later in the second.
    SecondSignature& sig = signatures[k % SignatureSeconds];
    sig = SecondSignature();
    sig.second = k;
    sig.measured = true;
    sig.found = r.found && r.depth >= 0.35 * typical_depth;
    const int64_t p = static_cast<int64_t>(predicted);
    const EdgeShape& shape = profile.shape;
    const double before = RawMean(ring, p + shape.pre_begin, p + shape.pre_end);
    const double holding = shape.tick ? RawMean(ring, p + EnvelopeWindow + 1, p + EnvelopeWindow + 8)
                                      : RawMean(ring, p + 80, p + shape.post_end);
    sig.presence = shape.rising ? holding - before : before - holding;
    if (profile.late_end > profile.late_begin && std::fabs(before - holding) > 0.0) {
      const double late = RawMean(ring, p + profile.late_begin, p + profile.late_end);
      sig.late_fraction = (late - holding) / (before - holding);
    }

    if (!sig.found) {
      if (++misses >= LostAfterSeconds) Restart();
      return;
    }
    misses = 0;
    typical_depth += 0.2 * (r.depth - typical_depth);  // follows fading of a few seconds
    typical_presence += 0.2 * (sig.presence - typical_presence);

    // Slide the window: the last WindowSeconds markers, none older than MaxAgeSeconds, so
    // that the line carries on through a fade.
    int keep = 0;
    for (int i = 0; i < point_count; ++i)
      if (points[i].second > k - MaxAgeSeconds) points[keep++] = points[i];
    point_count = keep;
    if (point_count >= WindowSeconds) {
      std::copy(points + point_count - WindowSeconds + 1, points + point_count, points);
      point_count = WindowSeconds - 1;
    }
    points[point_count].second = k;
    points[point_count].position = r.position;
    points[point_count].weight = r.Snr() * r.Snr();
    ++point_count;

    const LineFit line = FitRobustLine(points, point_count, 4.0, scratch);
    if (!line.ok) {
      Restart();
      return;
    }
    fit = line;
    if (!points[point_count - 1].inlier) return;  // this second's marker was off the line
    if (!locked) return;
    if (MayHoldLeapSecond(k + chain_offset)) {
      // A leap second would make the count one ahead of UTC from the minute's end on: stop
      // here, and let the minutes after it lock the labels afresh.
      Unlock();
      return;
    }

    SecondEpoch& e = queue[(queue_head + queue_count) % EpochQueueSize];
    if (queue_count == EpochQueueSize) {
      queue_head = (queue_head + 1) % EpochQueueSize;  // the oldest gives way
    } else {
      ++queue_count;
    }
    e.utc = k + chain_offset;
    e.sample = fit.At(k);
    // share of the window's seconds whose markers fit, and their scatter about the line
    const double span = static_cast<double>(k - points[0].second + 1);
    const double fill = std::min(1.0, fit.inliers / span);
    const double rms_ms = fit.rms / (fit.slope / 1000.0);
    e.quality = fill / (1.0 + (rms_ms / 0.5) * (rms_ms / 0.5));
  }

  // ----------------------------------------------------------------------- labelling --

  const SecondSignature* Signature(int64_t k) const {
    const SecondSignature& s = signatures[((k % SignatureSeconds) + SignatureSeconds) % SignatureSeconds];
    return s.measured && s.second == k ? &s : nullptr;
  }

  // Whether the marker shapes about second `k` say that it is second 0 of a minute.
  Evidence MinuteEvidence(int64_t k) const {
    const SecondSignature* at = Signature(k);
    const SecondSignature* before = Signature(k - 1);
    switch (profile.minute) {
      case MinuteShape::MissingSecond59:
        if (before == nullptr) return Evidence::Neutral;
        if (before->presence > 0.7 * typical_presence) return Evidence::Contradicts;
        if (!before->found && before->presence < 0.3 * typical_presence) return Evidence::Confirms;
        return Evidence::Neutral;
      case MinuteShape::LongSecond0:
        if (at == nullptr || at->late_fraction < -0.5) return Evidence::Neutral;
        if (at->late_fraction > 0.7) return Evidence::Contradicts;
        if (at->late_fraction < 0.3) return Evidence::Confirms;
        return Evidence::Neutral;
      case MinuteShape::LongPair: {
        if (at == nullptr || before == nullptr || at->late_fraction < -0.5 || before->late_fraction < -0.5)
          return Evidence::Neutral;
        if (at->late_fraction > 0.7 || before->late_fraction > 0.7) return Evidence::Contradicts;
        if (at->late_fraction < 0.3 && before->late_fraction < 0.3) return Evidence::Confirms;
        return Evidence::Neutral;
      }
      case MinuteShape::ShortPair: {
        // The carrier comes up at the edge: a marker's late level is back at the level before.
        if (at == nullptr || before == nullptr || at->late_fraction < -0.5 || before->late_fraction < -0.5)
          return Evidence::Neutral;
        if (at->late_fraction < 0.3 || before->late_fraction < 0.3) return Evidence::Contradicts;
        if (at->late_fraction > 0.7 && before->late_fraction > 0.7) return Evidence::Confirms;
        return Evidence::Neutral;
      }
      case MinuteShape::LongSecond0Silent29: {
        // Second 0 still sounds where the others are over, and second 29 of the same minute
        // (measured by the time a minute is accepted from the code of seconds 32..39) carries
        // no pulse.
        const SecondSignature* silent = Signature(k + 29);
        if (at == nullptr || at->late_fraction < -0.5) return Evidence::Neutral;
        if (at->late_fraction > 0.7) return Evidence::Contradicts;
        if (silent != nullptr && silent->presence > 0.7 * typical_presence) return Evidence::Contradicts;
        if (at->late_fraction < 0.3 && silent != nullptr && !silent->found &&
            silent->presence < 0.3 * typical_presence)
          return Evidence::Confirms;
        return Evidence::Neutral;
      }
      case MinuteShape::None: break;
    }
    return Evidence::Neutral;
  }

  void OnMinute(int ut_hour, int ut_minute, int64_t block) {
    if (!profile.supported || !profile.labels || !tracking || !fit.ok) {
      Unlock();
      return;
    }
    // the second the accepted minute names: the marker about one second before the block
    const double block_centre = (static_cast<double>(block) - 1.0) * BlockSize + BlockSize / 2;
    const double target = block_centre - profile.accept_delay * fit.slope;
    const double seconds_from_origin = (target - fit.intercept) / fit.slope;
    if (!(std::fabs(seconds_from_origin) < 1e9)) {  // a block no capture of ours has reached
      Unlock();
      return;
    }
    const int64_t k = fit.origin + std::llround(seconds_from_origin);
    const double stray = std::fabs(target - fit.At(k)) / fit.slope;  // seconds
    if (stray > LabelTolerance || k >= next_second || k < next_second - SignatureSeconds) {
      Unlock();
      return;
    }

    // UTC of that second: the minute of day on the date nearest the capture's own time
    int64_t now_s = 0;
    if (last_time_ns != 0) {
      now_s = last_time_ns / 1000000000 +
              static_cast<int64_t>((fit.At(k) - static_cast<double>(last_time_sample)) / 8000.0);
    } else {
      timespec ts{};
      clock_gettime(CLOCK_REALTIME, &ts);
      now_s = ts.tv_sec;
    }
    const int64_t minute_of_day = (((int64_t{ut_hour} * 60 + ut_minute) % 1440) + 1440) % 1440;
    const int64_t midnight = now_s - (((now_s % 86400) + 86400) % 86400);
    int64_t utc = midnight + minute_of_day * 60;
    for (int64_t day = -1; day <= 1; day += 2) {
      const int64_t candidate = midnight + day * 86400 + minute_of_day * 60;
      if (std::llabs(candidate - now_s) < std::llabs(utc - now_s)) utc = candidate;
    }
    const int64_t offset = utc - k;

    const Evidence evidence = MinuteEvidence(k);
    if (evidence == Evidence::Contradicts) {
      Unlock();
      return;
    }
    if (chain_count > 0 && offset != chain_offset) {
      Unlock();  // this minute and the earlier ones cannot all be right
    }
    if (chain_count == 0) {
      chain_offset = offset;
      chain_count = 0;
      chain_confirmed = 0;
    }
    ++chain_count;
    if (evidence == Evidence::Confirms) ++chain_confirmed;
    locked = chain_count >= MinutesToLock && chain_confirmed >= ConfirmedToLock;
  }

  int Take(SecondEpoch* out, int max) {
    int n = 0;
    while (n < max && queue_count > 0) {
      out[n++] = queue[queue_head];
      queue_head = (queue_head + 1) % EpochQueueSize;
      --queue_count;
    }
    return n;
  }
};

SecondEpochs::SecondEpochs(int station_mode) : impl_(std::make_unique<Impl>(station_mode)) {}

SecondEpochs::~SecondEpochs() = default;

void SecondEpochs::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                   int64_t capture_time_ns) {
  impl_->OnBuffer(samples, count, first_block, capture_time_ns);
}

void SecondEpochs::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  impl_->OnMinute(ut_hour, ut_minute, block);
}

void SecondEpochs::OnUpdate(int hint) {
  if (hint == UPDATE_HINT_CAPTURE_STARTED) impl_->have_audio = false;  // next buffer restarts
}

void SecondEpochs::SetStation(int station_mode) {
  if (station_mode != impl_->station) impl_->SetStation(station_mode);
}

int SecondEpochs::TakeEpochs(SecondEpoch* out, int max) {
  if (out == nullptr || max <= 0) return 0;
  return impl_->Take(out, max);
}

bool SecondEpochs::Locked() const {
  return impl_->locked;
}

SecondEpochs::Line SecondEpochs::SecondLine() const {
  Line line;
  if (!impl_->tracking || !impl_->fit.ok) return line;
  line.following = true;
  line.sample = impl_->fit.At(impl_->next_second - 1);
  line.rate = impl_->fit.slope;
  return line;
}

int SecondEpochs::AgreeingMinutes() const {
  return impl_->chain_count;
}

const char* SecondEpochs::State() const {
  if (!impl_->profile.supported || !impl_->profile.labels) return "unsupported";
  if (impl_->locked) return "locked";
  if (impl_->tracking) return "locking";
  return "searching";
}
