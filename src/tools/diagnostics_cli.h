// SPDX-License-Identifier: GPL-3.0-or-later
// varnol-decode's diagnostics: the --gain, --chart and --no-signal-words options, the "signal"
// lines printed at most once a minute when their words change, and the summary at the end.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/varnol_doc.h"
#include "conditioning/conditioning.h"
#include "conditioning/gain_stage.h"
#include "diagnostics/other_stations.h"
#include "diagnostics/run_chart.h"
#include "diagnostics/signal_health.h"

struct DiagnosticsOptions {
  std::optional<GainSetting> gain;
  std::string chart;  // PNG path, empty for none
  CaptureFilter* tone_stage = nullptr;  // runs before the gain (not owned)
};

extern const char* const DiagnosticsUsage;     // the options' lines for --help
extern const char* const DiagnosticsJsonKeys;  // the "signal" and "summary" objects' keys

// Takes argv[i] (and its value) when it is a diagnostics option. Returns false when it is not
// one; sets `error` when it is one but malformed.
bool ParseDiagnosticsOption(int argc, char** argv, int& i, DiagnosticsOptions& options, std::string& error);

// Whether the chart's folder exists and may be written (checked before a run, so that an hour
// of audio is not processed for a picture that cannot be saved).
bool ChartPathUsable(const std::string& path, std::string& error);

// The plain and JSON texts of a report and of a summary, `t` in seconds of audio.
std::string SignalLine(const SignalReport& r, bool json);
std::string SummaryLines(const RunSummary& s, double t, bool json);

class DiagnosticsRun {
 public:
  DiagnosticsRun(CVarnolDoc& doc, const DiagnosticsOptions& options, bool json, FILE* out = stdout);
  ~DiagnosticsRun();
  // The tone as decided (before the capture, or once the live input has been heard).
  void SetTone(const ToneDecision& tone);
  // Prints the summary and writes the chart; false when the chart could not be written.
  bool Finish(std::string& error);

 private:
  CVarnolDoc& doc_;
  DiagnosticsOptions options_;
  bool json_;
  FILE* out_;
  std::unique_ptr<GainStage> gain_;
  FilterChain chain_;
  std::unique_ptr<SignalHealth> health_;
  std::unique_ptr<OtherStations> others_;
  std::unique_ptr<RunChart> chart_;
  bool finished_ = false;
};
