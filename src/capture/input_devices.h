// SPDX-License-Identifier: GPL-3.0-or-later
// The inputs a user can choose for the clock: the sound server's sources (PulseAudio or
// PipeWire, shown by their descriptions) and the devices PortAudio lists (ALSA cards and
// plugins). A choice is kept as one text, the input setting:
//
//   ""              the default input
//   "pulse:NAME"    the sound server's source NAME, read through PortAudio's "pulse" device
//   anything else   a PortAudio input device whose name contains this text
#pragma once

#include <string>
#include <vector>

struct SoundServerSource {
  std::string name;         // "alsa_input.pci-0000_00_1f.3.analog-stereo"
  std::string description;  // "Built-in Audio Analog Stereo"
};

// The sources in the output of `LC_ALL=C pactl list sources` (PulseAudio's and PipeWire's
// pactl write the same fields); an unreadable output gives none.
std::vector<SoundServerSource> ParsePactlSources(const std::string& text);
// Runs pactl and parses its list; none when pactl or the sound server is missing.
std::vector<SoundServerSource> ListSoundServerSources();

struct InputChoice {
  std::string setting;  // as above
  std::string label;    // what the list shows
};

// The default input first, then the sound server's sources, then the PortAudio devices
// (`card_names`, one a line, as PortAudioWaveInput::ListInputDevices gives them).
std::vector<InputChoice> InputChoices(const std::vector<SoundServerSource>& sources,
                                      const std::string& card_names);

constexpr const char* SoundServerPrefix = "pulse:";
// The sound-server source of a setting ("" when the setting names a PortAudio device).
std::string SoundServerSourceOf(const std::string& setting);
// Which of `names` (the PortAudio input devices, in their order) a device setting picks: the
// one named exactly, else the first whose name contains the setting where the text is not
// followed by a further digit ("hw:1" picks "USB (hw:1,0)", never "USB (hw:10,0)"); -1 for none.
int PickInputDevice(const std::vector<std::string>& names, const std::string& setting);
// The setting in words: "the default input", "the sound server's source X", "X".
std::string DescribeInputSetting(const std::string& setting);
