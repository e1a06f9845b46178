// The window's additions for a Linux desktop: the choice of input, the signal report with the
// lock, and the watcher that keeps what the report shows.
#pragma once

#include <wx/wx.h>

#include <memory>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "app/wx_varnol.h"
#include "capture/input_devices.h"
#include "diagnostics/signal_health.h"
#include "platform/desktop_clock.h"
#include "timing/second_epochs.h"

// Beside the document, on the same buffers and events: the last minute's signal judgement,
// the seconds' lock and the last write of the PC clock. Reads, never writes, the document.
class WindowSignalMonitor : public DocObserver {
 public:
  explicit WindowSignalMonitor(const CVarnolDoc& doc);
  ~WindowSignalMonitor() override;

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnUpdate(int hint) override;
  void OnStatusText(const char* text) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;
  // What became of a write of the PC clock (from the clock itself), at `wall_ms`.
  void OnClockWriteResult(const ClockWriteResult& result, int64_t wall_ms);

  // The report, a line per item; `wall_ms` the time now (ages are counted to it).
  std::string Report(int64_t wall_ms) const;

 private:
  const CVarnolDoc& doc_;
  std::unique_ptr<SignalHealth> health_;
  std::unique_ptr<SecondEpochs> epochs_;
  int epochs_station_ = -1;
  bool have_report_ = false;
  SignalReport last_;
  bool have_write_ = false;
  ClockWriteResult last_write_;
  int64_t last_write_ms_ = 0;
  bool have_minute_ = false;
  int minute_hour_ = 0, minute_minute_ = 0;
  int64_t minute_ms_ = 0;
};

// "1 minute", "2 minutes".
std::string CountOf(int64_t n, const char* one, const char* many);
// An age in words: "just now", "40 seconds ago", "1 minute ago", "3 hours ago".
std::string AgeInWords(int64_t ms);

// "Sound input": the inputs to choose from, the one in use selected.
class CInputDeviceDlg : public wxDialog {
 public:
  static constexpr int IdList = 1101;
  static constexpr int IdNote = 1102;
  CInputDeviceDlg(wxWindow* parent, const std::vector<InputChoice>& choices, const std::string& current,
                  bool capturing);
  // The setting of the entry chosen.
  std::string Chosen() const;

 private:
  std::vector<InputChoice> choices_;
  wxListBox* list_ = nullptr;
};

// "Signal report": the report's lines, brought up to date every second while it is open.
class CSignalReportDlg : public wxDialog {
 public:
  static constexpr int IdText = 1201;
  CSignalReportDlg(wxWindow* parent, WindowServices* services);

 private:
  void Refresh();
  WindowServices* services_;
  wxStaticText* text_ = nullptr;
  wxTimer timer_;
};
