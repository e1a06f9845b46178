// SPDX-License-Identifier: GPL-3.0-or-later
// The installer on a long script: N program files (64 bytes each) installed from a medium
// folder into a fresh root, without the dialog's pauses. Time per file at 1,000 and at 10,000
// files in the same run shows whether the cost grows with the script (it should not: each log
// line is appended once, and the log and the record reach the disk once per step).
//
// Peak memory: /usr/bin/time -v build/bench/bench_setup_install --benchmark_filter=/10000
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/hive_registry.h"
#include "platform/host_files.h"
#include "platform/message_sink.h"
#include "platform/shell_link.h"
#include "setup/setup_installer.h"

namespace {

class NoDialog : public SetupControls {
 public:
  void ControlsToMembers(SetupDialogMembers&) override {}
  void MembersToControls(const SetupDialogMembers&) override {}
  void Pause(int) override {}
};

void Install(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  std::string pattern = (std::filesystem::temp_directory_path() / "varnol-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::filesystem::path work = pattern, medium = work / "medium";
  std::filesystem::create_directories(medium);
  std::ofstream script(medium / "setup.dat", std::ios::binary);
  script << "Clock\r\n1.0\r\nClock\r\n";
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.dat", i);
    script << '+' << name << "\r\n";
    std::ofstream(medium / name, std::ios::binary) << std::string(64, 'x');
  }
  script.close();
  const auto old_dir = std::filesystem::current_path();
  std::filesystem::current_path(medium);
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = (work / ("root" + std::to_string(run++))).string();
    HiveRegistry registry(root + "/registry");
    HostFiles host(root);
    StartInstallerHost(host, registry, medium.string());
    HostShellLinkFactory links(host);
    RecordingMessageSink sink;
    NoDialog dialog;
    SetupDialogMembers members;
    SetupInstaller installer(members, host, registry, links, sink);
    if (!installer.ReadScript()) state.SkipWithError("script not read");
    state.ResumeTiming();
    if (installer.OnInstallNow(dialog) != InstallOutcome::kEndProgram || sink.messages.size() != 1) {
      state.SkipWithError("installation failed");
    }
  }
  std::filesystem::current_path(old_dir);
  std::filesystem::remove_all(work);
  state.counters["files"] = files;
  state.counters["per_file"] =
      benchmark::Counter(static_cast<double>(files) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(Install)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
