// SPDX-License-Identifier: GPL-3.0-or-later
// varnol-decode: the clock's processing loop without a window. Audio comes from a recording,
// the sound card or the simulated receiver; every status text, clock write and change of the
// clock offset is printed as it happens, as plain lines or as JSON objects.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/varnol_doc.h"
#include "conditioning/conditioning.h"
#include "capture/portaudio_wave_input.h"
#include "capture/recording_source.h"
#include "capture/source_wave_input.h"
#include "platform/atomic_file.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "tools/cli_common.h"
#include "tools/diagnostics_cli.h"
#include "tools/receiver_options.h"
#include "tools/refclock_cli.h"
#include "tracking/lock_guard.h"
#include "tracking/lock_labels.h"

namespace {

constexpr int ExitDone = 0;
constexpr int ExitUsage = 2;
constexpr int ExitInput = 3;
constexpr int ExitSnapshot = 4;
constexpr int ExitChart = 4;  // the --chart file cannot be written (as the snapshot)

std::atomic<bool> g_interrupted{false};
void OnSignal(int) { g_interrupted.store(true); }


const char* const kUsage =
    "Usage: varnol-decode [options]\n"
    "Decodes a time station's signal with the radio clock's own processing loop.\n"
    "\n"
    "Input (one of):\n"
    "  --simulate              the built-in simulated receiver (default)\n"
    "  --input FILE            a recording (WAV, FLAC, ...; any sample rate)\n"
    "  --device [NAME]         the sound card (default input, or one whose name contains NAME,\n"
    "                          e.g. --device=hw:1 for ALSA's card 1; see --list-devices)\n"
    "  --list-devices          list the input devices and exit\n"
    "  --channel SIDE          left, right or mix: the side of a stereo recording or sound card\n"
    "                          the receiver is on (default left)\n"
    "\n"
    "Options:\n"
    "  --station NAME          msf, hbg, dcf77, wwvb, vng, rwm, wwv, wwvh, jjy or chu (jjy40 and\n"
    "                          jjy60 name JJY's two transmitters) (default dcf77)\n"
    "  --start TIME            simulated broadcast's first minute, ISO 8601 UTC (default: now)\n"
    "  --minutes N             minutes of simulated signal (default 3), of live capture, or the\n"
    "                          first N minutes of a recording (default: all of it); the sound\n"
    "                          card, and with --refclock --realtime the simulated receiver, run\n"
    "                          until stopped unless it is given\n"
    "  --snr DB                simulated receiver's signal-to-noise ratio in dB over 0..4 kHz (default 3)\n"
    "  --amplitude A           simulated tone's peak in sample units (default 600)\n"
    "  --fade DEPTH            simulated slow fading, 0..0.95 (default 0)\n"
    "  --seed N                simulated noise seed (default 1)\n"
    "  --card-blocks-per-minute N  simulated sound card's true rate (default 3756)\n"
    "  --clock TIME            simulated PC clock at the first sample, ISO 8601 UTC (seconds may\n"
    "                          carry a fraction: 2023-06-25T20:27:58.22Z)\n"
    "                          (default: --start when simulating, else the current time)\n"
    "  --offset HOURS          PC clock offset from UT, -13..13 (default 0)\n"
    "  --blocks-per-minute N   soundcard calibration, 3700..3800 (default: a recording's own rate,\n"
    "                          3750; the sound card's rate measured against the system clock once\n"
    "                          it is good, within the first minute; 3756 until then and when\n"
    "                          simulating)\n"
    "  --tone HZ|auto|off      where the receiver puts the station's tone: auto finds the\n"
    "                          strongest tone in 300..3000 Hz keyed once a second (a recording's\n"
    "                          first 20 s, or the next 20 s up to 2 minutes while a fade hides\n"
    "                          it; the sound card's first 10 s) and moves it to the\n"
    "                          1000 Hz the clock measures; HZ moves that frequency, up to a\n"
    "                          long-wave carrier in a recording sampled at 96..384 kHz, or from\n"
    "                          a sound card fed by the antenna, which is then opened at 96000,\n"
    "                          192000 or 384000 samples a second (--tone 77500); off leaves the\n"
    "                          audio as it is. WWV/WWVH audio is\n"
    "                          never moved. (default: auto for a recording or the sound card,\n"
    "                          off for the simulated receiver)\n"
    "  --adjust-calibration    let the measured minute nudge the calibration\n"
    "  --set-clock             really write the system clock (only with --device); the robust\n"
    "                          lock then guards every write, and for the stations it reads no\n"
    "                          write is made before it has the time (--wait-for-lock)\n"
    "  --robust-lock           run the robust lock beside the decoder: \"lock\" events with\n"
    "                          --json, no clock write that contradicts a confident lock, and\n"
    "                          RWM's minute snap only where the lock's minute phase agrees\n"
    "                          (always on with --set-clock); with --refclock it labels the\n"
    "                          seconds served\n"
    "  --wait-for-lock         with the robust lock, hold back every clock write until it has the\n"
    "                          time (implies --robust-lock; always on with --set-clock)\n"
    "  --snapshot FILE         at the end, write the last quarter second of audio to FILE (WAV)\n"
    "  --json                  one JSON object per line\n"
    "  --verbose               let the audio libraries (ALSA, JACK) print their own messages\n"
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "An option's value may follow it as the next word or after '=': --device=hw:1.\n"
    "\n"
    "The options from --start to --card-blocks-per-minute shape the simulated receiver and are\n"
    "refused with --input or --device.\n"
    "\n"
    "Exit codes: 0 done; 2 usage error; 3 the input cannot be opened or read to its end (no\n"
    "sound device, a damaged or cut-short recording, a sound device lost during the capture);\n"
    "4 the snapshot or the chart could not be written (its folder is missing or read-only, or\n"
    "the name is a folder, a socket or a block device). A FIFO or a character device given for\n"
    "--snapshot or --chart (/dev/stdout, /dev/null) is written through, never replaced.\n"
    "SIGINT, SIGTERM and SIGHUP end the run as its end does (summary, snapshot, chart);\n"
    "SIGUSR1 and SIGUSR2 are ignored.\n";

// The simulated receiver's tone: --tone belongs to the decoding side.
const char* const kReceiverTone = "--receiver-tone";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "varnol-decode: %s\n(see varnol-decode --help)\n", message.c_str());
  return ExitUsage;
}

// Prints what the document does, stamped with seconds of audio at 8000 samples per second.
class EventPrinter : public DocObserver {
 public:
  EventPrinter(const CVarnolDoc& doc, bool json, bool real_clock, bool set_clock)
      : doc_(doc), json_(json), real_clock_(real_clock), set_clock_(set_clock) {}

  void OnStatusText(const char* text) override {
    if (json_)
      std::printf("{\"t\": %.3f, \"event\": \"status\", \"text\": %s}\n", T(), JsonString(text).c_str());
    else
      std::printf("%10.3f  status  %s\n", T(), text);
    std::fflush(stdout);
  }

  void OnClockWrite(const SYSTEMTIME& st, bool ok) override {
    // A write the robust lock contradicts was not made: said as such, with both times; and one
    // held back until the lock has the time, with the time it would have written.
    double written_utc = 0.0, locked_utc = 0.0;
    if (!ok && guard != nullptr && guard->TakeHeldBack(&written_utc)) {
      const std::string written = FormatIsoUtc(st);
      std::fprintf(stderr, "varnol-decode: clock write of %s held back: the robust lock has no time yet\n",
                   written.c_str());
      if (json_)
        std::printf("{\"t\": %.3f, \"event\": \"refused\", \"utc\": \"%s\", \"lock_utc\": null}\n", T(),
                    written.c_str());
      else
        std::printf("%10.3f  clock   %s  (held back: the robust lock has no time yet)\n", T(), written.c_str());
      std::fflush(stdout);
      return;
    }
    if (!ok && guard != nullptr && guard->TakeRefusal(&written_utc, &locked_utc)) {
      const std::string written = FormatIsoUtc(st);
      // NaN: RWM's minute mark before the lock has the minute's phase
      const bool known = std::isfinite(locked_utc);
      const std::string locked =
          known ? FormatIsoUtc(SystemTimeFromUnix(static_cast<int64_t>(std::floor(locked_utc)),
                                                  static_cast<int>((locked_utc - std::floor(locked_utc)) * 1000.0)))
                : "no minute phase yet";
      std::fprintf(stderr, "varnol-decode: clock write of %s refused: the robust lock has %s\n",
                   written.c_str(), locked.c_str());
      if (json_)
        std::printf("{\"t\": %.3f, \"event\": \"refused\", \"utc\": \"%s\", \"lock_utc\": %s}\n", T(),
                    written.c_str(), known ? JsonString(locked).c_str() : "null");
      else
        std::printf("%10.3f  clock   %s  (refused: the robust lock has %s)\n", T(), written.c_str(),
                    locked.c_str());
      std::fflush(stdout);
      return;
    }
    // Only a successful write of the machine's own clock counts as written.
    const bool written = real_clock_ && set_clock_ && ok;
    if (json_) {
      std::printf("{\"t\": %.3f, \"event\": \"clock\", \"utc\": \"%s\", \"written\": %s}\n", T(),
                  FormatIsoUtc(st).c_str(), written ? "true" : "false");
    } else {
      const char* how = !ok                        ? "write refused (no right to set the clock?)"
                        : !real_clock_             ? "simulated clock"
                        : set_clock_               ? "written"
                                                   : "dry run";
      std::printf("%10.3f  clock   %s  (%s)\n", T(), FormatIsoUtc(st).c_str(), how);
    }
    std::fflush(stdout);
  }

  void OnSnapshot(SnapshotOutcome outcome, const char*, int error) override {
    snapshot = outcome;
    snapshot_error = error;
  }
  SnapshotOutcome snapshot = SnapshotOutcome::NotAsked;
  int snapshot_error = 0;
  GuardedClock* guard = nullptr;

  // What the conditioning decided: `event` is "tone", "gain" or "calibration"; `fields` more JSON
  // members, each with its leading comma.
  void Note(const char* event, const std::string& text, const std::string& fields = "") {
    const std::string label = std::string(event) == "calibration" ? "rate" : event;
    if (json_)
      std::printf("{\"t\": %.3f, \"event\": \"%s\"%s, \"text\": %s}\n", T(), event, fields.c_str(),
                  JsonString(text).c_str());
    else
      std::printf("%10.3f  %-7s %s\n", T(), label.c_str(), text.c_str());
    std::fflush(stdout);
  }

  // CHU's format B (second 31): the year and the announcements, whenever they change.
  void OnUpdate(int hint) override {
    if (hint != UPDATE_HINT_NEW_BUFFER || doc_.ChuYearFrames == 0) return;
    const ChuYear& y = doc_.ChuYearInfo;
    if (chu_year_seen_ && y.year == chu_year_.year && y.dut1_tenths == chu_year_.dut1_tenths &&
        y.tai_minus_utc == chu_year_.tai_minus_utc && y.leap_warning == chu_year_.leap_warning &&
        y.daylight == chu_year_.daylight)
      return;
    chu_year_seen_ = true;
    chu_year_ = y;
    if (json_)
      std::printf("{\"t\": %.3f, \"event\": \"chu_year\", \"year\": %d, \"dut1\": %.1f, \"tai_utc\": %d, "
                  "\"leap_warning\": %s, \"daylight\": %d}\n",
                  T(), y.year, y.dut1_tenths / 10.0, y.tai_minus_utc, y.leap_warning ? "true" : "false", y.daylight);
    else
      std::printf("%10.3f  chu     year %d, DUT1 %+.1f s, TAI-UTC %d s%s, daylight indicator %02d\n", T(), y.year,
                  y.dut1_tenths / 10.0, y.tai_minus_utc, y.leap_warning ? ", leap second at the end of the month" : "",
                  y.daylight);
    std::fflush(stdout);
  }

  void OnSyncOffset(int64_t seconds) override {
    if (json_)
      std::printf("{\"t\": %.3f, \"event\": \"sync\", \"seconds\": %lld}\n", T(),
                  static_cast<long long>(seconds));
    else
      std::printf("%10.3f  sync    %+lld s\n", T(), static_cast<long long>(seconds));
    std::fflush(stdout);
  }

  // With --json, JJY's fields besides the time of day, with each minute the clock step accepts:
  // the JST minute that carried them, the day of the year, year and weekday as read (no check
  // bit guards them), the leap second announced for the month's end, and whether the call sign
  // was heard (minutes 15 and 45, which send no year, weekday or leap bits).
  void OnMinuteAccepted(int, int, int64_t) override {
    if (!json_ || doc_.StationMode != StationJjy) return;
    const JjyMinuteInfo& j = doc_.JjyInfo;
    const char* leap = j.Year < 0            ? "null"
                       : j.LeapSecond == 1   ? "\"insert\""
                       : j.LeapSecond == 2   ? "\"delete\""
                                             : "\"none\"";
    const auto number = [](int v) { return v < 0 ? std::string("null") : std::to_string(v); };
    std::printf(
        "{\"t\": %.3f, \"event\": \"jjy\", \"sent_jst\": \"%02d:%02d\", \"day_of_year\": %d, "
        "\"year\": %s, \"weekday\": %s, \"leap\": %s, \"call_sign\": %s}\n",
        T(), j.CodeHour, j.CodeMinute, j.DayOfYear, number(j.Year).c_str(), number(j.Weekday).c_str(),
        leap, j.CallSign == 1 ? "true" : "false");
    std::fflush(stdout);
  }

 private:
  double T() const { return static_cast<double>(doc_.BlocksProcessed) * BlockSize / 8000.0; }
  const CVarnolDoc& doc_;
  bool json_, real_clock_, set_clock_;
  bool chu_year_seen_ = false;
  ChuYear chu_year_;
};

// With --json, a "lock" event at each change of the robust lock: its state, the minute its
// leading candidate names and the margin (nats) by which it leads.
class LockPrinter : public DocObserver {
 public:
  LockPrinter(const CVarnolDoc& doc, RobustLock& lock, bool json) : doc_(doc), lock_(lock), json_(json) {}
  void OnCaptureBuffer(const int16_t*, int, int64_t, int64_t) override {
    if (!lock_.TakeChange() || !json_) return;
    const LockStatus s = lock_.Status();
    std::string utc = "null";
    if (s.minute_utc != 0) utc = JsonString(FormatIsoUtc(SystemTimeFromUnix(s.minute_utc)));
    std::printf(
        "{\"t\": %.3f, \"event\": \"lock\", \"state\": \"%s\", \"utc\": %s, \"margin\": %.1f, "
        "\"minutes\": %d}\n",
        static_cast<double>(doc_.BlocksProcessed) * BlockSize / 8000.0, LockStateName(s.state), utc.c_str(),
        s.margin, s.minutes);
    std::fflush(stdout);
  }

 private:
  const CVarnolDoc& doc_;
  RobustLock& lock_;
  bool json_;
};

// The wave-error message of a failed start, on standard error.
class StderrWaveErrors : public WaveErrorDialog {
 public:
  void ShowModal(const std::string& operation, const std::string& reason) override {
    if (one_line) {
      // A daemon retrying the sound card: one journal line, and the same one only once.
      const std::string line = operation + " " + reason;
      if (line != last) std::fprintf(stderr, "varnol-decode: sound card: %s\n", line.c_str());
      last = line;
    } else {
      std::fprintf(stderr, "%s\n%s\n", operation.c_str(), reason.c_str());
    }
    shown = true;
  }
  bool shown = false;
  bool one_line = false;
  std::string last;
};

// The machine's clock, read for real; a write is only reported unless writing is allowed.
class DryRunClock : public RealSystemClock {
 public:
  bool SetSystemTime(const SYSTEMTIME&) override { return true; }
};

struct Options {
  enum class Input { Simulate, File, Device } input = Input::Simulate;
  std::string file;
  std::string device;
  int station = StationDcf77;
  std::string station_name = "dcf77";  // as given: wwvh simulates Hawaii in WWV's mode
  std::optional<int64_t> start;
  std::optional<int64_t> clock_ms;  // the simulated PC clock at the first sample, ms since 1970
  double minutes = -1;
  double snr = ReceiverSettings{}.snr_db;
  double amplitude = 600.0;
  double fade = 0.0;
  uint64_t seed = 1;
  double card_bpm = 3756.0;
  double offset = 0.0;
  int bpm = DefaultBlocksPerMinute;
  bool bpm_given = false;
  std::optional<ToneSetting> tone;  // as given
  bool adjust = false;
  bool set_clock = false;
  bool robust_lock = false;  // the robust lock beside the loop; always when the real clock is set
  bool wait_for_lock = false;  // no clock write before the lock has the time; likewise
  bool json = false;
  bool verbose = false;
  bool list_devices = false;
  ChannelChoice channel = ChannelChoice::Left;
  std::string snapshot;
  std::vector<std::string> simulation_options;  // given, in order: only for --simulate
  ReceiverSettings receiver;                    // the simulated receiver's models
  ReceiverModelChoice receiver_choice;
  bool amplitude_given = false;
  DiagnosticsOptions diag;
};

std::string FormatDb(double db, const char* format = "%+.1f") {
  char b[32];
  std::snprintf(b, sizeof b, format, db);
  return b;
}

std::string ToneFields(const ToneDecision& d) {
  char b[160];
  if (d.shifted)
    std::snprintf(b, sizeof b, ", \"found_hz\": %.1f, \"shift_hz\": %.1f", d.from_hz, d.ShiftHz());
  else if (d.found.found)
    std::snprintf(b, sizeof b, ", \"found_hz\": %.1f, \"shift_hz\": 0.0", d.found.hz);
  else
    std::snprintf(b, sizeof b, ", \"found_hz\": null, \"shift_hz\": 0.0");
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  RefclockOptions ro;
  int inputs = 0;
  CommandLine line(argc, argv);
  argc = line.Count();
  argv = line.Argv();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (line.Attached(i)) return UsageError(line.StrayValue(i));
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::printf("\nSimulated receiver's models (--simulate only; each off unless given):\n%s",
                  ReceiverModelUsage(kReceiverTone).c_str());
      std::printf("\nDiagnostics:\n%s\n%s", DiagnosticsUsage,
                  DiagnosticsJsonKeys);
      std::fputs(kRefclockUsage, stdout);
      return ExitDone;
    } else if (a == "--version") {
      std::printf("varnol-decode %s\n", VARNOL_VERSION);
      return ExitDone;
    } else if (a == "--list-devices") {
      o.list_devices = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--channel") {
      if (!value(v)) return UsageError("--channel needs left, right or mix");
      const auto c = ChannelFromName(v);
      if (!c) return UsageError("unknown channel '" + v + "' (left, right or mix)");
      o.channel = *c;
    } else if (a == "--snapshot") {
      if (!value(o.snapshot) || o.snapshot.empty()) return UsageError("--snapshot needs a file name");
    } else if (a == "--simulate") {
      o.input = Options::Input::Simulate;
      ++inputs;
    } else if (a == "--input") {
      if (!value(o.file)) return UsageError("--input needs a file name");
      o.input = Options::Input::File;
      ++inputs;
    } else if (a == "--device") {
      const bool again = o.input == Options::Input::Device;
      const std::string before = o.device;
      o.input = Options::Input::Device;
      ++inputs;
      // The name is optional: the next word is taken unless it is another option, and a name
      // given as --device=NAME is always taken (empty: the default input).
      if (i + 1 < argc && (line.Attached(i + 1) || std::strncmp(argv[i + 1], "--", 2) != 0))
        o.device = argv[++i];
      else
        o.device.clear();
      // Two sound cards cannot both be read; the service gives its card once, from VARNOL_DEVICE.
      if (again)
        return UsageError("--device is given twice ('" + before + "' and '" + o.device +
                          "'): name one sound card (for the service: VARNOL_DEVICE, not VARNOL_OPTS)");
    } else if (a == "--station") {
      if (!value(v)) return UsageError("--station needs a name");
      const auto s = StationFromName(v);
      if (!s) return UsageError("unknown station '" + v + "' (" + StationNameList() + ")");
      o.station = *s;
      o.station_name = v;
    } else if (a == "--start") {
      if (!value(v)) return UsageError(a + " needs a time");
      const auto t = ParseIsoUtc(v);
      if (!t) return UsageError("cannot read the time '" + v + "' (use e.g. 2026-12-07T13:05:00Z)");
      o.start = *t;
      o.simulation_options.push_back(a);
    } else if (a == "--clock") {
      // A recording's first sample rarely falls on a whole second: the fraction is kept.
      if (!value(v)) return UsageError(a + " needs a time");
      const auto t = ParseIsoUtcMilliseconds(v);
      if (!t)
        return UsageError("cannot read the time '" + v +
                          "' (use e.g. 2026-12-07T13:05:00Z or 2026-12-07T13:04:58.22Z)");
      o.clock_ms = *t;
    } else if (a == "--minutes" || a == "--snr" || a == "--amplitude" || a == "--fade" || a == "--offset" ||
               a == "--card-blocks-per-minute") {
      if (!value(v)) return UsageError(a + " needs a number");
      const auto d = ParseDouble(v);
      if (!d) return UsageError("cannot read the number '" + v + "' for " + a + " (decimal, e.g. 2.5)");
      if (a != "--minutes" && a != "--offset") o.simulation_options.push_back(a);
      if (a == "--minutes") {
        if (*d <= 0 || *d > 100000) return UsageError("--minutes must be above 0 and at most 100000");
        o.minutes = *d;
      } else if (a == "--snr") {
        o.snr = *d;
      } else if (a == "--amplitude") {
        if (*d < 0 || *d > 32767) return UsageError("--amplitude must lie within 0..32767");
        o.amplitude = *d;
        o.amplitude_given = true;
      } else if (a == "--fade") {
        if (*d < 0 || *d > 0.95) return UsageError("--fade must lie within 0..0.95");
        o.fade = *d;
      } else if (a == "--offset") {
        if (*d < -13 || *d > 13) return UsageError("--offset must lie within -13..13 hours");
        o.offset = *d;
      } else {
        if (*d < 3000 || *d > 4500) return UsageError("--card-blocks-per-minute must lie within 3000..4500");
        o.card_bpm = *d;
      }
    } else if (a == "--blocks-per-minute" || a == "--seed") {
      if (!value(v)) return UsageError(a + " needs a whole number");
      const auto n = ParseLong(v);
      if (!n) return UsageError("cannot read the whole number '" + v + "' for " + a + " (decimal digits)");
      if (a == "--seed") {
        o.simulation_options.push_back(a);
        o.seed = static_cast<uint64_t>(*n);
      } else {
        if (*n < MinBlocksPerMinute || *n > MaxBlocksPerMinute)
          return UsageError("--blocks-per-minute must lie within 3700..3800");
        o.bpm = static_cast<int>(*n);
        o.bpm_given = true;
      }
    } else if (a == "--tone") {
      if (!value(v)) return UsageError("--tone needs a frequency in Hz, auto or off");
      o.tone = ParseToneSetting(v);
      if (!o.tone) return UsageError("--tone takes auto, off or a frequency within 100..190000 Hz, not '" + v + "'");
    } else if (a == "--adjust-calibration") {
      o.adjust = true;
    } else if (a == "--set-clock") {
      o.set_clock = true;
    } else if (a == "--robust-lock") {
      o.robust_lock = true;
    } else if (a == "--wait-for-lock") {
      o.robust_lock = o.wait_for_lock = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (std::string model_error;
               ParseReceiverModelOption(a, i + 1 < argc ? argv[i + 1] : "", kReceiverTone, o.receiver,
                                        o.receiver_choice, model_error)) {
      // The simulated receiver's models (its tone under its own name: --tone is the decoder's).
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      ++i;
      if (!model_error.empty()) return UsageError(model_error);
      o.simulation_options.push_back(a);
    } else if (std::string diag_error; ParseDiagnosticsOption(argc, argv, i, o.diag, diag_error)) {
      if (!diag_error.empty()) return UsageError(diag_error);
    } else if (std::string error; int taken = ParseRefclockOption(argc, argv, i, ro, error)) {
      if (taken < 0) return UsageError(error);
    } else {
      return UsageError("unknown option '" + a + "'");
    }
  }
  // Quiet before PortAudio first looks at the devices.
  PortAudioWaveInput::QuietAudioLibraries(o.verbose);
  if (o.list_devices) {
    bool ok = false;
    const std::string names = PortAudioWaveInput::ListInputDevices(ok);
    if (!ok) {
      std::fprintf(stderr, "varnol-decode: cannot look for sound devices: %s\n", names.c_str());
      return ExitInput;
    }
    if (names.empty())
      std::fputs("varnol-decode: no input devices\n", stderr);
    else
      std::fputs(names.c_str(), stdout);
    return ExitDone;
  }
  if (inputs > 1) return UsageError("choose one input: --simulate, --input or --device");
  if (o.receiver_choice.level_given && o.amplitude_given)
    return UsageError("give --level or --amplitude, not both");
  if (const std::string why = ReceiverModelProblem(o.receiver, kReceiverTone); !why.empty())
    return UsageError(why);
  if (o.input != Options::Input::Simulate && !o.simulation_options.empty())
    return UsageError(o.simulation_options.front() + " shapes the simulated receiver; it cannot go with " +
                      (o.input == Options::Input::File ? "--input" : "--device"));
  if (o.clock_ms && o.input == Options::Input::Device)
    return UsageError("--clock cannot go with --device: the sound card runs against the real clock");
  if (o.set_clock && o.input != Options::Input::Device)
    return UsageError("--set-clock goes with --device only");
  if (ro.Serving() && o.input == Options::Input::File)
    return UsageError(
        "--refclock cannot go with --input: a recording is not a clock (its time of day is when "
        "it was made, not now); serve the sound card, or try it out with --simulate");
  // No output replaces the recording being decoded (another name for it is caught too).
  for (const auto& [option, path] : {std::pair<const char*, const std::string&>{"--snapshot", o.snapshot},
                                     std::pair<const char*, const std::string&>{"--chart", o.diag.chart}}) {
    if (o.input == Options::Input::File && !path.empty() && SameExistingFile(path, o.file))
      return UsageError(std::string(option) + " " + path + " would replace the recording being decoded");
  }
  if (!o.snapshot.empty() && !o.diag.chart.empty() && ClassifyOutput(o.snapshot) == OutputKind::Replace &&
      (o.snapshot == o.diag.chart || SameExistingFile(o.snapshot, o.diag.chart)))
    return UsageError("--snapshot and --chart name the same file '" + o.snapshot + "'");
  if (std::string chart_error; !o.diag.chart.empty() && !ChartPathUsable(o.diag.chart, chart_error)) {
    std::fprintf(stderr, "varnol-decode: cannot write the chart '%s': %s\n", o.diag.chart.c_str(),
                 chart_error.c_str());
    return ExitChart;
  }
  if (ro.realtime && o.input == Options::Input::Device)
    return UsageError("--realtime is for a recording or the simulated receiver; the sound card is real time");
  if (ro.realtime && o.start) return UsageError("--realtime follows the system clock: leave out --start");
  if (ro.broadcast_ahead_ms != 0 && o.input != Options::Input::Simulate)
    return UsageError("--broadcast-ahead goes with the simulated receiver only");
  if (!StationSupported(o.station))
    return UsageError(std::string("station ") + StationName(o.station) + " is not supported yet");
  if (const std::string why = o.snapshot.empty() ? "" : OutputFileProblem(o.snapshot); !why.empty()) {
    std::fprintf(stderr, "varnol-decode: cannot write the snapshot '%s': %s\n", o.snapshot.c_str(),
                 why.c_str());
    return ExitSnapshot;
  }
  // SIGINT, SIGTERM and SIGHUP (a closed terminal or session) end the run as its end does:
  // capture stopped, summary printed, snapshot and chart written.
  CatchEndingSignals(OnSignal);

  // Conditioning: a real receiver's tone, level and rate made into what the front end expects.
  // The simulated receiver is the ideal one: conditioned only when asked.
  const bool real_input = o.input != Options::Input::Simulate;
  const ToneSetting tone = o.tone.value_or(ToneSetting{real_input ? ToneSetting::Mode::Auto : ToneSetting::Mode::Off});
  if (real_input && !o.diag.gain) o.diag.gain = GainSetting{true, 0.0};
  RecordingLookAhead look;
  std::optional<ToneShift> file_shift;  // outlives the recording that runs it
  const bool look_ahead = o.input == Options::Input::File && CanLookAhead(o.file);
  if (look_ahead) {
    std::string error;
    const bool want_gain = o.diag.gain && o.diag.gain->automatic;
    switch (LookAheadRecording(o.file, o.channel, o.station, tone, want_gain, look, error)) {
      case LookAheadOutcome::Done: break;
      case LookAheadOutcome::CannotRead:
        std::fprintf(stderr, "varnol-decode: cannot read '%s': %s\n", o.file.c_str(), error.c_str());
        return ExitInput;
      case LookAheadOutcome::ToneOutOfReach: return UsageError("--tone: " + error);
    }
    if (look.tone.shifted) file_shift.emplace(look.file_rate, look.tone.from_hz, FrontEndToneHz);
    if (want_gain && look.gain_db) o.diag.gain->db = *look.gain_db;
  }
  std::unique_ptr<LiveToneStage> live_tone;
  // A carrier above what 8000 samples a second can carry (a long-wave carrier taken from the
  // antenna): the sound card is read at a high rate and the tone moved there, and a FIFO's
  // recording is moved at its own rate, as a file's is.
  const bool carrier = tone.mode == ToneSetting::Mode::Fixed && !ToneShift::Fits(8000.0, tone.hz, FrontEndToneHz);
  std::optional<ToneShift> card_shift;  // outlives the sound card that runs it
  ToneDecision carrier_tone;
  if (o.input == Options::Input::Device || (o.input == Options::Input::Simulate && o.tone) ||
      (o.input == Options::Input::File && !look_ahead)) {
    if (carrier && o.input == Options::Input::Simulate)
      return UsageError("--tone " + std::to_string(static_cast<long>(tone.hz)) +
                        ": the simulated receiver gives 8000 samples a second, where a tone at or above 4000 Hz "
                        "cannot be moved; write the carrier at a high rate with varnol-signal and decode the recording");
    if (carrier) {
      carrier_tone = DecideTone(tone, ToneFound{}, o.station);
    } else {
      live_tone = std::make_unique<LiveToneStage>(tone, o.station);
      o.diag.tone_stage = live_tone.get();
    }
  }

  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::unique_ptr<WaveInput> wave;
  SourceWaveInput* source_wave = nullptr;
  std::unique_ptr<SystemClock> clock;
  SimulatedClock* sim_clock = nullptr;
  RecordingSource* recording = nullptr;

  if (o.input == Options::Input::Device) {
    auto card = std::make_unique<PortAudioWaveInput>(o.device, o.channel);
    if (carrier)
      card->SetHighRate([&card_shift, &tone](int rate) -> CaptureRateFilter* {
        if (!ToneShift::Fits(rate, tone.hz, FrontEndToneHz)) return nullptr;
        card_shift.emplace(rate, tone.hz, FrontEndToneHz);
        return &*card_shift;
      });
    wave = std::move(card);
    if (o.set_clock)
      clock = std::make_unique<RealSystemClock>();
    else
      clock = std::make_unique<DryRunClock>();
  } else {
    std::unique_ptr<SampleSource> source;
    int64_t clock_start_ms = now * 1000;
    // Capture stamps as a sound card's driver would give them: the system time of sample 0
    // and the card's true rate against it.
    CaptureStamps stamps;
    timespec real_now{};
    clock_gettime(CLOCK_REALTIME, &real_now);
    const int64_t real_now_ns = static_cast<int64_t>(real_now.tv_sec) * 1000000000 + real_now.tv_nsec;
    if (o.input == Options::Input::Simulate) {
      int64_t start = o.start.value_or(now);
      start -= start % 60;  // the broadcast starts at a minute boundary
      ReceiverSettings rs;
      rs.start_utc = static_cast<double>(start);
      const int64_t ahead_ns = static_cast<int64_t>(std::llround(ro.broadcast_ahead_ms * 1e6));
      if (ro.realtime) {
        // The broadcast follows the machine's clock, `ahead` in front of it.
        rs.start_utc = static_cast<double>(real_now_ns + ahead_ns) * 1e-9;
        stamps.first_ns = real_now_ns;
      } else {
        stamps.first_ns = o.clock_ms.value_or(start * 1000) * 1000000 - ahead_ns;
      }
      stamps.samples_per_second = o.card_bpm * 128.0 / 60.0;
      rs.card_rate = o.card_bpm * 128.0 / 60.0;
      rs.amplitude = o.receiver_choice.level_given ? o.receiver.amplitude : o.amplitude;
      rs.tone_hz = o.receiver.tone_hz;
      rs.agc_release_s = o.receiver.agc_release_s;
      rs.filter_hz = o.receiver.filter_hz;
      rs.fade_period_s = o.receiver.fade_period_s;
      rs.static_per_minute = o.receiver.static_per_minute;
      rs.carrier_edges = o.receiver.carrier_edges;
      rs.snr_db = o.snr;
      rs.seed = o.seed;
      rs.fade_depth = o.fade;
      // Three minutes unless told otherwise; a reference clock paced like a sound card runs
      // until it is stopped, as one on the sound card does (its first sample reaches the time
      // daemon only after four to five minutes).
      const bool endless = ro.Serving() && ro.realtime;
      rs.duration_s = o.minutes > 0 ? o.minutes * 60.0 : endless ? -1.0 : 180.0;
      auto encoder = MakeEncoder(o.station_name);
      if (!encoder) return UsageError("no simulated signal for station " + o.station_name + " yet");
      source = std::make_unique<SimulatedReceiver>(std::move(encoder), rs);
      clock_start_ms =
          o.clock_ms.value_or((ro.realtime ? static_cast<int64_t>(real_now.tv_sec) : start) * 1000);
    } else {
      std::string error;
      // A FIFO with nothing written into it yet: say so, and let a signal end the wait.
      const RecordingSource::WriterWait wait{
          [&o] {
            std::fprintf(stderr, "varnol-decode: waiting for a program to write into '%s' (Ctrl-C ends)\n",
                         o.file.c_str());
          },
          [] { return g_interrupted.load(); }};
      auto file = RecordingSource::Open(o.file, error, o.channel, &wait);
      if (!file) {
        std::fprintf(stderr, "varnol-decode: cannot read '%s': %s\n", o.file.c_str(), error.c_str());
        return ExitInput;
      }
      recording = file.get();
      if (carrier) {
        if (!ToneShift::Fits(file->FileRate(), tone.hz, FrontEndToneHz)) {
          char why[200];
          std::snprintf(why, sizeof why,
                        "--tone %.0f: a tone there cannot be moved in a recording of %d samples a second (it "
                        "must lie below %.0f Hz)",
                        tone.hz, file->FileRate(), file->FileRate() / 2.0);
          return UsageError(why);
        }
        file_shift.emplace(file->FileRate(), tone.hz, FrontEndToneHz);
        carrier_tone.half_width_hz = ToneShift::HalfWidthFor(file->FileRate(), tone.hz);
        look.tone = carrier_tone;
      }
      if (file_shift) file->SetRateFilter(&*file_shift);
      source = std::move(file);
      clock_start_ms = o.clock_ms.value_or(now * 1000);
      // A recording resampled to 8000 samples a second of its own time.
      stamps.first_ns = ro.realtime ? real_now_ns : clock_start_ms * 1000000;
      stamps.samples_per_second = 8000.0;
    }
    auto sw = std::make_unique<SourceWaveInput>(
        std::move(source), ro.realtime ? SourceWaveInput::Pacing::RealTime : SourceWaveInput::Pacing::Manual);
    sw->SetCaptureStamps(stamps);
    source_wave = sw.get();
    wave = std::move(sw);
    // The simulated PC clock keeps the audio's own time: a recording's 8000 samples are a second.
    auto sc = std::make_unique<SimulatedClock>(0, recording != nullptr ? RecordingBlocksPerMinute : 3756.0);
    sc->StartAtMilliseconds(clock_start_ms);
    sim_clock = sc.get();
    clock = std::move(sc);
  }

  StderrWaveErrors errors;
  // The robust lock beside the loop; its guard stands between the clock step and the clock.
  LockObserver lock(o.station);
  GuardedClock guarded(*clock, lock, nullptr);
  CVarnolDoc doc(*wave, guarded, errors);
  guarded.SetOffset(&doc.PcClockOffset);
  doc.StationMode = o.station;
  doc.PcClockOffset = o.offset;
  doc.BuildUtOffsetLabel();
  doc.BlocksPerMinute = o.bpm;
  // A recording resampled to 8000 Hz runs at exactly 3750 blocks a minute of its own time.
  if (o.input == Options::Input::File && !o.bpm_given)
    doc.BlocksPerMinute = static_cast<int>(RecordingBlocksPerMinute);
  doc.AdjustCalibration = o.adjust ? 1 : 0;
  doc.AutoSetClock = 1;  // show the clock step the program would take
  doc.SnapshotPath = o.snapshot;  // only when asked: never a file the user did not name
  doc.SnapshotWaitsForReader = true;  // a FIFO's reader may come late; a signal ends the wait
  if (o.input == Options::Input::File) doc.ProtectFromSnapshot(o.file);
  if (sim_clock != nullptr) sim_clock->FollowBlocks(&doc.BlocksProcessed);

  EventPrinter printer(doc, o.json, o.input == Options::Input::Device, o.set_clock);
  doc.AddObserver(&printer);
  printer.guard = &guarded;
  LockPrinter lock_printer(doc, lock.Lock(), o.json);
  // The lock costs about 40 % of the loop's time: run where a wrong write would reach the machine's
  // clock, or when asked.
  const bool lock_runs = lock.Lock().Supported() && (o.set_clock || o.robust_lock);
  LockLabels lock_labels(lock.Lock());
  if (lock_runs) {
    doc.AddObserver(&lock);
    doc.AddObserver(&lock_printer);
    // The machine's own clock is better left alone than set to a time nothing confirms: the
    // clock step's two consecutive minutes pass a misread time that repeats itself (a fade
    // locked to the minute misreads the same bits each minute), and the lock needs only a
    // few minutes more than the clock step at a fair signal.
    guarded.SetWaitForLock(o.set_clock || o.wait_for_lock);
  }
  DiagnosticsRun diagnostics(doc, o.diag, o.json);
  if (o.input == Options::Input::File) {
    printer.Note("tone", look.tone.text, ToneFields(look.tone));
    diagnostics.SetTone(look.tone);
    if (look.gain_db)
      printer.Note("gain",
                   look.gain_db == 0.0 ? "the first seconds' level lies in the clock's range; automatic gain from 0 dB"
                                       : "set from the first seconds' level to " + FormatDb(*look.gain_db) +
                                             " dB, then automatic",
                   ", \"gain_db\": " + FormatDb(*look.gain_db, "%.1f"));
    if (!o.bpm_given)
      printer.Note("calibration", "the recording's own rate: 3750 blocks a minute",
                   ", \"blocks_per_minute\": 3750");
  }
  bool tone_told = false;
  auto tell_tone = [&] {
    if (tone_told || !live_tone || !live_tone->Decided()) return;
    tone_told = true;
    printer.Note("tone", live_tone->Decision().text, ToneFields(live_tone->Decision()));
    diagnostics.SetTone(live_tone->Decision());
  };
  // A sound card's own rate, measured against the system clock, once it is good.
  CardRateWatch card_rate;
  bool card_rate_applied = false;
  const bool measure_card = o.input == Options::Input::Device && !o.bpm_given;
  if (measure_card) doc.AddObserver(&card_rate);
  auto apply_card_rate = [&] {
    if (!measure_card || card_rate_applied) return;
    const auto bpm = card_rate.BlocksPerMinute();
    if (!bpm) return;
    card_rate_applied = true;
    doc.BlocksPerMinute = *bpm;
    char text[160];
    std::snprintf(text, sizeof text, "the sound card runs at %.1f samples a second: %d blocks a minute",
                  card_rate.Rate(), *bpm);
    printer.Note("calibration", text, ", \"blocks_per_minute\": " + std::to_string(*bpm));
  };
  std::unique_ptr<RefclockRunner> refclock;
  if (ro.Measuring()) {
    refclock = std::make_unique<RefclockRunner>(ro, o.station, o.json, &doc.BlocksProcessed);
    // Where the robust lock runs, it labels the seconds (added after it: it has seen the buffer).
    if (lock_runs) refclock->SetLabeller(&lock_labels);
    refclock->ReadLeapAnnouncements(&doc.LeapAnnounced);
    doc.AddObserver(refclock->Observer());
  }
  // A reference clock is a daemon: a missing or lost sound card is tried again, not fatal.
  const bool retry_device = ro.Serving() && o.input == Options::Input::Device;
  errors.one_line = retry_device;

  doc.StartCapture();
  if (doc.Stopped != 0 && !retry_device) {
    if (auto* card = dynamic_cast<PortAudioWaveInput*>(wave.get()); card != nullptr && !card->LastErrorText().empty())
      std::fprintf(stderr, "varnol-decode: sound card: %s\n", card->LastErrorText().c_str());
    return ExitInput;
  }

  int exit_code = ExitDone;
  auto* pa = dynamic_cast<PortAudioWaveInput*>(wave.get());
  // The carrier taken from the antenna: moved at the rate the card opened at.
  if (carrier && pa != nullptr && pa->CardRate() > 0) {
    carrier_tone.half_width_hz = ToneShift::HalfWidthFor(pa->CardRate(), tone.hz);
    ToneDecision told = carrier_tone;
    told.text += " at the sound card's " + std::to_string(pa->CardRate()) + " samples a second";
    printer.Note("tone", told.text, ToneFields(told));
    diagnostics.SetTone(told);
  }
  // A recording: all of it, or its first --minutes (whole buffers of 2048 samples at 8000 Hz).
  const int64_t limit_blocks = o.input == Options::Input::File && o.minutes > 0
                                   ? static_cast<int64_t>(o.minutes * 60.0 * 8000.0 / BlockSize)
                                   : INT64_MAX;
  if (source_wave != nullptr) {
    if (ro.realtime) {
      // The source's own thread delivers the buffers as a sound card would.
      while (!g_interrupted.load() && doc.BlocksProcessed < limit_blocks) {
        const bool ready = (doc.WaveHeaders[doc.CurrentBuffer].dwFlags.load() & WHDR_DONE) != 0;
        if (ready) {
          doc.ProcessCaptureBuffer();
          tell_tone();
          if (refclock) refclock->ReportState();
          continue;
        }
        if (source_wave->AtEnd() || doc.Stopped != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    } else {
      while (!g_interrupted.load() && doc.BlocksProcessed < limit_blocks && source_wave->Pump()) {
        doc.ProcessCaptureBuffer();
        tell_tone();
        if (refclock) refclock->ReportState();
      }
    }
    if (recording != nullptr && !g_interrupted.load() && doc.BlocksProcessed < limit_blocks) {
      const double seconds = static_cast<double>(doc.BlocksProcessed) * BlockSize / 8000.0;
      if (!recording->ReadError().empty()) {
        std::fprintf(stderr, "varnol-decode: reading '%s' failed after %.1f s of audio: %s\n", o.file.c_str(),
                     seconds, recording->ReadError().c_str());
        exit_code = ExitInput;
      } else if (recording->EndedEarly()) {
        std::fprintf(stderr,
                     "varnol-decode: '%s' ended early: the file is shorter than its header says "
                     "(%.1f s of audio decoded)\n",
                     o.file.c_str(), seconds);
        exit_code = ExitInput;
      }
    }
  } else {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<int64_t>(o.minutes > 0 ? o.minutes * 60000 : 1e12));
    auto last_progress = std::chrono::steady_clock::now();
    int64_t last_blocks = doc.BlocksProcessed;
    while (!g_interrupted.load() && std::chrono::steady_clock::now() < end) {
      if (retry_device) {
        const auto t = std::chrono::steady_clock::now();
        if (doc.Stopped == 0 && doc.BlocksProcessed == last_blocks && t - last_progress > std::chrono::seconds(10)) {
          std::fprintf(stderr, "varnol-decode: no audio for 10 s; reopening the sound card\n");
          doc.StopCapture();
        }
        if (doc.BlocksProcessed != last_blocks) last_progress = t;
        last_blocks = doc.BlocksProcessed;
        if (doc.Stopped != 0) {
          // Try again every 5 s; a stop (SIGTERM) ends the wait at once.
          for (int k = 0; k < 50 && !g_interrupted.load(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          if (g_interrupted.load()) break;
          doc.StartCapture();
          if (doc.Stopped == 0) {
            std::fprintf(stderr, "varnol-decode: sound card capturing\n");
            errors.last.clear();
            if (refclock) refclock->Restart();
            last_progress = std::chrono::steady_clock::now();
          }
          continue;
        }
      }
      doc.OnIdle(11);
      tell_tone();
      apply_card_rate();
      if (refclock) refclock->ReportState();
      if (doc.Stopped != 0 && retry_device) {
        std::fprintf(stderr, "varnol-decode: the sound device stopped taking buffers; retrying\n");
        continue;
      }
      if (doc.Stopped != 0) {
        std::fprintf(stderr, "varnol-decode: the sound device stopped taking buffers\n");
        exit_code = ExitInput;
        break;
      }
      if (pa != nullptr && pa->StreamLost()) {
        // As for any lost device: the capture stops (writing the snapshot when asked).
        doc.StopCapture();
        std::fprintf(stderr, "varnol-decode: the sound device stopped delivering audio%s%s%s\n",
                     pa->LastErrorText().empty() ? "" : ": ", pa->LastErrorText().c_str(),
                     retry_device ? "; retrying" : "");
        if (retry_device) continue;
        exit_code = ExitInput;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  doc.StopCapture();
  if (std::string chart_error; !diagnostics.Finish(chart_error)) {
    std::fprintf(stderr, "varnol-decode: cannot write the chart '%s': %s\n", o.diag.chart.c_str(),
                 chart_error.c_str());
    if (exit_code == ExitDone) exit_code = ExitChart;
  }
  if (refclock) {
    refclock->ReportState();
    std::fputs(refclock->SummaryLine(static_cast<double>(doc.BlocksProcessed) * BlockSize / 8000.0).c_str(),
               stdout);
    std::fflush(stdout);
    doc.RemoveObserver(refclock->Observer());
  }
  if (measure_card) doc.RemoveObserver(&card_rate);
  doc.RemoveObserver(&printer);
  doc.RemoveObserver(&lock_printer);
  doc.RemoveObserver(&lock);
  if (printer.snapshot == SnapshotOutcome::CannotWrite) {
    std::fprintf(stderr, "varnol-decode: cannot write the snapshot '%s': %s\n", o.snapshot.c_str(),
                 std::strerror(printer.snapshot_error));
    if (exit_code == ExitDone) exit_code = ExitSnapshot;
  } else if (printer.snapshot == SnapshotOutcome::WouldReplaceInput) {
    std::fprintf(stderr, "varnol-decode: the snapshot '%s' is the recording being decoded; left alone\n",
                 o.snapshot.c_str());
  }
  return exit_code;
}
