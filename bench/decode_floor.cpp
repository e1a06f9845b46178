// The whole of `varnol-decode --input HOUR.wav --station dcf77` (one hour of 8 kHz 16-bit DCF77,
// the signal diagnostics on as they always are) against its floor: the bare transform the clock
// cannot do without, the front end's windowed 128-point transform and magnitudes of every block
// of the same hour. Reported: the CPU seconds of each and their ratio.
//
// The program runs as a child process and is timed by its own CPU time (user + system, from
// wait4), the floor by this thread's CPU time, so that other work on the machine counts in
// neither. They take turns, a whole hour each, the order swapped every round, so that a slow
// spell of the machine slows both alike. A first unmeasured run of each warms the caches (the
// file is then in the page cache, as in any repeated run).
//
// VARNOL_DECODE names the program (default: varnol-decode beside the folder of this one);
// VARNOL_DECODE_BEFORE, when set, names a second program timed in the same turns (an older
// build, to compare against in one run).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/source_wave_input.h"
#include "loop_bench.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"

extern char** environ;

namespace {

constexpr double kStart = 1796648700.0;  // 2026-12-07T13:05:00Z

// The simulated hour, written once as a 16-bit WAV at 8000 Hz; its samples stay in memory for
// the floor.
struct Hour {
  std::vector<int16_t> samples;
  std::string dir, wav;
  Hour() {
    ReceiverSettings rs;
    rs.start_utc = kStart;
    rs.duration_s = 3600.0;
    SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
    samples.resize(static_cast<size_t>(3600.0 * rs.card_rate) + 4096);
    samples.resize(rx.Read(samples.data(), samples.size()));
    char tmpl[] = "/tmp/varnol-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir = tmpl;
    wav = dir + "/hour.wav";
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(samples.size());
    if (f == nullptr || sf_writef_short(f, samples.data(), frames) != frames) wav.clear();
    if (f != nullptr) sf_close(f);
  }
  ~Hour() {
    if (!wav.empty()) std::remove(wav.c_str());
    if (!dir.empty()) rmdir(dir.c_str());
  }
};

const Hour& TheHour() {
  static const Hour hour;
  return hour;
}

std::string DecodeProgram() {
  if (const char* p = std::getenv("VARNOL_DECODE"); p != nullptr && *p != 0) return p;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "varnol-decode";
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../varnol-decode";
}

// CPU seconds (user + system) of one run of `program` on the hour; negative when it could not
// run or did not exit 0.
double DecodeCpuSeconds(const std::string& program, const std::string& wav) {
  std::vector<std::string> args = {
      program, "--input", wav, "--station", "dcf77", "--clock", "2026-12-07T13:05:00Z"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1.0;
  int status = 0;
  rusage use{};
  if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1.0;
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(use.ru_utime) + seconds(use.ru_stime);
}

// The floor: the front end's transform and magnitudes (its level step) of every block.
double FloorCpuSeconds(CVarnolDoc& doc, const std::vector<int16_t>& samples) {
  const double t0 = bench::ThreadCpuSeconds();
  for (size_t s = 0; s + BlockSize <= samples.size(); s += BlockSize) {
    doc.LevelStep(samples.data() + s);
    doc.DisplayColumn = (doc.DisplayColumn + 1) % TraceColumns;
  }
  benchmark::DoNotOptimize(doc.LevelTrace[0]);
  return bench::ThreadCpuSeconds() - t0;
}

void BM_DecodeOverFloor(benchmark::State& state) {
  const Hour& hour = TheHour();
  if (hour.wav.empty()) {
    state.SkipWithError("cannot write the hour's WAV file");
    return;
  }
  std::vector<std::string> programs = {DecodeProgram()};
  if (const char* p = std::getenv("VARNOL_DECODE_BEFORE"); p != nullptr && *p != 0) programs.push_back(p);

  SourceWaveInput wave(std::make_unique<bench::MemorySource>(hour.samples));
  SimulatedClock clock(static_cast<int64_t>(kStart));
  bench::NoDialog dialog;
  auto doc = std::make_unique<CVarnolDoc>(wave, clock, dialog);

  // Warm-up: not counted.
  FloorCpuSeconds(*doc, hour.samples);
  for (const std::string& p : programs) {
    if (DecodeCpuSeconds(p, hour.wav) < 0) {
      state.SkipWithError(("cannot run " + p + " (set VARNOL_DECODE)").c_str());
      return;
    }
  }

  double floor = 0.0;
  std::vector<double> decode(programs.size(), 0.0);
  bool floor_first = true;
  for (auto _ : state) {
    auto run_floor = [&] { floor += FloorCpuSeconds(*doc, hour.samples); };
    auto run_programs = [&] {
      for (size_t i = 0; i < programs.size(); ++i) {
        const double t = DecodeCpuSeconds(programs[i], hour.wav);
        if (t < 0) state.SkipWithError(("a run of " + programs[i] + " failed").c_str());
        decode[i] += t;
      }
    };
    if (floor_first) {
      run_floor();
      run_programs();
    } else {
      run_programs();
      run_floor();
    }
    floor_first = !floor_first;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["floor_cpu_s"] = floor / n;
  state.counters["decode_cpu_s"] = decode[0] / n;
  state.counters["decode_over_floor"] = decode[0] / floor;
  if (programs.size() > 1) {
    state.counters["before_cpu_s"] = decode[1] / n;
    state.counters["before_over_floor"] = decode[1] / floor;
  }
}

// Each iteration is one turn of each: an hour of the floor and a whole run of the program.
BENCHMARK(BM_DecodeOverFloor)->Iterations(6)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
