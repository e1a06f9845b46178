// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/diagnostics_cli.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/atomic_file.h"
#include "tools/cli_common.h"

const char* const DiagnosticsUsage =
    "  --gain DB|auto|off      scale the samples before the clock measures them: a fixed gain in\n"
    "                          dB (-60..60), off, or auto: keep the tone in the range the clock\n"
    "                          works in, changing slowly and only between minutes; a recording's\n"
    "                          first seconds set where it starts (default: auto for a recording\n"
    "                          or the sound card, off for the simulated receiver)\n"
    "  --chart FILE.png        draw the whole run: one row per minute, marker, pulses and the\n"
    "                          decoded time; level, threshold and noise beneath\n";

const char* const DiagnosticsJsonKeys =
    "Besides the status, clock and sync events, a \"signal\" line is printed at most once a minute,\n"
    "when its words change, and a \"summary\" at the end. With --json:\n"
    "  {\"event\": \"signal\", \"t\", \"verdict\": good|weak|too_strong|no_tone, \"level\" (90th\n"
    "   percentile of the minute's block levels), \"ceiling\" (765, or 1536 for WWV),\n"
    "   \"at_ceiling\" and \"clipped\" (fractions of blocks and samples), \"tone_hz\", \"strongest_hz\",\n"
    "   \"snr_db\", \"card_rate\" (samples/s from the minute markers, or null), \"gain_db\" (or null),\n"
    "   \"found_hz\" (the receiver's tone when it was moved, or null), \"shift_hz\", \"text\"}\n"
    "  {\"event\": \"summary\", \"t\", \"minutes\" (of audio), \"markers\", \"minute_markers\",\n"
    "   \"decoded\" (minutes accepted), \"clock_steps\", \"disagreeing\", \"fading_depth\",\n"
    "   \"other_stations\" ({name: minute markers seen while the selected station showed none}),\n"
    "   \"reasons\" (most likely first; empty when all went well)}\n";

bool ParseDiagnosticsOption(int argc, char** argv, int& i, DiagnosticsOptions& options, std::string& error) {
  const std::string a = argv[i];
  if (a != "--gain" && a != "--chart") return false;
  if (i + 1 >= argc) {
    error = a + (a == "--gain" ? " needs a number of dB or auto" : " needs a file name");
    return true;
  }
  const std::string v = argv[++i];
  if (a == "--gain") {
    options.gain = ParseGainSetting(v);
    if (!options.gain) error = "--gain takes auto, off or a number of dB within -60..60, not '" + v + "'";
  } else {
    if (v.empty()) error = "--chart needs a file name";
    options.chart = v;
  }
  return true;
}

bool ChartPathUsable(const std::string& path, std::string& error) {
  error = OutputFileProblem(path);
  return error.empty();
}

namespace {

std::string Num(double v, const char* fmt = "%.3f") {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

// "1 clock step", "2 clock steps".
std::string Counted(int n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

std::string SignalLine(const SignalReport& r, bool json) {
  if (!json) return Num(r.t, "%10.3f") + "  signal  " + r.text + "\n";
  std::string s =
      "{\"t\": " + Num(r.t) + ", \"event\": \"signal\", \"verdict\": \"" + VerdictKey(r.verdict) +
      "\", \"level\": " + std::to_string(r.level.tone_level) +
      ", \"ceiling\": " + std::to_string(LevelCeiling(r.station_mode)) +
      ", \"at_ceiling\": " + Num(r.level.ceiling_fraction, "%.4f") +
      ", \"clipped\": " + Num(r.level.clip_fraction, "%.6f") + ", \"tone_hz\": " + Num(r.tone_hz, "%.1f") +
      ", \"strongest_hz\": " + Num(r.strongest_hz, "%.1f") + ", \"snr_db\": " + Num(r.snr_db, "%.1f") +
      ", \"card_rate\": " +
      (r.card_blocks_per_minute ? Num(*r.card_blocks_per_minute * 128.0 / 60.0, "%.1f") : "null") +
      ", \"gain_db\": " + (r.gain_db ? Num(*r.gain_db, "%.1f") : "null") +
      ", \"found_hz\": " + (r.found_hz ? Num(*r.found_hz, "%.1f") : "null") +
      ", \"shift_hz\": " + Num(r.shift_hz, "%.1f") +
      ", \"text\": " + JsonString(r.text) + "}\n";
  return s;
}

std::string SummaryLines(const RunSummary& s, double t, bool json) {
  const SummaryInputs& in = s.in;
  if (json) {
    std::string o = "{\"t\": " + Num(t) +
                    ", \"event\": \"summary\", \"minutes\": " + Num(in.minutes, "%.2f") +
                    ", \"markers\": " + std::to_string(in.markers) +
                    ", \"minute_markers\": " + std::to_string(in.minute_markers) +
                    ", \"decoded\": " + std::to_string(in.decoded) +
                    ", \"clock_steps\": " + std::to_string(in.clock_steps) +
                    ", \"disagreeing\": " + std::to_string(in.disagreeing) +
                    ", \"fading_depth\": " + Num(in.fading_depth, "%.2f") + ", \"other_stations\": {";
    for (size_t i = 0; i < in.others.size(); ++i)
      o += (i ? ", " : "") + JsonString(in.others[i].name) + ": " +
           std::to_string(in.others[i].minute_markers);
    o += "}, \"reasons\": [";
    for (size_t i = 0; i < s.reasons.size(); ++i) o += (i ? ", " : "") + JsonString(s.reasons[i]);
    return o + "]}\n";
  }
  // The same counts as the JSON: "minute markers" are the markers about a minute after the
  // previous one; markers at other spacings (noise, a wrong station) are added apart.
  std::string o = Num(t, "%10.3f") + "  summary " + Num(in.minutes, "%.1f") + " minutes of audio, " +
                  Counted(in.minute_markers, "minute marker");
  if (in.markers != in.minute_markers) o += " (" + Counted(in.markers, "marker") + " in all)";
  o += ", " + Counted(in.decoded, "minute") + " decoded, " + Counted(in.clock_steps, "clock step") + "\n";
  for (size_t i = 0; i < s.reasons.size(); ++i)
    o += Num(t, "%10.3f") + "  reason  " + std::to_string(i + 1) + ". " + s.reasons[i] + "\n";
  return o;
}

DiagnosticsRun::DiagnosticsRun(CVarnolDoc& doc, const DiagnosticsOptions& options, bool json, FILE* out)
    : doc_(doc), options_(options), json_(json), out_(out) {
  if (options.gain) {
    gain_ = options.gain->automatic ? std::make_unique<GainStage>(doc, options.gain->db)
                                    : std::make_unique<GainStage>(options.gain->db);
  }
  // The tone is moved before the level is judged.
  chain_.Add(options.tone_stage);
  chain_.Add(gain_.get());
  if (chain_.Count() == 1) doc.InputFilter = options.tone_stage != nullptr ? options.tone_stage : gain_.get();
  if (chain_.Count() > 1) doc.InputFilter = &chain_;
  health_ = std::make_unique<SignalHealth>(doc, [this](const SignalReport& r) {
    std::fputs(SignalLine(r, json_).c_str(), out_);
    std::fflush(out_);
  });
  if (gain_) health_->SetGainSource([g = gain_.get()] { return g->GainDb(); });
  others_ = std::make_unique<OtherStations>(doc.StationMode, &doc);
  health_->SetOtherStations([o = others_.get()] { return o->Seen(); });
  // Another station's markers matter only while the selected station has shown none.
  others_->SetWanted([h = health_.get()] { return h->MinuteMarkers() == 0; });
  doc.AddObserver(health_.get());
  doc.AddObserver(others_.get());
  if (!options.chart.empty()) {
    chart_ = std::make_unique<RunChart>(doc);
    doc.AddObserver(chart_.get());
  }
}

DiagnosticsRun::~DiagnosticsRun() {
  doc_.RemoveObserver(health_.get());
  doc_.RemoveObserver(others_.get());
  if (chart_) doc_.RemoveObserver(chart_.get());
  if (doc_.InputFilter == gain_.get() || doc_.InputFilter == &chain_ ||
      (doc_.InputFilter != nullptr && doc_.InputFilter == options_.tone_stage))
    doc_.InputFilter = nullptr;
}

void DiagnosticsRun::SetTone(const ToneDecision& tone) {
  if (tone.shifted) health_->SetToneShift(tone.from_hz, tone.ShiftHz(), tone.half_width_hz);
}

bool DiagnosticsRun::Finish(std::string& error) {
  if (finished_) return true;
  finished_ = true;
  const RunSummary s = health_->Finish();
  std::fputs(SummaryLines(s, static_cast<double>(doc_.BlocksProcessed) * BlockSize / 8000.0, json_).c_str(),
             out_);
  std::fflush(out_);
  if (chart_ && !chart_->WritePng(options_.chart, error)) return false;
  return true;
}
