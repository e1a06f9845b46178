// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a hive file whose keys are nested deep, as an installer script with a long program
// name of many "\"-separated parts leaves it: every level of the key on its own line, as the
// registry writes it. The baseline is a hive of about the same size whose keys are all three
// levels deep. Reading should cost the same per byte whatever the depth: compare bytes_per_second
// of Deep/D with Flat/D (each Flat/D is sized to match Deep/D) in the same run.
//
//   build/bench/bench_hive_parse
#include <benchmark/benchmark.h>

#include <string>

#include "platform/hive_registry.h"

namespace {

const char kRoot[] = "HKEY_LOCAL_MACHINE";

// Every level of SOFTWARE\QOVEN\p1\p2\...\pD, one line each, with one value on the deepest.
std::string DeepHive(int depth) {
  std::string text = "REGEDIT4\r\n";
  std::string path = std::string(kRoot) + "\\SOFTWARE\\QOVEN";
  text += "\r\n[" + std::string(kRoot) + "\\SOFTWARE]\r\n\r\n[" + path + "]\r\n";
  for (int i = 1; i <= depth; ++i) {
    path += "\\p" + std::to_string(i % 10);
    text += "\r\n[" + path + "]\r\n";
  }
  return text + "\"DisplayName\"=\"Clock\"\r\n";
}

// Keys three levels deep (SOFTWARE\QOVEN\kN), as many as make `bytes`.
std::string FlatHive(size_t bytes) {
  std::string text = "REGEDIT4\r\n";
  const std::string base = std::string(kRoot) + "\\SOFTWARE\\QOVEN";
  text += "\r\n[" + std::string(kRoot) + "\\SOFTWARE]\r\n\r\n[" + base + "]\r\n";
  for (int i = 0; text.size() < bytes; ++i) {
    text += "\r\n[" + base + "\\k" + std::to_string(i) + "]\r\n\"DisplayName\"=\"Clock\"\r\n";
  }
  return text;
}

void Parse(benchmark::State& state, const std::string& text) {
  HiveRegistry::Hive hive;
  for (auto _ : state) {
    if (!HiveRegistry::Parse(kRoot, text, &hive)) {
      state.SkipWithError("the hive was not read");
      return;
    }
    benchmark::DoNotOptimize(hive);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["keys"] = static_cast<double>(hive.size());
}

void Deep(benchmark::State& state) {
  Parse(state, DeepHive(static_cast<int>(state.range(0))));
}

void Flat(benchmark::State& state) {
  Parse(state, FlatHive(DeepHive(static_cast<int>(state.range(0))).size()));
}

}  // namespace

BENCHMARK(Flat)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(Deep)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
