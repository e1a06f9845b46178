// SPDX-License-Identifier: GPL-3.0-or-later
// The reference clock's accuracy on the simulated receiver, beside the clock step's own.
//
// For DCF77, MSF, WWVB, WWV, HBG, VNG and CHU (stations with a sharp second marker), at 0, 10
// and 20 dB (or --snrs), with slow fading, the sound card 0.1 % fast and 0.1 % slow (or
// --cards), and capture stamps that a driver gives with +-2 ms of jitter and 20 ms of latency:
// the broadcast runs 250 ms ahead of the system clock, so every sent offset should read 0.250 s.
//   sent       share of the audio's seconds that were sent as samples
//   med, p95   of |sent offset - true offset|, milliseconds
//   wrong      samples more than half a second off (a wrong second label)
// The card's rate is off the default calibration (3756 blocks a minute, 8012.8 samples a
// second), which the document keeps.
//   step       the clock step's error: the time written at hh:mm:01 against the true time when
//              the buffer holding the marker's end has been captured (median and p95, ms)
// Then the CPU cost: an hour of each station's audio through the loop alone and through the
// loop with the time service, taking turns of 16 s of audio; the service's share of the loop's cost.
//
// Usage: bench_refclock_accuracy [--minutes N (per case, default 15)] [--stations a,b,...]
//                                [--day a,b,...  (a simulated day of each, with bursts)]
//                                [--day-hours H  (instead of 24)]
//                                [--snrs a,b,... (dB, instead of 0,10,20)]
//                                [--cards a,b,... (the card's rate off, %, instead of 0.1,-0.1)]
// Other arguments (those `make bench` gives every benchmark) are ignored.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/sample_source.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/encoder.h"
#include "simulator/receiver.h"
#include "timing/time_service.h"
#include "loop_bench.h"

namespace {

constexpr int64_t StartUtc = 1796648400;  // 2026-12-07 13:00:00 UTC
constexpr double AheadS = 0.250;          // the broadcast ahead of the system clock

// Collects the sent samples, and the clock step's writes against the truth.
class Recorder : public EpochOutput, public DocObserver {
 public:
  explicit Recorder(double card_rate) : rate_(card_rate) {}
  void OnEpoch(const EpochMeasurement& m) override { errors.push_back(m.offset - AheadS); }
  void OnCaptureBuffer(const int16_t*, int count, int64_t first_block, int64_t) override {
    end_sample_ = (first_block - 1) * 128 + count;
  }
  void OnClockWrite(const SYSTEMTIME& st, bool ok) override {
    if (!ok) return;
    const double written = static_cast<double>(UnixFromSystemTime(st)) + st.wMilliseconds / 1000.0;
    // The broadcast's time when the whole buffer has been captured: a live program processes a
    // buffer only then.
    const double truth = static_cast<double>(StartUtc) + static_cast<double>(end_sample_) / rate_;
    steps.push_back(written - truth);
  }
  std::vector<double> errors;  // seconds, sent minus true offset
  std::vector<double> steps;   // seconds, written minus true time

 private:
  double rate_;
  int64_t end_sample_ = 0;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  for (double& x : v) x = std::fabs(x);
  std::sort(v.begin(), v.end());
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[k];
}

// The errors of the samples sent: those off by more than half a second carry a wrong second
// label and are counted; the others go to `good`.
int SplitWrong(const std::vector<double>& errors, std::vector<double>& good) {
  int wrong = 0;
  for (double e : errors) {
    if (std::fabs(e) > 0.5)
      ++wrong;
    else
      good.push_back(e);
  }
  return wrong;
}

struct Result {
  double sent_share;
  double med_ms, p95_ms;
  int wrong;
  double step_med_ms, step_p95_ms;
  size_t steps;
};

// The processing loop over `source` with buffers stamped as a card running at `card_rate`
// would stamp them (the broadcast AheadS ahead of the system clock, 20 ms of latency, +-2 ms of
// jitter drawn from `stamp_seed`), the clock step on, and the time service beside it when
// `with_service`. `rec`, when given, hears the buffers before the service and the clock step,
// and what the service sends.
struct ServiceLoop {
  ServiceLoop(std::unique_ptr<SampleSource> source, double card_rate, int mode, uint64_t stamp_seed,
              Recorder* recorder, bool with_service = true)
      : wave(std::move(source)), clock(StartUtc, 3756.0), doc(wave, clock, dialog), service(mode, 0.0),
        rec(recorder), with(with_service) {
    CaptureStamps st;
    st.first_ns = (StartUtc * 1000000000LL) - static_cast<int64_t>(AheadS * 1e9);
    st.samples_per_second = card_rate;
    st.latency_s = 0.020;
    st.jitter_s = 0.002;
    st.seed = stamp_seed;
    wave.SetCaptureStamps(st);
    doc.StationMode = mode;
    doc.AutoSetClock = 1;
    clock.FollowBlocks(&doc.BlocksProcessed);
    if (rec != nullptr) {
      service.AddOutput(rec);
      doc.AddObserver(rec);  // first, so that it knows the buffer before the clock step writes
    }
    if (with) doc.AddObserver(&service);
    doc.StartCapture();
  }
  ~ServiceLoop() {
    doc.StopCapture();
    if (with) doc.RemoveObserver(&service);
    if (rec != nullptr) doc.RemoveObserver(rec);
  }
  void RunToTheEnd() {
    while (wave.Pump()) doc.ProcessCaptureBuffer();
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  bench::NoDialog dialog;
  CVarnolDoc doc;
  TimeService service;
  Recorder* rec;
  bool with;
};

Result RunCase(const std::string& station, int mode, double snr, double card_factor, double minutes,
               uint64_t seed) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc);
  rs.card_rate = 3756.0 * 128.0 / 60.0 * card_factor;
  rs.snr_db = snr;
  rs.seed = seed;
  rs.fade_depth = 0.5;
  rs.fade_period_s = 300.0;
  rs.duration_s = minutes * 60.0;
  Recorder rec(rs.card_rate);
  ServiceLoop(std::make_unique<SimulatedReceiver>(MakeEncoder(station), rs), rs.card_rate, mode, seed, &rec)
      .RunToTheEnd();

  Result r{};
  std::vector<double> good;
  r.wrong = SplitWrong(rec.errors, good);
  r.sent_share = static_cast<double>(rec.errors.size()) / (minutes * 60.0);
  r.med_ms = Percentile(good, 0.5) * 1e3;
  r.p95_ms = Percentile(good, 0.95) * 1e3;
  r.step_med_ms = Percentile(rec.steps, 0.5) * 1e3;
  r.step_p95_ms = Percentile(rec.steps, 0.95) * 1e3;
  r.steps = rec.steps.size();
  return r;
}

// Loud noise bursts on top of another source: `length_s` of them every `every_s` (seconds of
// audio at the nominal 8000 samples a second), as lightning crashes or a switching supply.
class Bursts : public SampleSource {
 public:
  Bursts(std::unique_ptr<SampleSource> inner, double every_s, double length_s, double sigma)
      : inner_(std::move(inner)),
        every_(static_cast<int64_t>(every_s * 8000)),
        length_(static_cast<int64_t>(length_s * 8000)),
        noise_(0.0, sigma) {}
  size_t Read(int16_t* out, size_t count) override {
    const size_t n = inner_->Read(out, count);
    for (size_t i = 0; i < n; ++i, ++pos_) {
      if (pos_ % every_ >= length_) continue;
      const double v = std::clamp(out[i] + noise_(rng_), -32768.0, 32767.0);
      out[i] = static_cast<int16_t>(v);
    }
    return n;
  }

 private:
  std::unique_ptr<SampleSource> inner_;
  int64_t every_, length_, pos_ = 0;
  std::mt19937_64 rng_{99};
  std::normal_distribution<double> noise_;
};

// A long run of one station (a day by default) with fading and noise bursts, a hard case for
// the labels: the bursts spoil single seconds and now and then a whole minute.
void RunDay(const std::string& station, int mode, double hours) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc);
  rs.snr_db = 10.0;
  rs.seed = 5;
  rs.fade_depth = 0.6;
  rs.fade_period_s = 90.0;
  rs.duration_s = hours * 3600.0;
  auto source = std::make_unique<Bursts>(std::make_unique<SimulatedReceiver>(MakeEncoder(station), rs), 97.3,
                                         0.3, 1500.0);
  Recorder rec(rs.card_rate);
  ServiceLoop(std::move(source), rs.card_rate, mode, 1, &rec).RunToTheEnd();
  int wrong_steps = 0;
  std::vector<double> good;
  const int wrong = SplitWrong(rec.errors, good);
  for (double e : rec.steps) wrong_steps += std::fabs(e) > 2.0 ? 1 : 0;
  std::printf(
      "%.1f h of %s (fading 0.6 every 90 s, 0.3 s noise bursts of sigma 1500 every 97.3 s, 10 dB): %zu of %.0f "
      "seconds sent (%.0f %%), %d with a wrong label; |error| median %.3f ms, p95 %.3f ms; clock steps %zu, "
      "%d of them more than 2 s wrong\n",
      hours, station.c_str(), rec.errors.size(), hours * 3600.0,
      static_cast<double>(rec.errors.size()) / (hours * 36.0), wrong,
      Percentile(good, 0.5) * 1e3, Percentile(good, 0.95) * 1e3, rec.steps.size(), wrong_steps);
  std::fflush(stdout);
}

// True when `name` is in the comma-separated `list` (or the list is empty).
bool Chosen(const std::string& list, const char* name) {
  if (list.empty()) return true;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find(',', pos);
    if (end == std::string::npos) end = list.size();
    if (list.compare(pos, end - pos, name) == 0) return true;
    pos = end + 1;
  }
  return false;
}

// A comma-separated list of numbers; `fallback` when it holds none.
std::vector<double> Numbers(const std::string& list, std::vector<double> fallback) {
  std::vector<double> v;
  for (size_t pos = 0; pos < list.size();) {
    size_t end = list.find(',', pos);
    if (end == std::string::npos) end = list.size();
    char* stop = nullptr;
    const std::string item = list.substr(pos, end - pos);
    const double x = std::strtod(item.c_str(), &stop);
    if (stop != item.c_str() && std::isfinite(x)) v.push_back(x);
    pos = end + 1;
  }
  return v.empty() ? fallback : v;
}

}  // namespace

int main(int argc, char** argv) {
  double minutes = 15.0;
  std::string only, day, snr_list, card_list;
  double day_hours = 24.0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) minutes = std::atof(argv[++i]);
    else if (std::strcmp(argv[i], "--stations") == 0 && i + 1 < argc) only = argv[++i];
    else if (std::strcmp(argv[i], "--day") == 0 && i + 1 < argc) day = argv[++i];
    else if (std::strcmp(argv[i], "--day-hours") == 0 && i + 1 < argc) day_hours = std::atof(argv[++i]);
    else if (std::strcmp(argv[i], "--snrs") == 0 && i + 1 < argc) snr_list = argv[++i];
    else if (std::strcmp(argv[i], "--cards") == 0 && i + 1 < argc) card_list = argv[++i];
  }
  const std::vector<double> snrs = Numbers(snr_list, {0.0, 10.0, 20.0});
  const std::vector<double> cards_off = Numbers(card_list, {0.1, -0.1});  // %
  if (!(minutes >= 5.0)) minutes = 5.0;
  struct Station {
    const char* name;
    int mode;
  };
  const Station stations[] = {{"dcf77", StationDcf77}, {"msf", StationMsf}, {"wwvb", StationWwvb},
                              {"wwv", StationWwv},     {"hbg", StationHbg}, {"vng", StationVng},
                              {"chu", StationChu}};
  std::printf("%.0f min per case, slow fading (depth 0.5, 300 s), stamps +-2 ms jitter, 20 ms latency\n", minutes);
  std::printf("%-6s %4s %6s | %6s %7s %7s %5s | %5s %9s %9s\n", "", "SNR", "card", "sent", "med ms",
              "p95 ms", "wrong", "steps", "step med", "step p95");
  int total_wrong = 0;
  size_t total_sent = 0;
  for (const Station& s : stations) {
    if (!Chosen(only, s.name)) continue;
    for (double snr : snrs) {
      for (double off : cards_off) {
        const double card = 1.0 + off / 100.0;
        const Result r = RunCase(s.name, s.mode, snr, card, minutes, 11);
        total_wrong += r.wrong;
        total_sent += static_cast<size_t>(std::llround(r.sent_share * minutes * 60.0));
        std::printf("%-6s %4.0f %+5.1f%% | %5.0f%% %7.3f %7.3f %5d | %5zu %9.1f %9.1f\n", s.name, snr,
                    (card - 1.0) * 100.0, r.sent_share * 100.0, r.med_ms, r.p95_ms, r.wrong, r.steps,
                    r.step_med_ms, r.step_p95_ms);
        std::fflush(stdout);
      }
    }
  }
  std::printf("samples sent: %zu, with a wrong second label: %d\n", total_sent, total_wrong);
  for (const Station& s : stations)
    if (Chosen(day, s.name) && !day.empty()) RunDay(s.name, s.mode, day_hours > 0 ? day_hours : 24.0);

  // CPU: one hour of audio, loop alone against loop with the service, taking turns.
  for (const Station& s : stations) {
    if (!Chosen(only, s.name)) continue;
    ReceiverSettings rs;
    rs.start_utc = static_cast<double>(StartUtc);
    rs.snr_db = 10.0;
    rs.duration_s = 3600.0;
    SimulatedReceiver rx(MakeEncoder(s.name), rs);
    std::vector<int16_t> audio(static_cast<size_t>(3600.0 * rs.card_rate) + 1);
    audio.resize(rx.Read(audio.data(), audio.size()));
    ServiceLoop a(std::make_unique<bench::MemorySource>(audio), rs.card_rate, s.mode, 1, nullptr, false);
    ServiceLoop b(std::make_unique<bench::MemorySource>(audio), rs.card_rate, s.mode, 1, nullptr, true);
    auto nothing = [] {};
    bench::TimedLoop<decltype(nothing)> loop{a.wave, a.doc, nothing}, beside{b.wave, b.doc, nothing};
    bench::TakeTurns(loop, beside);
    const double alone = loop.busy, with = beside.busy;
    std::printf("CPU per hour of %s audio: loop %.2f s, loop+service %.2f s: the service adds %.0f %%\n", s.name,
                alone, with, (with - alone) / alone * 100.0);
  }
  return 0;
}
