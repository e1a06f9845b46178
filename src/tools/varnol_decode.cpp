// varnol-decode: the clock's processing loop without a window. Audio comes from a recording,
// the sound card or the simulated receiver; every status text, clock write and change of the
// clock offset is printed as it happens, as plain lines or as JSON objects.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "app/varnol_doc.h"
#include "capture/portaudio_wave_input.h"
#include "capture/recording_source.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "tools/cli_common.h"
#include "tools/diagnostics_cli.h"

namespace {

constexpr int ExitDone = 0;
constexpr int ExitUsage = 2;
constexpr int ExitInput = 3;
constexpr int ExitChart = 4;  // the --chart file cannot be written

std::atomic<bool> g_interrupted{false};
void OnSignal(int) { g_interrupted.store(true); }

const char* const kUsage =
    "Usage: varnol-decode [options]\n"
    "Decodes a time station's signal with the radio clock's own processing loop.\n"
    "\n"
    "Input (one of):\n"
    "  --simulate              the built-in simulated receiver (default)\n"
    "  --input FILE            a recording (WAV, FLAC, ...; any sample rate)\n"
    "  --device [NAME]         the sound card (default input, or one whose name contains NAME)\n"
    "  --list-devices          list the input devices and exit\n"
    "\n"
    "Options:\n"
    "  --station NAME          msf, hbg, dcf77, wwvb, vng, rwm, wwv or wwvh\n                          (default dcf77)\n"
    "  --start TIME            simulated broadcast's first minute, ISO 8601 UTC (default: now)\n"
    "  --minutes N             minutes of simulated signal (default 3), or of live capture\n"
    "  --snr DB                simulated receiver's signal-to-noise ratio in dB over 0..4 kHz (default 3)\n"
    "  --amplitude A           simulated tone's peak in sample units (default 600)\n"
    "  --fade DEPTH            simulated slow fading, 0..0.95 (default 0)\n"
    "  --seed N                simulated noise seed (default 1)\n"
    "  --card-blocks-per-minute N  simulated sound card's true rate (default 3756)\n"
    "  --clock TIME            simulated PC clock at the first sample, ISO 8601 UTC\n"
    "                          (default: --start when simulating, else the current time)\n"
    "  --offset HOURS          PC clock offset from UT, -13..13 (default 0)\n"
    "  --blocks-per-minute N   soundcard calibration, 3700..3800 (default 3756)\n"
    "  --adjust-calibration    let the measured minute nudge the calibration\n"
    "  --set-clock             really write the system clock (only with --device)\n"
    "  --json                  one JSON object per line\n"
    "  --help                  this text\n"
    "\n"
    "Exit codes: 0 done, 2 usage error, 3 input cannot be opened or read.\n";

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

  void OnSyncOffset(int64_t seconds) override {
    if (json_)
      std::printf("{\"t\": %.3f, \"event\": \"sync\", \"seconds\": %lld}\n", T(),
                  static_cast<long long>(seconds));
    else
      std::printf("%10.3f  sync    %+lld s\n", T(), static_cast<long long>(seconds));
    std::fflush(stdout);
  }

 private:
  double T() const { return static_cast<double>(doc_.BlocksProcessed) * BlockSize / 8000.0; }
  const CVarnolDoc& doc_;
  bool json_, real_clock_, set_clock_;
};

// The wave-error message of a failed start, on standard error.
class StderrWaveErrors : public WaveErrorDialog {
 public:
  void ShowModal(const std::string& operation, const std::string& reason) override {
    std::fprintf(stderr, "%s\n%s\n", operation.c_str(), reason.c_str());
    shown = true;
  }
  bool shown = false;
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
  std::optional<int64_t> clock;
  double minutes = -1;
  double snr = ReceiverSettings{}.snr_db;
  double amplitude = 600.0;
  double fade = 0.0;
  uint64_t seed = 1;
  double card_bpm = 3756.0;
  double offset = 0.0;
  int bpm = DefaultBlocksPerMinute;
  bool adjust = false;
  bool set_clock = false;
  bool json = false;
  DiagnosticsOptions diag;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::printf("\nDiagnostics:\n%s  Exit code 4: the chart cannot be written.\n\n%s", DiagnosticsUsage,
                  DiagnosticsJsonKeys);
      return ExitDone;
    } else if (a == "--list-devices") {
      std::fputs(PortAudioWaveInput::ListInputDevices().c_str(), stdout);
      return ExitDone;
    } else if (a == "--simulate") {
      o.input = Options::Input::Simulate;
      ++inputs;
    } else if (a == "--input") {
      if (!value(o.file)) return UsageError("--input needs a file name");
      o.input = Options::Input::File;
      ++inputs;
    } else if (a == "--device") {
      o.input = Options::Input::Device;
      ++inputs;
      if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) o.device = argv[++i];
    } else if (a == "--station") {
      if (!value(v)) return UsageError("--station needs a name");
      const auto s = StationFromName(v);
      if (!s) return UsageError("unknown station '" + v + "' (msf, hbg, dcf77, wwvb, vng, rwm, wwv, wwvh)");
      o.station = *s;
      o.station_name = v;
    } else if (a == "--start" || a == "--clock") {
      if (!value(v)) return UsageError(a + " needs a time");
      const auto t = ParseIsoUtc(v);
      if (!t) return UsageError("cannot read the time '" + v + "' (use e.g. 2026-12-07T13:05:00Z)");
      (a == "--start" ? o.start : o.clock) = *t;
    } else if (a == "--minutes" || a == "--snr" || a == "--amplitude" || a == "--fade" ||
               a == "--offset" || a == "--card-blocks-per-minute") {
      if (!value(v)) return UsageError(a + " needs a number");
      const auto d = ParseDouble(v);
      if (!d) return UsageError("cannot read the number '" + v + "' for " + a);
      if (a == "--minutes") {
        if (*d <= 0 || *d > 100000) return UsageError("--minutes must be above 0");
        o.minutes = *d;
      } else if (a == "--snr") {
        o.snr = *d;
      } else if (a == "--amplitude") {
        if (*d < 0 || *d > 32767) return UsageError("--amplitude must lie within 0..32767");
        o.amplitude = *d;
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
      if (!n) return UsageError("cannot read the whole number '" + v + "' for " + a);
      if (a == "--seed") {
        o.seed = static_cast<uint64_t>(*n);
      } else {
        if (*n < MinBlocksPerMinute || *n > MaxBlocksPerMinute)
          return UsageError("--blocks-per-minute must lie within 3700..3800");
        o.bpm = static_cast<int>(*n);
      }
    } else if (a == "--adjust-calibration") {
      o.adjust = true;
    } else if (a == "--set-clock") {
      o.set_clock = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (std::string diag_error; ParseDiagnosticsOption(argc, argv, i, o.diag, diag_error)) {
      if (!diag_error.empty()) return UsageError(diag_error);
    } else {
      return UsageError("unknown option '" + a + "'");
    }
  }
  if (inputs > 1) return UsageError("choose one input: --simulate, --input or --device");
  if (o.set_clock && o.input != Options::Input::Device)
    return UsageError("--set-clock goes with --device only");
  if (std::string chart_error; !o.diag.chart.empty() && !ChartPathUsable(o.diag.chart, chart_error)) {
    std::fprintf(stderr, "varnol-decode: cannot write the chart '%s': %s\n", o.diag.chart.c_str(),
                 chart_error.c_str());
    return ExitChart;
  }
  if (!StationSupported(o.station))
    return UsageError(std::string("station ") + StationName(o.station) + " is not supported yet");

  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::unique_ptr<WaveInput> wave;
  SourceWaveInput* source_wave = nullptr;
  std::unique_ptr<SystemClock> clock;
  SimulatedClock* sim_clock = nullptr;

  if (o.input == Options::Input::Device) {
    wave = std::make_unique<PortAudioWaveInput>(o.device);
    if (o.set_clock)
      clock = std::make_unique<RealSystemClock>();
    else
      clock = std::make_unique<DryRunClock>();
  } else {
    std::unique_ptr<SampleSource> source;
    int64_t clock_start = now;
    if (o.input == Options::Input::Simulate) {
      int64_t start = o.start.value_or(now);
      start -= start % 60;  // the broadcast starts at a minute boundary
      ReceiverSettings rs;
      rs.start_utc = static_cast<double>(start);
      rs.card_rate = o.card_bpm * 128.0 / 60.0;
      rs.amplitude = o.amplitude;
      rs.snr_db = o.snr;
      rs.seed = o.seed;
      rs.fade_depth = o.fade;
      rs.duration_s = (o.minutes > 0 ? o.minutes : 3.0) * 60.0;
      auto encoder = MakeEncoder(o.station_name);
      if (!encoder) return UsageError("no simulated signal for station " + o.station_name + " yet");
      source = std::make_unique<SimulatedReceiver>(std::move(encoder), rs);
      clock_start = o.clock.value_or(start);
    } else {
      std::string error;
      source = RecordingSource::Open(o.file, error);
      if (!source) {
        std::fprintf(stderr, "varnol-decode: cannot read '%s': %s\n", o.file.c_str(), error.c_str());
        return ExitInput;
      }
      clock_start = o.clock.value_or(now);
    }
    auto sw = std::make_unique<SourceWaveInput>(std::move(source));
    source_wave = sw.get();
    wave = std::move(sw);
    auto sc = std::make_unique<SimulatedClock>(clock_start, 3756.0);
    sim_clock = sc.get();
    clock = std::move(sc);
  }

  StderrWaveErrors errors;
  CVarnolDoc doc(*wave, *clock, errors);
  doc.StationMode = o.station;
  doc.PcClockOffset = o.offset;
  doc.BuildUtOffsetLabel();
  doc.BlocksPerMinute = o.bpm;
  doc.AdjustCalibration = o.adjust ? 1 : 0;
  doc.AutoSetClock = 1;  // show the clock step the program would take
  if (sim_clock != nullptr) sim_clock->FollowBlocks(&doc.BlocksProcessed);

  EventPrinter printer(doc, o.json, o.input == Options::Input::Device, o.set_clock);
  doc.AddObserver(&printer);
  DiagnosticsRun diagnostics(doc, o.diag, o.json);

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  doc.StartCapture();
  if (doc.Stopped != 0) {
    if (auto* pa = dynamic_cast<PortAudioWaveInput*>(wave.get()); pa != nullptr && !pa->LastErrorText().empty())
      std::fprintf(stderr, "varnol-decode: sound card: %s\n", pa->LastErrorText().c_str());
    return ExitInput;
  }

  int exit_code = ExitDone;
  if (source_wave != nullptr) {
    while (!g_interrupted.load() && source_wave->Pump()) doc.ProcessCaptureBuffer();
  } else {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<int64_t>(o.minutes > 0 ? o.minutes * 60000 : 1e12));
    while (!g_interrupted.load() && std::chrono::steady_clock::now() < end) {
      doc.OnIdle(11);
      if (doc.Stopped != 0) {
        std::fprintf(stderr, "varnol-decode: the sound device stopped taking buffers\n");
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
  doc.RemoveObserver(&printer);
  return exit_code;
}
