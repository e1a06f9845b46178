// SPDX-License-Identifier: GPL-3.0-or-later
// TimeService: the reference clock beside the document's processing loop.
//
// A DocObserver fed the same capture buffers and accepted minutes as the document. It hands
// both to the second-epoch estimator, fits the buffers' capture stamps to a line (sample index
// -> system time), and after each buffer turns every labelled second the estimator releases
// into a measurement: the system time at which that second's on-time marker reached the
// sound card, and the offset of the true time from the system clock,
//
//   offset = utc - (system time of the marker - receiver delay)     // seconds
//
// (the marker left the station `receiver delay` before the card heard it). Each measurement
// goes to every output: chrony's socket, the NTP shared memory, a JSON line. It never writes
// the document's state.
//
// Which second a marker is (its label) comes from the decoded minutes (three that agree), or,
// when a SecondLabeller is given, from a lock on the time of day that holds in noise no minute
// decodes through. While that lock labels, every second it counts is measured where its line
// puts the second's start, and the decoded minutes' labels only cross-check it: a second the two
// label differently is not sent at all. While it does not label, the decoded minutes do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/varnol_doc.h"
#include "timing/capture_clock.h"
#include "timing/second_epochs.h"

struct EpochMeasurement {
  int64_t utc = 0;        // the second's label, Unix seconds
  int64_t system_ns = 0;  // CLOCK_REALTIME at which its marker reached the card
  double offset = 0.0;    // seconds, true time minus system time
  double quality = 0.0;   // 0..1, from the estimator
  int leap = 0;           // a leap second at the end of this UTC day: 0 none, 1 inserted, 2 removed
};

class EpochOutput {
 public:
  virtual ~EpochOutput() = default;
  virtual void OnEpoch(const EpochMeasurement& m) = 0;
};

// Labels for the seconds from beside the decoded minutes: a lock on the time of day.
class SecondLabeller {
 public:
  virtual ~SecondLabeller() = default;
  struct Seconds {
    bool labelled = false;     // false: no labels now
    bool holdover = false;     // counted on from the capture clock, the markers not seen lately
    bool leap_minute = false;  // withheld: a minute that may end with a leap second
    int64_t utc = 0;           // second `utc` (Unix seconds) begins at capture sample `sample`,
    double sample = 0.0;       // and the seconds last `rate` samples
    double rate = 0.0;
    int minutes = 0;  // minutes of evidence behind the time of day
  };
  // After each buffer; `newest_sample` is one past the buffer's last sample (samples since the
  // capture's first sample). No allocation, no blocking.
  virtual Seconds Labels(double newest_sample) = 0;
  // The capture's time stamps broke off: seconds counted across the break cannot be trusted,
  // and the labels must be found afresh.
  virtual void Renew() = 0;
};

// Why the labels locked or lost their lock, for the log.
enum class LockReason {
  MinutesAgree,      // locked: decoded minutes agree with one another and with the seconds
  TimeOfDay,         // locked: the labeller holds the time of day
  TimeOfDayLost,     // lost: the labeller let go of the time of day
  MinuteDisagrees,   // lost: a decoded minute (hour:minute, UT) disagrees with the chain
  SecondsLost,       // lost: the seconds' markers were lost (a gap in the audio, fading, noise)
  LeapSecond,        // lost: the last minute of June or December may end with a leap second
  TimingBroke,       // lost: the capture's time stamps broke off (samples lost, clock stepped)
  CaptureRestarted,  // lost: the capture started again (the sound card was opened again)
};

struct LockChange {
  int64_t serial = 0;  // counts the changes since construction; 0: none yet
  bool locked = false;
  LockReason reason = LockReason::SecondsLost;
  int minutes = 0;             // MinutesAgree: how many; TimeOfDay: minutes of evidence
  int hour = -1, minute = -1;  // MinuteDisagrees: the minute, UT
};

// One line for the log: "locked: 3 minutes agree", "unlocked: minute 13:07 disagrees; ...".
std::string DescribeLockChange(const LockChange& change);

// The seconds handed to the outputs: how many, and their offsets' mean and spread, kept in
// constant memory however long the service runs.
struct OffsetStats {
  int64_t count = 0;
  double mean = 0.0;    // seconds
  double sum_sq = 0.0;  // of the deviations from the running mean, seconds^2
  double min = 0.0, max = 0.0;
  void Add(double offset);
  double StdDev() const;  // seconds; 0 below two samples
};

class TimeService : public DocObserver {
 public:
  // `station_mode` as the document's StationMode; `receiver_delay_s` seconds from the
  // station's marker to the sound card's input (antenna, receiver filters, cable), >= 0.
  TimeService(int station_mode, double receiver_delay_s);
  ~TimeService() override;
  TimeService(const TimeService&) = delete;
  TimeService& operator=(const TimeService&) = delete;

  // Up to MaxOutputs outputs, kept by pointer (they must outlive the service).
  bool AddOutput(EpochOutput* output);
  // Labels from a lock on the time of day (kept by pointer; nullptr: the decoded minutes only).
  void SetLabeller(SecondLabeller* labeller) { labeller_ = labeller; }

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;
  // A capture that starts again breaks the count of seconds even when its buffers carry no
  // stamps.
  void OnUpdate(int hint) override;

  // A new capture (the device was opened again): nothing measured before carries over.
  void Restart();

  // Where the station's announcement of a leap second at the end of the month is read (the
  // document's LeapAnnounced: 0 none, 1 inserted, 2 removed), taken with each accepted minute
  // and passed on with the seconds of the month's last day. Without it, no leap is announced.
  void ReadLeapAnnouncements(const int* leap_announced) { leap_source_ = leap_announced; }

  const CaptureClock& Clock() const { return clock_; }
  const SecondEpochs& Epochs() const { return *epochs_; }
  // Labelled seconds measured and handed to the outputs, and those dropped because the
  // capture stamps did not yet (or no longer) give a trustworthy line. When the line breaks
  // (samples lost on the way, the system clock stepped), the seconds counted across the break
  // cannot be trusted either: the estimator starts afresh and must lock again.
  int64_t Measured() const { return measured_; }
  int64_t Unstamped() const { return unstamped_; }
  // Seconds the labeller labelled and the decoded minutes labelled otherwise: not sent.
  int64_t Contradicted() const { return contradicted_; }
  const OffsetStats& Offsets() const { return offsets_; }

  // The latest change of the lock (its serial grows with each), and how many times the labels
  // locked since construction.
  const LockChange& LastLockChange() const { return change_; }
  // Whether seconds are labelled now (by the decoded minutes or the labeller).
  bool Locked() const { return locked_; }
  int64_t TimesLocked() const { return times_locked_; }

  // Four served outputs (chrony sockets, SHM units) and the printed line.
  static constexpr int MaxOutputs = 5;

 private:
  int station_;
  std::unique_ptr<SecondEpochs> epochs_;
  CaptureClock clock_;
  int clock_restarts_ = 0;
  double delay_s_;
  EpochOutput* outputs_[MaxOutputs] = {};
  SecondEpoch taken_[64];
  int64_t measured_ = 0;
  int64_t unstamped_ = 0;
  int64_t contradicted_ = 0;
  OffsetStats offsets_;
  SecondLabeller* labeller_ = nullptr;
  SecondLabeller::Seconds labels_;      // the labeller's answer after the newest buffer
  int64_t served_through_ = INT64_MIN;  // the last second sent from the labeller's count

  // One measurement to every output.
  void Send(int64_t utc, double sample, double quality);
  // The seconds the labeller counts up to a second before `newest_sample`, each once.
  void SendLabelled(double newest_sample, bool contradicted);
  // Notes a change of the labels' lock since the last look, with `reason` when it was lost.
  void NoteLock(LockReason lost_reason, int hour = -1, int minute = -1);
  bool locked_ = false;
  const int* leap_source_ = nullptr;
  int leap_ = 0;                  // as announced with the last accepted minute
  bool capture_started_ = false;  // the document said the capture started again
  int64_t expected_ns_ = 0;       // the next buffer's stamp if the capture runs on unbroken
  LockChange change_;
  int64_t times_locked_ = 0;
};
