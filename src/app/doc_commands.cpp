// SPDX-License-Identifier: GPL-3.0-or-later
// The document's commands and update handlers: station choice, automatic clock setting,
// start and stop, the setup dialogs and the mixer, and the texts of the four status panes.
#include <cmath>
#include <cstdio>
#include <iterator>

#include "app/command_ids.h"
#include "app/varnol_doc.h"

static_assert(cmd::StationCommandCount == StationCount, "one Transmitter menu command per station");

const char* CVarnolDoc::StationShortName(int station_mode) {
  static const char* const names[] = {"MSF", "HBG", "DCF77", "WWVB", "VNG", "RWM", "WWV", "JJY", "CHU"};
  static_assert(std::size(names) == StationCount);
  if (station_mode < 0 || station_mode >= StationCount) return "";
  return names[station_mode];
}

bool CVarnolDoc::OnCmdMsg(int id, SetupUi* ui) {
  const int station = cmd::StationOfCommand(id);
  if (station >= 0) {
    OnStation(station);
    return true;
  }
  switch (id) {
    case cmd::ID_AUTO_SET_CLOCK: OnAutoSetClock(); return true;
    case cmd::ID_START_MENU: OnStartMenu(); return true;
    case cmd::ID_START_TOOL: OnStartTool(); return true;
    case cmd::ID_STOP_MENU: OnStopMenu(); return true;
    case cmd::ID_STOP_TOOL: OnStopTool(); return true;
    case cmd::ID_CLOCK_OFFSET:
      if (ui != nullptr) OnClockOffset(*ui);
      return true;
    case cmd::ID_CALIBRATION:
      if (ui != nullptr) OnCalibration(*ui);
      return true;
    case cmd::ID_MIXER:
      if (ui != nullptr) OnMixer(*ui);
      return true;
    default: return false;
  }
}

bool CVarnolDoc::OnUpdateCmdUI(int id, CCmdUI& ui) {
  const int station = cmd::StationOfCommand(id);
  if (station >= 0) {
    OnUpdateStation(station, ui);
    return true;
  }
  switch (id) {
    case cmd::ID_AUTO_SET_CLOCK: OnUpdateAutoSetClock(ui); return true;
    case cmd::ID_START_MENU: OnUpdateStartMenu(ui); return true;
    case cmd::ID_START_TOOL: OnUpdateStartTool(ui); return true;
    case cmd::ID_STOP_MENU: OnUpdateStopMenu(ui); return true;
    case cmd::ID_STOP_TOOL: OnUpdateStopTool(ui); return true;
    case cmd::ID_INDICATOR_STATION: OnUpdateStationPane(ui); return true;
    case cmd::ID_INDICATOR_PC: OnUpdatePcPane(ui); return true;
    case cmd::ID_INDICATOR_SYN: OnUpdateSynPane(ui); return true;
    case cmd::ID_INDICATOR_RESET: OnUpdateResetPane(ui); return true;
    default: return false;
  }
}

// --- Station and automatic setting ---------------------------------------------------------

void CVarnolDoc::OnStation(int station_mode) {
  // Nothing else changes: the capture, trackers, ring and decoded minutes carry over, and the
  // new decoder runs from the next block. Only a leap second one station announced is not
  // carried over to another.
  if (station_mode != StationMode) {
    LeapAnnounced = 0;
    ChuYearEnd = -1.0;
  }
  StationMode = station_mode;
  SetStatusText("decoding...");
}

void CVarnolDoc::OnUpdateStation(int station_mode, CCmdUI& ui) {
  ui.SetCheck(StationMode == station_mode ? 1 : 0);
}

void CVarnolDoc::OnAutoSetClock() { AutoSetClock = AutoSetClock == 1 ? 0 : 1; }

void CVarnolDoc::OnUpdateAutoSetClock(CCmdUI& ui) {
  if (AutoSetClock == 1) {
    ui.SetText("Enabled");
    ui.SetCheck(1);
  } else {
    ui.SetText("Enable");
    ui.SetCheck(0);
  }
}

// --- Start and stop ------------------------------------------------------------------------

void CVarnolDoc::OnStartMenu() { StartCapture(); }

void CVarnolDoc::OnStartTool() {
  if (Stopped == 1) StartCapture();
}

void CVarnolDoc::OnStopMenu() { StopCapture(); }

void CVarnolDoc::OnStopTool() { StopCapture(); }

void CVarnolDoc::OnUpdateStartMenu(CCmdUI& ui) { ui.SetCheck(Stopped != 1 ? 1 : 0); }

void CVarnolDoc::OnUpdateStartTool(CCmdUI& ui) { ui.SetCheck(Stopped == 0 ? 1 : 0); }

void CVarnolDoc::OnUpdateStopMenu(CCmdUI& ui) { ui.SetCheck(Stopped != 0 ? 1 : 0); }

void CVarnolDoc::OnUpdateStopTool(CCmdUI& ui) { ui.SetCheck(Stopped != 0 ? 1 : 0); }

// --- Setup dialogs and mixer ---------------------------------------------------------------

void CVarnolDoc::OnClockOffset(SetupUi& ui) {
  double offset = PcClockOffset;
  if (!ui.RunClockOffsetDialog(offset)) return;  // Cancel changes nothing
  PcClockOffset = offset;
  // The dialog's own, wider form of the label.
  std::snprintf(UtOffsetLabel, sizeof UtOffsetLabel, " [UT%c%04.1lf]  ", offset < 0 ? '-' : '+',
                std::fabs(offset));
}

void CVarnolDoc::OnCalibration(SetupUi& ui) {
  int blocks = BlocksPerMinute;
  int adjust = AdjustCalibration;
  if (!ui.RunCalibrationDialog(blocks, adjust)) return;
  BlocksPerMinute = blocks;  // the ring is not cleared: the next block uses the new minute
  AdjustCalibration = adjust;
}

void CVarnolDoc::OnMixer(SetupUi& ui) {
  ui.StartMixer();
  ui.ShowInformation(MixerAdvice);
}

// --- Status panes ----------------------------------------------------------------------------

void CVarnolDoc::OnUpdateStationPane(CCmdUI& ui) { ui.SetText(StationShortName(StationMode)); }

namespace {

void FormatTimePane(char* out, size_t size, const char* prefix, const LocalDateTime& t,
                    const char* label) {
  std::snprintf(out, size, "%s %02d:%02d:%02d%s", prefix, t.hour, t.minute, t.second, label);
}

}  // namespace

void CVarnolDoc::OnUpdatePcPane(CCmdUI& ui) {
  char text[80];
  FormatTimePane(text, sizeof text, "PC", Clock.Local(Clock.Now()), UtOffsetLabel);
  ui.SetText(text);
}

void CVarnolDoc::OnUpdateSynPane(CCmdUI& ui) {
  // The synchronised time may fall on another day; only its time of day is shown.
  char text[80];
  FormatTimePane(text, sizeof text, "Syn", Clock.Local(Clock.Now() + SyncOffset), UtOffsetLabel);
  ui.SetText(text);
}

void CVarnolDoc::OnUpdateResetPane(CCmdUI& ui) {
  if (Stopped == 1)
    ui.SetText("ready to start");
  else
    ui.SetText(StatusText);
}
