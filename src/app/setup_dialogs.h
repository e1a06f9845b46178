// SPDX-License-Identifier: GPL-3.0-or-later
// What the two setup dialogs check before they close with OK, written apart from the window so
// that it can be tested without a display: the offset of the PC clock from UT (a number of
// hours, -13 to 13) and the soundcard calibration (a whole number of blocks per minute, 3700 to
// 3800). A refused entry keeps the dialog open with the edit selected and the message shown.
#pragma once

#include <string>
#include <vector>

enum class FieldCheck { Accepted, NotANumber, OutOfRange };

struct OffsetField {
  FieldCheck check = FieldCheck::NotANumber;
  double hours = 0.0;
};

struct CalibrationField {
  FieldCheck check = FieldCheck::NotANumber;
  int blocks_per_minute = 0;
};

constexpr double MinClockOffset = -13.0;  // hours
constexpr double MaxClockOffset = 13.0;   // hours
constexpr int NominalBlocksPerMinute = 3756;
constexpr int MinCalibration = 3700;  // blocks per minute
constexpr int MaxCalibration = 3800;

// The edit's text for an offset: the shortest general form, as 1, -3.5 or 0.
std::string FormatOffsetEdit(double hours);
OffsetField CheckOffsetEdit(const std::string& text);
// The message for a refused offset ("" when accepted).
const char* OffsetRefusal(FieldCheck check);

std::string FormatCalibrationEdit(int blocks_per_minute);
CalibrationField CheckCalibrationEdit(const std::string& text);
const char* CalibrationRefusal(FieldCheck check);

// The desktop's recording-level control (pavucontrol, opened on its input-devices tab with
// MixerArguments), looked for along `path`, a PATH-style list of folders: its full file name,
// or "" when none is installed.
std::string FindMixerProgram(const std::string& path);
constexpr const char* MixerArguments = "--tab=4";  // pavucontrol's Input Devices tab

// A recording-level control a desktop may have, and how to open it on its input page.
struct MixerCommand {
  const char* name;                    // the program's file name
  std::vector<const char*> arguments;  // opens the input (recording) page where it can
  std::string program;                 // its full file name, once found
};
// The candidates in the order they are tried: PulseAudio's and PipeWire's volume controls,
// then GNOME's, KDE's, MATE's, Cinnamon's and Xfce's sound settings.
const std::vector<MixerCommand>& MixerCandidates();
// The candidates installed along `path` (a PATH-style list of folders), in that order.
std::vector<MixerCommand> FindMixerCommands(const std::string& path);
// What to say when none of them could be started: which were tried, and how to set the
// recording level on Linux without them.
std::string NoMixerAdvice();
