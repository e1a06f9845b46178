// SPDX-License-Identifier: GPL-3.0-or-later
// The inputs offered in Setup > Sound input: the sound server's sources as pactl lists them
// (PulseAudio's and PipeWire's pactl write the same fields), and the settings they become.
#include "capture/input_devices.h"

#include <gtest/gtest.h>

namespace {

// Trimmed from `LC_ALL=C pactl list sources` (PipeWire 0.3.65's pactl): a monitor and a USB
// card, with properties that carry names and descriptions of their own further in.
constexpr const char* PactlOutput =
    "Source #45\n"
    "\tState: SUSPENDED\n"
    "\tName: alsa_output.pci-0000_00_1f.3.analog-stereo.monitor\n"
    "\tDescription: Monitor of Built-in Audio Analog Stereo\n"
    "\tDriver: PipeWire\n"
    "\tProperties:\n"
    "\t\tdevice.description = \"Built-in Audio\"\n"
    "\t\tnode.name = \"alsa_output.pci-0000_00_1f.3.analog-stereo\"\n"
    "\tPorts:\n"
    "\t\tanalog-output-speaker: Speakers (type: Speaker, priority: 10000, available)\n"
    "\n"
    "Source #52\n"
    "\tState: RUNNING\n"
    "\tName: alsa_input.usb-C-Media_USB_Audio_Device-00.mono-fallback\n"
    "\tDescription: USB Audio Device Mono\n"
    "\tProperties:\n"
    "\t\tName: not the source's own\n"
    "\t\tDescription: nor this\n"
    "Source #60\n"
    "\tName: nameless.description\n";

TEST(InputDevices, SoundServerSourcesByTheirDescriptions) {
  const std::vector<SoundServerSource> sources = ParsePactlSources(PactlOutput);
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_EQ(sources[0].name, "alsa_output.pci-0000_00_1f.3.analog-stereo.monitor");
  EXPECT_EQ(sources[0].description, "Monitor of Built-in Audio Analog Stereo");
  EXPECT_EQ(sources[1].name, "alsa_input.usb-C-Media_USB_Audio_Device-00.mono-fallback");
  EXPECT_EQ(sources[1].description, "USB Audio Device Mono");
  EXPECT_EQ(sources[2].description, "nameless.description");  // no description: its name
  EXPECT_TRUE(ParsePactlSources("Connection failure: Connection refused\n").empty());
  EXPECT_TRUE(ParsePactlSources("").empty());

  const std::vector<InputChoice> choices =
      InputChoices(sources, "HDA Intel PCH: ALC892 Analog (hw:0,0)\npulse\ndefault\n");
  ASSERT_EQ(choices.size(), 7u);
  EXPECT_EQ(choices[0].setting, "");
  EXPECT_EQ(choices[2].setting, "pulse:alsa_input.usb-C-Media_USB_Audio_Device-00.mono-fallback");
  EXPECT_EQ(choices[2].label, "Sound server: USB Audio Device Mono");
  EXPECT_EQ(choices[4].setting, "HDA Intel PCH: ALC892 Analog (hw:0,0)");
  EXPECT_EQ(SoundServerSourceOf(choices[2].setting), sources[1].name);
  EXPECT_EQ(SoundServerSourceOf(choices[4].setting), "");
  EXPECT_EQ(DescribeInputSetting(""), "the default input");
  EXPECT_EQ(DescribeInputSetting("hw:1"), "the device \"hw:1\"");
}

}  // namespace

// A device setting picks the device it names, never a longer-numbered card whose name merely
// contains it (hw:1 inside hw:10,0), and an exact name before a containing one.
TEST(InputDevices, DeviceSettingPicksTheDeviceItNames) {
  const std::vector<std::string> names = {"HDA Intel PCH: ALC892 Analog (hw:0,0)",
                                          "",
                                          "USB Audio CODEC: Audio (hw:10,0)",
                                          "USB Audio CODEC: Audio (hw:1,0)",
                                          "pulse",
                                          "default",
                                          "pulse monitor"};
  const struct {
    const char* setting;
    int device;
  } cases[] = {{"hw:1", 3},  {"hw:1,0", 3}, {"hw:10", 2}, {"hw:0", 0},    {"USB Audio", 2},
               {"pulse", 4}, {"hw:2", -1},  {"", -1},     {"monitor", 6}, {"Analog", 0}};
  for (const auto& c : cases) EXPECT_EQ(PickInputDevice(names, c.setting), c.device) << c.setting;
}
