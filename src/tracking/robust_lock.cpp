// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/robust_lock.h"

#include <algorithm>
#include <cmath>

#include "app/varnol_doc.h"
#include "platform/system_clock.h"

namespace {

// A locked second whose line was last confirmed this many seconds ago is in holdover.
constexpr int64_t HoldoverAfterSeconds = 5;
// ... when the lock follows the seconds it found itself, whose fresh confirmation takes tens of
// seconds in deep noise (SecondFinder::ConfirmSigmas on the evidence since the last one)
constexpr int64_t OwnHoldoverAfterSeconds = 120;

int64_t Mod(int64_t a, int64_t b) {
  return ((a % b) + b) % b;
}

// The first midnight after `utc` that may follow a leap second: 1 January or 1 July, 00:00 UTC
// (the last minute of June and of December may have 61 seconds).
int64_t NextLeapMidnight(int64_t utc) {
  SYSTEMTIME st = SystemTimeFromUnix(utc);
  SYSTEMTIME m{};
  m.wYear = static_cast<uint16_t>(st.wMonth < 7 ? st.wYear : st.wYear + 1);
  m.wMonth = static_cast<uint16_t>(st.wMonth < 7 ? 7 : 1);
  m.wDay = 1;
  return UnixFromSystemTime(m);
}

}  // namespace

const char* LockStateName(LockState state) {
  switch (state) {
    case LockState::Searching: return "searching";
    case LockState::Phasing: return "phasing";
    case LockState::Timing: return "timing";
    case LockState::Locked: return "locked";
    case LockState::Holdover: return "holdover";
  }
  return "searching";
}

RobustLock::RobustLock(int station_mode, int tone_cycles, int tone_period)
    : table_(SymbolsFor(station_mode)),
      // a code on a subcarrier of its own (WWV's 100 Hz) is read there, not on the tone
      tone_cycles_(table_ != nullptr && table_->code_period > 0 ? table_->code_cycles : tone_cycles),
      tone_period_(table_ != nullptr && table_->code_period > 0 ? table_->code_period : tone_period),
      levels_(table_ != nullptr ? *table_ : *SymbolsFor(StationDcf77)),
      phase_(table_ != nullptr ? *table_ : *SymbolsFor(StationDcf77)),
      mark_(table_ != nullptr ? table_->mark_tones : MarkTones{}),
      times_(table_ != nullptr ? *table_ : *SymbolsFor(StationDcf77)),
      finder_(table_ != nullptr ? *table_ : *SymbolsFor(StationDcf77), tone_cycles_, tone_period_),
      tick_(table_ != nullptr ? table_->ticks : TickTones{}),
      // (not cleared: only samples written are read, and pages never written cost nothing)
      ring_(new int16_t[RingSize]),
      history_(std::make_unique<double[]>(HistorySeconds * MaxSymbols)),
      history_second_(std::make_unique<int64_t[]>(HistorySeconds)) {
  scorer_ = &times_;
  if (table_ != nullptr && table_->fsk_code) {
    chu_ = std::make_unique<ChuTimes>();
    scorer_ = chu_.get();
    score_at_ = ChuLastCodeSecond;  // the code is complete then
    code_history_ = std::make_unique<float[]>(static_cast<size_t>(HistorySeconds) * ChuSecondValues);
    code_second_ = std::make_unique<int64_t[]>(HistorySeconds);
    std::fill(code_second_.get(), code_second_.get() + HistorySeconds, INT64_MIN);
  }
  std::fill(history_second_.get(), history_second_.get() + HistorySeconds, INT64_MIN);
}

RobustLock::~RobustLock() = default;

void RobustLock::SetState(LockState state) {
  if (state != state_) changed_ = true;
  state_ = state;
}

void RobustLock::Reset() {
  Restart();
  have_audio_ = false;
  fresh_from_ = 0;
  have_external_ = false;
  finder_.Reset();
  tick_.Reset();
}

int64_t RobustLock::TentativeUtc(int64_t k) const {
  if (Locked()) return locked_utc_ + (k - locked_second_);
  if (state_ == LockState::Timing && scorer_->Minutes() > 0 && last_scored_ != INT64_MIN)
    return scorer_->BestUtc() + (k - last_scored_);
  // the capture's own clock
  const double start = line_sample_ + static_cast<double>(k - line_second_) * rate_;
  if (stamp_ns_ > 0)
    return stamp_ns_ / 1000000000 +
           static_cast<int64_t>((start - static_cast<double>(stamp_sample_)) / rate_);
  return reference_utc_ + static_cast<int64_t>(start / rate_);
}

bool RobustLock::SpansLeapMidnight(int64_t k, int64_t utc) const {
  if (first_second_ == INT64_MIN || k < first_second_) return false;
  return NextLeapMidnight(utc - (k - first_second_)) <= utc;
}

void RobustLock::Restart() {
  first_second_ = INT64_MIN;
  have_line_ = false;
  levels_.Reset();
  phase_.Reset();
  mark_.Reset();
  scorer_->Reset();
  minute_phase_ = -1;
  last_scored_ = INT64_MIN;
  std::fill(history_second_.get(), history_second_.get() + HistorySeconds, INT64_MIN);
  std::fill(&minute_heard_[0], &minute_heard_[0] + 60, false);
  SetState(LockState::Searching);
}

void RobustLock::SetSecondLine(double sample, double rate) {
  if (table_ == nullptr || !(std::fabs(sample) < 1e15) || !(rate > 7000.0 && rate < 9000.0)) return;
  have_external_ = true;
  external_at_ = next_sample_;
  own_line_ = false;
  ApplyLine(sample, rate, true);
}

int64_t RobustLock::HoldoverAfter() const {
  return own_line_ ? OwnHoldoverAfterSeconds : HoldoverAfterSeconds;
}

void RobustLock::ApplyLine(double sample, double rate, bool fresh) {
  if (!(std::fabs(sample) < 1e15) || !(rate > 7000.0 && rate < 9000.0)) return;
  if (have_line_) {
    const double at = (sample - line_sample_) / rate_ + static_cast<double>(line_second_);
    // (a line ages of seconds away is no continuation of this count either)
    const int64_t k = std::fabs(at) < 1e12 ? std::llround(at) : 0;
    if (std::fabs(at) < 1e12 && std::fabs(at - static_cast<double>(k)) <= MaxPhaseJump) {
      line_sample_ = sample;
      line_second_ = k;
      rate_ = rate;
      if (fresh) {
        line_refreshed_ = std::max(line_refreshed_, next_second_);
        if (state_ == LockState::Holdover) SetState(LockState::Locked);
      }
      return;
    }
    // The seconds are not where the count had them: nothing counted so far holds.
    Restart();
  }
  have_line_ = true;
  line_sample_ = sample;
  line_second_ = 0;
  rate_ = rate;
  // from the oldest whole second still in the ring
  const double oldest =
      static_cast<double>(std::max({next_sample_ - RingSize + 64, stream_start_, fresh_from_}));
  next_second_ = static_cast<int64_t>(std::ceil((oldest - sample) / rate));
  line_refreshed_ = next_second_;
  SetState(LockState::Phasing);
}

void RobustLock::OnBuffer(const int16_t* samples, int count, int64_t first_sample, int64_t capture_time_ns) {
  if (table_ == nullptr || samples == nullptr || count <= 0 || first_sample < 0) return;
  if (!have_audio_ || first_sample != next_sample_) {
    Reset();
    have_audio_ = true;
    stream_start_ = first_sample;
  }
  {
    // into the ring in at most two stretches (of a buffer longer than the ring, its end)
    const int64_t skip = std::max<int64_t>(0, count - RingSize);
    const int16_t* from = samples + skip;
    const int64_t n = count - skip;
    const int64_t at = (first_sample + skip) & (RingSize - 1);
    const int64_t first_part = std::min<int64_t>(n, RingSize - at);
    std::copy(from, from + first_part, ring_.get() + at);
    std::copy(from + first_part, from + n, ring_.get());
  }
  next_sample_ = first_sample + count;
  if (capture_time_ns > 0) {
    stamp_ns_ = capture_time_ns;
    stamp_sample_ = first_sample;
  }
  // Without a line from outside (the second-epoch estimator finds no markers in this noise, or
  // none was given for a while), the seconds found by folding the tone over many of them; such
  // a line counts as heard only when fresh evidence confirms it, so that a fade is held over
  // on the capture clock as before.
  // While the estimator gives the line the finder rests (it costs about as much as the rest of
  // the lock); it starts afresh when the line stops coming, and the audio kept covers the
  // minutes it then takes.
  const bool external =
      have_external_ && static_cast<double>(next_sample_ - external_at_) <= ExternalLineSeconds * rate_;
  if (external) {
    finder_resting_ = true;
  } else {
    if (finder_resting_) {
      finder_.Reset();
      tick_.Reset();
    }
    finder_resting_ = false;
    finder_.Add(samples, count, first_sample, capture_time_ns);
  }
  const bool confirmed = finder_.TakeConfirmation();
  if (!external && finder_.Found()) {
    own_line_ = true;
    // The tick, where it stands out, places the seconds finer than the edge they were found by.
    double sample = finder_.SecondStart();
    if (tick_.Sure()) {
      const double at = (tick_.Onset() - sample) / finder_.Rate();
      if (std::fabs(at - std::round(at)) * 1000.0 <= MaxTickMs) sample = tick_.Onset();
    }
    ApplyLine(sample, finder_.Rate(), confirmed);
  }
  while (have_line_) {
    const double start = line_sample_ + static_cast<double>(next_second_ - line_second_) * rate_;
    if (start + rate_ + 2.0 > static_cast<double>(next_sample_)) break;
    if (start - 1.0 >=
        static_cast<double>(std::max({stream_start_, fresh_from_, next_sample_ - RingSize + 2})))
      ProcessSecond();
    ++next_second_;
    if (!have_line_) break;
  }
}

void RobustLock::ProcessSecond() {
  const int64_t k = next_second_;
  if (k - line_refreshed_ > static_cast<int64_t>(MaxHoldoverSeconds)) {
    // Too long on the capture clock alone: the count may have slipped.
    Restart();
    return;
  }
  if (first_second_ == INT64_MIN) first_second_ = k;
  if (SpansLeapMidnight(k, TentativeUtc(k))) {
    // A leap second may have been inserted before this second: the seconds counted, the
    // minute's phase and the minutes scored (locked or not yet) may all be one off.
    // Everything starts afresh, from this second's audio on (the seconds before it would
    // carry the old count into the new).
    fresh_from_ =
        static_cast<int64_t>(std::floor(line_sample_ + static_cast<double>(k - line_second_) * rate_)) - 8;
    Restart();
    return;
  }
  if (state_ == LockState::Locked && k - line_refreshed_ > HoldoverAfter()) SetState(LockState::Holdover);

  const double start = line_sample_ + static_cast<double>(k - line_second_) * rate_;
  if (own_line_ && table_->ticks.count > 0 &&
      start - TickOnset::ReadsBeforeMs / 1000.0 * rate_ >=
          static_cast<double>(std::max({stream_start_, fresh_from_, next_sample_ - RingSize + 2}))) {
    // (no tick in seconds 29 and 59, and the minute's long tone in second 0, where the
    // minute's phase is known)
    const int64_t position = minute_phase_ >= 0 ? Mod(k - minute_phase_, 60) : 1;
    tick_.Add(ring_.get(), RingSize - 1, start, rate_, position != 0 && position != 29 && position != 59);
  }
  double levels[SlotsPerSecond];
  levels_.Read(ring_.get(), RingSize - 1, start, rate_, tone_cycles_, tone_period_, levels);
  levels_.Add(levels);
  if (!levels_.Ready()) return;
  double ll[MaxSymbols] = {};
  SymbolLikelihoods(*table_, levels, levels_.High(), levels_.Low(), levels_.Sigma(), ll, levels_.LevelVariance());
  phase_.Add(k, ll);
  // The minute's tone finds the phase sooner; once locked, the code's symbols keep it, and the
  // tone's reading (about a fifth of the loop's time) rests until the lock is lost.
  if (table_->mark_tones.channels > 0 && !Locked())
    phase_.AddMark(k, mark_.Add(ring_.get(), RingSize - 1, start, rate_));
  else
    mark_.Reset();
  const int64_t slot = Mod(k, HistorySeconds);
  std::copy(ll, ll + MaxSymbols, &history_[slot * MaxSymbols]);
  // The code is read in every second while the minute's phase is not sure (those seconds are
  // scored once it is), then only where the phase puts it.
  if (code_history_ != nullptr) {
    const bool phased = minute_phase_ >= 0 && phase_.Best() == minute_phase_;
    const int64_t position = Mod(k - minute_phase_, 60);
    if (!phased || (position >= ChuFirstCodeSecond && position <= ChuLastCodeSecond)) {
      chu_->ReadSecond(ring_.get(), RingSize - 1, start, rate_, &code_history_[slot * ChuSecondValues]);
      code_second_[slot] = k;
    }
  }
  history_second_[slot] = k;

  if (phase_.Margin() >= PhaseMargin && phase_.Best() != minute_phase_) {
    // A new minute phase, sure on its own evidence: the time of day starts again on it, from
    // the minutes still in the history, so that the seconds heard while the phase was being
    // found count at once.
    minute_phase_ = phase_.Best();
    scorer_->Reset();
    last_scored_ = INT64_MIN;
    SetState(LockState::Timing);
    // A station without a time code (RWM) stays here: its minute's phase is all there is.
    if (PhaseOnly()) return;
    const int64_t current = k - Mod(k - minute_phase_, 60);
    for (int64_t m0 = current - 60 * (HistorySeconds / 60 - 1); m0 <= current; m0 += 60) {
      bool any = false;
      for (int p = 0; p < 60; ++p) {
        const int64_t h = Mod(m0 + p, HistorySeconds);
        minute_heard_[p] = history_second_[h] == m0 + p;
        if (minute_heard_[p])
          std::copy(&history_[h * MaxSymbols], &history_[(h + 1) * MaxSymbols], minute_ll_[p]);
        any |= minute_heard_[p];
      }
      minute_start_ = m0;
      // (every minute whose scored seconds are all past: the minutes before this one, and
      // this one too where its last scored second has gone by)
      if (m0 + score_at_ < k && any) ScoreMinute();
      if (!have_line_) return;  // started afresh (a leap second)
    }
  }
  if (minute_phase_ < 0 || PhaseOnly()) return;
  const int position = static_cast<int>(Mod(k - minute_phase_, 60));
  if (k - position != minute_start_) {
    minute_start_ = k - position;
    std::fill(&minute_heard_[0], &minute_heard_[0] + 60, false);
  }
  std::copy(ll, ll + MaxSymbols, minute_ll_[position]);
  minute_heard_[position] = true;
  if (position == score_at_) ScoreMinute();
}

void RobustLock::ScoreMinute() {
  const int elapsed = last_scored_ == INT64_MIN
                          ? 1
                          : static_cast<int>(std::min<int64_t>((minute_start_ - last_scored_) / 60, 1440));
  const double start = line_sample_ + static_cast<double>(minute_start_ - line_second_) * rate_;
  const int64_t reference =
      stamp_ns_ > 0 ? stamp_ns_ / 1000000000 +
                          static_cast<int64_t>((start - static_cast<double>(stamp_sample_)) / 8000.0)
                    : reference_utc_ + static_cast<int64_t>(start / 8000.0);
  if (chu_ != nullptr) {
    // the code's seconds of this minute, as far as they are still kept
    const float* seconds[ChuCodeSeconds];
    for (int i = 0; i < ChuCodeSeconds; ++i) {
      const int64_t second = minute_start_ + ChuFirstCodeSecond + i;
      const int64_t h = Mod(second, HistorySeconds);
      seconds[i] = history_second_[h] == second && code_second_[h] == second
                       ? &code_history_[h * ChuSecondValues]
                       : nullptr;
    }
    chu_->AddMinute(reference, DateKnown(), seconds, elapsed);
  } else {
    times_.AddMinute(reference, minute_ll_, minute_heard_, elapsed);
  }
  last_scored_ = minute_start_;
  std::fill(&minute_heard_[0], &minute_heard_[0] + 60, false);

  if (Locked()) {
    const int64_t locked_now = locked_utc_ + (minute_start_ - locked_second_);
    const double locked_score = scorer_->Score(static_cast<int>(Mod(locked_now / 60, CandidateMinutes)));
    const double best_score =
        scorer_->Score(static_cast<int>(Mod(scorer_->BestUtc() / 60, CandidateMinutes)));
    // Evidence against the lock, minute by minute: how much worse the minutes since it fit the
    // locked time than the minute standing alone (free symbols; CHU: its frames naming any one
    // time, TimeScorer::LastMinuteOverOpen), summed while they do and forgotten while they do not
    // (a CUSUM of the likelihood ratio; while the lock is right it climbs to DropMargin with
    // a chance of at most exp(-DropMargin) ever).
    against_ = std::max(0.0, against_ - scorer_->LastMinuteOverOpen(
                                            static_cast<int>(Mod(locked_now / 60, CandidateMinutes))));
    if (best_score - locked_score >= TimeCandidates::DropMargin || against_ >= TimeCandidates::DropMargin) {
      // The signal no longer follows the time that was locked (the station stepped, the count
      // of seconds slipped): what was heard before says nothing of the time now, and would
      // weigh against every candidate for hours. Start the time of day afresh.
      scorer_->Reset();
      last_scored_ = INT64_MIN;
      SetState(LockState::Timing);
      return;
    }
  }
  if (!Locked() && scorer_->Sure() && SpansLeapMidnight(minute_start_ + 59, scorer_->BestUtc() + 59)) {
    // The evidence reaches across a midnight that may follow a leap second: by this time, the
    // minutes before it may be a second off those after it. No lock; afresh from here on.
    fresh_from_ = static_cast<int64_t>(std::floor(
                      line_sample_ + static_cast<double>(minute_start_ + 60 - line_second_) * rate_)) -
                  8;
    Restart();
    return;
  }
  if (!Locked() && scorer_->Sure()) {
    locked_utc_ = scorer_->BestUtc();
    locked_second_ = minute_start_;
    leap_midnight_ = NextLeapMidnight(locked_utc_);
    against_ = 0.0;
    SetState(minute_start_ + score_at_ - line_refreshed_ > HoldoverAfter() ? LockState::Holdover
                                                                           : LockState::Locked);
    changed_ = true;
  }
}

LockStatus RobustLock::Status() const {
  LockStatus s;
  s.state = state_;
  s.phase_margin = phase_.Margin();
  s.minutes = scorer_->Minutes();
  if (state_ == LockState::Timing || Locked()) {
    s.minute_utc = Locked() ? locked_utc_ + (last_scored_ - locked_second_) : scorer_->BestUtc();
    s.margin = scorer_->Margin();
  }
  return s;
}

bool RobustLock::UtcNear(double sample, int64_t* utc, double* second_start) const {
  if (!Locked() || !have_line_) return false;
  const int64_t k = std::llround((sample - line_sample_) / rate_) + line_second_;
  // From a midnight that may follow a leap second on, the count of seconds may be one ahead
  // of the station's: no label until the lock is taken again.
  if (locked_utc_ + (k - locked_second_) >= leap_midnight_) return false;
  if (utc != nullptr) *utc = locked_utc_ + (k - locked_second_);
  if (second_start != nullptr) *second_start = line_sample_ + static_cast<double>(k - line_second_) * rate_;
  return true;
}

bool RobustLock::SecondOfMinuteNear(double sample, double* seconds) const {
  if (table_ == nullptr || !have_line_ || minute_phase_ < 0 || phase_.Best() != minute_phase_) return false;
  const double running = (sample - line_sample_) / rate_ + static_cast<double>(line_second_ - minute_phase_);
  if (!(std::fabs(running) < 1e12)) return false;
  *seconds = running - 60.0 * std::floor(running / 60.0);
  return true;
}

bool RobustLock::TakeChange() {
  const bool c = changed_;
  changed_ = false;
  return c;
}
