// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/receiver_options.h"

#include <algorithm>
#include <cstdio>

#include "tools/cli_common.h"

namespace {

constexpr double FullScale = 32767.0;
// The highest tone a rate can carry with room for its filter: 45 % of the rate.
constexpr double HighestToneFraction = 0.45;

std::string Range(const std::string& name, const char* range) {
  return name + " must lie within " + range;
}

}  // namespace

std::string ReceiverModelUsage(const std::string& tone) {
  std::string t = tone + " HZ";
  t.resize(std::max<size_t>(t.size() + 1, 24), ' ');
  return "  " + t +
         "the receiver's tone, 300..3000 Hz (default 1000); a carrier taken\n"
         "                          directly, up to 45 % of the sample rate (e.g. 77500 at 192000)\n"
         "  --level FRACTION        the full carrier's peak as a fraction of full scale, 0.01..1\n"
         "                          (instead of --amplitude)\n"
         "  --agc SECONDS           automatic gain control: release time 0.05..60 s, attack a 40th\n"
         "                          of it; the carrier overshoots after every reduction\n"
         "  --filter HZ             the receiver's filter, -3 dB width 100..10000 Hz: a band-pass\n"
         "                          around the tone (CW); for WWV/WWVH, heard in AM, the AM filter,\n"
         "                          which passes the audio up to half its width\n"
         "  --fade-period SECONDS   seconds per fading cycle, 5..3600 (default 60)\n"
         "  --static N              static crashes, N a minute on average, 0..600\n"
         "  --carrier ideal|real    real: the station's carrier edges through its antenna\n"
         "                          (default ideal: instant steps)\n";
}

bool ParseReceiverModelOption(const std::string& name, const std::string& value, const std::string& tone,
                              ReceiverSettings& rs, ReceiverModelChoice& choice, std::string& error) {
  error.clear();
  if (name == "--carrier") {
    if (value == "ideal")
      rs.carrier_edges = false;
    else if (value == "real")
      rs.carrier_edges = true;
    else
      error = "--carrier takes ideal or real, not '" + value + "'";
    return true;
  }
  if (name != tone && name != "--level" && name != "--agc" && name != "--filter" && name != "--fade-period" &&
      name != "--static")
    return false;
  const auto d = ParseDouble(value);
  if (!d) {
    error = "cannot read the number '" + value + "' for " + name;
    return true;
  }
  if (name == tone) {
    // The upper end depends on the sample rate: checked in ReceiverModelProblem.
    if (*d < 300.0) error = Range(name, "300..3000 Hz (or a carrier below 45 % of the sample rate)");
    rs.tone_hz = *d;
  } else if (name == "--level") {
    if (*d < 0.01 || *d > 1.0) error = Range(name, "0.01..1 of full scale");
    rs.amplitude = *d * FullScale;
    choice.level_given = true;
  } else if (name == "--agc") {
    if (*d < 0.05 || *d > 60.0) error = Range(name, "0.05..60 seconds");
    rs.agc_release_s = *d;
  } else if (name == "--filter") {
    if (*d < 100.0 || *d > 10000.0) error = Range(name, "100..10000 Hz");
    rs.filter_hz = *d;
  } else if (name == "--fade-period") {
    if (*d < 5.0 || *d > 3600.0) error = Range(name, "5..3600 seconds");
    rs.fade_period_s = *d;
  } else {
    if (*d < 0.0 || *d > 600.0) error = Range(name, "0..600 a minute");
    rs.static_per_minute = *d;
  }
  return true;
}

std::string ReceiverModelProblem(const ReceiverSettings& rs, const std::string& tone) {
  const double highest = std::max(3000.0, HighestToneFraction * rs.sample_rate);
  if (rs.tone_hz > highest) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "%s %.0f Hz is above what %.0f samples a second can carry (at most %.0f Hz)", tone.c_str(),
                  rs.tone_hz, rs.sample_rate, highest);
    return text;
  }
  return "";
}
