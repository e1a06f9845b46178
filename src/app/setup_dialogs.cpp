// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/setup_dialogs.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include <unistd.h>

namespace {

// Blanks and tabs around the number are allowed; nothing else may follow it.
std::string Trim(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
  return text.substr(first, last - first);
}

}  // namespace

std::string FormatOffsetEdit(double hours) {
  char text[40];
  // Locale-independent, like the parsing below: the decimal point is always '.'.
  const auto r = std::to_chars(text, text + sizeof text, hours, std::chars_format::general, 15);
  return std::string(text, r.ptr);
}

OffsetField CheckOffsetEdit(const std::string& text) {
  OffsetField out;
  std::string s = Trim(text);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);  // from_chars takes no plus sign
  double value = 0.0;
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, value);
  if (s.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(value)) {
    out.check = FieldCheck::NotANumber;
    return out;
  }
  out.hours = value;
  out.check = value < MinClockOffset || value > MaxClockOffset ? FieldCheck::OutOfRange
                                                               : FieldCheck::Accepted;
  return out;
}

const char* OffsetRefusal(FieldCheck check) {
  switch (check) {
    case FieldCheck::NotANumber: return "Enter a number.";
    case FieldCheck::OutOfRange: return "Enter a number between -13 and 13.";
    default: return "";
  }
}

std::string FormatCalibrationEdit(int blocks_per_minute) { return std::to_string(blocks_per_minute); }

CalibrationField CheckCalibrationEdit(const std::string& text) {
  CalibrationField out;
  std::string s = Trim(text);
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  long value = 0;
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, value);
  if (s.empty() || r.ptr != end || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) {
    out.check = FieldCheck::NotANumber;
    return out;
  }
  if (r.ec == std::errc::result_out_of_range || value < MinCalibration ||
      value > MaxCalibration) {
    out.check = FieldCheck::OutOfRange;
    return out;
  }
  out.blocks_per_minute = static_cast<int>(value);
  out.check = FieldCheck::Accepted;
  return out;
}

const char* CalibrationRefusal(FieldCheck check) {
  switch (check) {
    case FieldCheck::NotANumber: return "Enter an integer.";
    case FieldCheck::OutOfRange: return "Enter an integer between 3700 and 3800.";
    default: return "";
  }
}

namespace {

// The first executable file `name` in the folders of `path` ("" when there is none).
std::string FindProgram(const std::string& path, const std::string& name) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return "";
}

}  // namespace

const std::vector<MixerCommand>& MixerCandidates() {
  static const std::vector<MixerCommand> candidates = {
      {"pavucontrol", {"--tab=4"}, ""},          // PulseAudio volume control: Input Devices
      {"pavucontrol-qt", {"--tab=4"}, ""},
      {"pwvucontrol", {}, ""},                   // PipeWire volume control
      {"gnome-control-center", {"sound"}, ""},   // GNOME Settings, Sound
      {"kcmshell6", {"kcm_pulseaudio"}, ""},     // KDE Plasma audio settings
      {"kcmshell5", {"kcm_pulseaudio"}, ""},
      {"mate-volume-control", {"--page=input"}, ""},
      {"cinnamon-settings", {"sound"}, ""},
      {"xfce4-mixer", {}, ""},
  };
  return candidates;
}

std::vector<MixerCommand> FindMixerCommands(const std::string& path) {
  std::vector<MixerCommand> found;
  for (const MixerCommand& c : MixerCandidates()) {
    MixerCommand m = c;
    m.program = FindProgram(path, c.name);
    if (!m.program.empty()) found.push_back(std::move(m));
  }
  return found;
}

std::string NoMixerAdvice() {
  std::string tried;
  for (const MixerCommand& c : MixerCandidates()) tried += std::string(tried.empty() ? "" : ", ") + c.name;
  return "No recording-level control could be started (tried: " + tried +
         "; none is installed or none started).\n\n"
         "To set the input level on Linux, open a terminal and run\n"
         "    alsamixer -V capture\n"
         "(choose the card with F6, the input with the arrow keys and the space bar, and set the "
         "level with the arrow keys; make sure it is not muted), or, with PulseAudio or PipeWire:\n"
         "    pactl list short sources\n"
         "    pactl set-source-volume SOURCE 80%\n"
         "    pactl set-source-mute SOURCE 0\n\n"
         "pavucontrol gives a window for the same. Choose the input the clock listens to in "
         "Setup > Sound input.";
}

std::string FindMixerProgram(const std::string& path) { return FindProgram(path, "pavucontrol"); }
