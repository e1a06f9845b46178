// SPDX-License-Identifier: GPL-3.0-or-later
// The clock window's command identifiers: menu items, toolbar buttons and status panes, with
// the status-line prompt and tool tip of each. These numbers are the program's own names for
// its commands; the window maps them to toolkit ids (which must stay below 32768) in one place.
#pragma once

#include <cstddef>

namespace cmd {

// Framework commands.
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_HELP_FINDER = 57667;  // help topics
constexpr int ID_CONTEXT_HELP = 57669;
constexpr int ID_HELP = 57670;
constexpr int ID_DEFAULT_HELP = 57671;

// Capture (the menu-bar items and the toolbar buttons are separate commands).
constexpr int ID_START_MENU = 32787;
constexpr int ID_STOP_MENU = 32779;
constexpr int ID_START_TOOL = 32785;
constexpr int ID_STOP_TOOL = 32792;

// "Transmitter" menu, in menu order (StationMode 0, 1, ...).
constexpr int ID_STATION_MSF = 32810;
constexpr int ID_STATION_HBG = 32816;
constexpr int ID_STATION_DCF77 = 32811;
constexpr int ID_STATION_WWVB = 32819;
constexpr int ID_STATION_VNG = 32817;
constexpr int ID_STATION_RWM = 32818;
constexpr int ID_STATION_WWV = 32821;
constexpr int ID_STATION_JJY = 32823;
constexpr int ID_STATION_CHU = 32824;

// "Setup", "Auto set PC clock" and the mixer.
constexpr int ID_CLOCK_OFFSET = 32813;
constexpr int ID_CALIBRATION = 32822;
constexpr int ID_AUTO_SET_CLOCK = 32812;
constexpr int ID_MIXER = 32815;

// The window's own additions to the "Setup" menu.
constexpr int ID_INPUT_DEVICE = 32901;
constexpr int ID_SIGNAL_REPORT = 32902;
// ... and its input settings: the automatic level, where the tone is, and the tuning aid.
constexpr int ID_AUTO_LEVEL = 32903;
constexpr int ID_TONE_AUTO = 32904;
constexpr int ID_TONE_OFF = 32905;
constexpr int ID_TONE_FIXED = 32906;
constexpr int ID_TUNING_AID = 32907;

// Status panes.
constexpr int ID_INDICATOR_STATION = 59142;
constexpr int ID_INDICATOR_PC = 59143;
constexpr int ID_INDICATOR_SYN = 59144;
constexpr int ID_INDICATOR_RESET = 59145;

// Control bars.
constexpr int ID_TOOLBAR = 59392;
constexpr int ID_STATUS_BAR = 59393;

// The station commands in StationMode order (one per station: the document checks the count).
constexpr int StationCommands[] = {ID_STATION_MSF, ID_STATION_HBG, ID_STATION_DCF77, ID_STATION_WWVB,
                                   ID_STATION_VNG, ID_STATION_RWM, ID_STATION_WWV,   ID_STATION_JJY, ID_STATION_CHU};
constexpr int StationCommandCount = static_cast<int>(sizeof StationCommands / sizeof StationCommands[0]);

// StationMode of a station command, or -1.
constexpr int StationOfCommand(int id) {
  for (int i = 0; i < StationCommandCount; ++i)
    if (StationCommands[i] == id) return i;
  return -1;
}

struct CommandText {
  int id;
  const char* prompt;  // status-line prompt ("" for none)
  const char* tip;     // tool tip ("" for none)
};

// Prompts and tool tips, as the string table gives them (the text before the line break is
// the prompt, the one after it the tool tip).
constexpr CommandText CommandTexts[] = {
    {ID_APP_EXIT, "Quit the application; prompts to save documents", "Exit"},
    {ID_START_MENU, "Start decoding", ""},
    {ID_STOP_MENU, "Stop decoding", ""},
    {ID_STATION_MSF, "Decode MSF format", ""},
    {ID_STATION_HBG, "Decode HBG format", ""},
    {ID_STATION_DCF77, "Decode DCF77 format", ""},
    {ID_STATION_WWVB, "Decode WWVB format", ""},
    {ID_STATION_VNG, "Decode VNG format", ""},
    {ID_STATION_RWM, "Look for RWM minute marks", ""},
    {ID_STATION_WWV, "Decode WWV or WWVH time signals.", ""},
    {ID_STATION_JJY, "Decode JJY format", ""},
    {ID_STATION_CHU, "Decode CHU time code", ""},
    {ID_CLOCK_OFFSET, "Select UT offset for PC clock", ""},
    {ID_CALIBRATION, "Correct the soundcard sampling rate", ""},
    {ID_AUTO_SET_CLOCK, "Automatically update the PC clock", ""},
    {ID_MIXER, "Select audio source", ""},
    {ID_INPUT_DEVICE, "Choose the sound card or sound-server source the receiver is on", ""},
    {ID_SIGNAL_REPORT, "Show the signal's level, tone and noise, the last clock step and the lock", ""},
    {ID_AUTO_LEVEL, "Turn the level up or down automatically to where the clock measures best", ""},
    {ID_TONE_AUTO, "Find the station's tone in 300..3000 Hz and move it to where the clock measures", ""},
    {ID_TONE_OFF, "Measure the tone at 1000 Hz, where the receiver must put it", ""},
    {ID_TONE_FIXED, "Move the tone from a frequency you give to where the clock measures", ""},
    {ID_TUNING_AID, "Show the audio's spectrum, where the tone was found and where it is moved to", ""},
    {ID_HELP_FINDER, "List Help topics", "Help Topics"},
    {ID_APP_ABOUT, "Display program information, version number and copyright", "About"},
    {ID_START_TOOL, "Start capture", "Start"},
    {ID_STOP_TOOL, "Stop capture", "Stop"},
    {ID_CONTEXT_HELP, "Display help for clicked on buttons, menus and windows", "Help"},
};

constexpr const CommandText* FindCommandText(int id) {
  for (const CommandText& t : CommandTexts)
    if (t.id == id) return &t;
  return nullptr;
}

// Sample texts of the four custom panes: shown until the first refresh, and they fix each
// pane's width.
constexpr const char* StationPaneSample = "DCF77";
constexpr const char* ResetPaneSample = "Reset 22:22 UT+2";
constexpr const char* SynPaneSample = "Syn 22:22:22 -00.0";
constexpr const char* PcPaneSample = "PC 22:22:22 +00.0";
// The message line's prompt while no menu item or button is pointed at.
constexpr const char* IdlePrompt = "For Help, press F1";

}  // namespace cmd
