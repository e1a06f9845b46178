// The window's additions for a Linux desktop: Setup > Sound input, Setup > Signal report and
// the status bar's tool tip, the word on the message line when the PC clock was or was not set,
// and the watcher behind the report.
#include "app/wx_desktop.h"

#include <wx/listbox.h>

#include <cmath>
#include <cstdio>

#include "app/simulated_input.h"
#include "capture/portaudio_wave_input.h"

namespace {

std::string Format(const char* format, double a, double b = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

const char* LockInWords(const char* state) {
  const std::string s = state;
  if (s == "locked") return "locked: the decoded minutes and the seconds agree";
  if (s == "locking") return "locking: following the seconds, waiting for three minutes that agree";
  if (s == "unsupported") return "none: RWM's minute marks carry no time of day";
  return "searching for the seconds' markers";
}

}  // namespace

std::string CountOf(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 || n == -1 ? one : many);
}

std::string AgeInWords(int64_t ms) {
  const int64_t s = ms / 1000;
  if (s < 5) return "just now";
  if (s < 120) return CountOf(s, "second", "seconds") + " ago";
  if (s < 2 * 3600) return CountOf(s / 60, "minute", "minutes") + " ago";
  if (s < 2 * 86400) return CountOf(s / 3600, "hour", "hours") + " ago";
  return CountOf(s / 86400, "day", "days") + " ago";
}

// --- The watcher --------------------------------------------------------------------------------

WindowSignalMonitor::WindowSignalMonitor(const CVarnolDoc& doc)
    : doc_(doc),
      health_(std::make_unique<SignalHealth>(doc,
                                             [this](const SignalReport& r) {
                                               last_ = r;
                                               have_report_ = true;
                                             })),
      epochs_(std::make_unique<SecondEpochs>(doc.StationMode)),
      epochs_station_(doc.StationMode) {}

WindowSignalMonitor::~WindowSignalMonitor() = default;

void WindowSignalMonitor::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                          int64_t capture_time_ns) {
  if (doc_.StationMode != epochs_station_) {
    epochs_station_ = doc_.StationMode;
    epochs_->SetStation(epochs_station_);
  }
  health_->OnCaptureBuffer(samples, count, first_block, capture_time_ns);
  epochs_->OnCaptureBuffer(samples, count, first_block, capture_time_ns);
}

void WindowSignalMonitor::OnUpdate(int hint) {
  health_->OnUpdate(hint);
  epochs_->OnUpdate(hint);
}

void WindowSignalMonitor::OnStatusText(const char* text) {
  health_->OnStatusText(text);
}

void WindowSignalMonitor::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  health_->OnMinuteAccepted(ut_hour, ut_minute, block);
  epochs_->OnMinuteAccepted(ut_hour, ut_minute, block);
  have_minute_ = true;
  minute_hour_ = ((ut_hour % 24) + 24) % 24;
  minute_minute_ = ut_minute;
  minute_ms_ = WallClockMilliseconds();
}

void WindowSignalMonitor::OnClockWriteResult(const ClockWriteResult& result, int64_t wall_ms) {
  // A request on its way is not yet a step: the answer that follows is.
  if (result.outcome == ClockWriteOutcome::Requested && have_write_ &&
      last_write_.outcome == ClockWriteOutcome::Requested)
    return;
  have_write_ = true;
  last_write_ = result;
  last_write_ms_ = wall_ms;
}

std::string WindowSignalMonitor::Report(int64_t wall_ms) const {
  std::string out = std::string("Station: ") + CVarnolDoc::StationShortName(doc_.StationMode) + "\n";
  if (!have_report_) {
    const double seconds = static_cast<double>(doc_.BlocksProcessed) * BlockSize / 8000.0;
    out += doc_.Stopped != 0 && doc_.BlocksProcessed == 0
               ? "Signal: not heard yet (press Start)\n"
               : "Signal: not judged yet: the first judgement comes after a minute of audio (" +
                     CountOf(static_cast<int64_t>(seconds), "second", "seconds") + " so far)\n";
  } else {
    out += "Signal: " + last_.text + "\n";
    out += "Level: " + std::to_string(last_.level.tone_level) + " of " +
           std::to_string(LevelCeiling(last_.station_mode)) + " (" + VerdictKey(last_.verdict) + ")\n";
    out += last_.verdict == LevelVerdict::NoTone
               ? Format("Tone: none near %.0f Hz\n", StationToneHz(last_.station_mode))
               : Format("Tone: %.0f Hz (the clock listens at %.0f Hz)\n", last_.tone_hz,
                        StationToneHz(last_.station_mode));
    out += Format("Signal-to-noise: about %.0f dB\n", last_.snr_db);
  }
  if (have_minute_) {
    char hm[16];
    std::snprintf(hm, sizeof hm, "%02d:%02d", minute_hour_, minute_minute_);
    out += std::string("Last decoded minute: ") + hm + " UT, " + AgeInWords(wall_ms - minute_ms_) + "\n";
  } else {
    out += "Last decoded minute: none yet\n";
  }
  if (have_write_)
    out += "Last clock step: " + ClockWriteStatus(last_write_) + ", " + AgeInWords(wall_ms - last_write_ms_) +
           "\n";
  else
    out += std::string("Last clock step: none yet") +
           (doc_.AutoSetClock == 1 ? "" : " (Auto set PC clock is not enabled)") + "\n";
  out += std::string("Lock: ") + LockInWords(epochs_->State());
  return out;
}

// --- Sound input -------------------------------------------------------------------------------

CInputDeviceDlg::CInputDeviceDlg(wxWindow* parent, const std::vector<InputChoice>& choices,
                                 const std::string& current, bool capturing)
    : wxDialog(parent, wxID_ANY, "Sound input", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      choices_(choices) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, "The input the receiver is connected to:"), 0, wxALL, 8);
  list_ = new wxListBox(this, IdList, wxDefaultPosition, wxSize(420, 200));
  int selected = -1;
  for (size_t i = 0; i < choices_.size(); ++i) {
    list_->Append(wxString::FromUTF8(choices_[i].label));
    if (choices_[i].setting == current) selected = static_cast<int>(i);
  }
  // A stored input that is not there now is still shown, so that keeping it is a choice.
  if (selected < 0) {
    choices_.push_back({current, "Not found now: " + current});
    list_->Append(wxString::FromUTF8(choices_.back().label));
    selected = static_cast<int>(choices_.size()) - 1;
  }
  list_->SetSelection(selected);
  sizer->Add(list_, 1, wxLEFT | wxRIGHT | wxEXPAND, 8);
  const char* note = capturing ? "The capture starts again on the input chosen."
                               : "The input chosen is used from the next Start.";
  sizer->Add(new wxStaticText(this, IdNote, note), 0, wxALL, 8);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxEXPAND, 8);
  SetSizerAndFit(sizer);
  list_->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { EndModal(wxID_OK); });
}

std::string CInputDeviceDlg::Chosen() const {
  const int i = list_->GetSelection();
  return i >= 0 && i < static_cast<int>(choices_.size()) ? choices_[static_cast<size_t>(i)].setting : "";
}

void CMainFrame::ChooseInput() {
  if (services_ == nullptr || !services_->CanChooseInput()) {
    ShowMessage(this,
                "The clock is playing a recording or listening to the simulated receiver; start it "
                "without --input or --simulate to choose a sound input.",
                wxOK | wxICON_INFORMATION);
    return;
  }
  wxBusyCursor busy;  // asking the sound server and the cards takes a moment
  bool ok = true;
  const std::string cards = PortAudioWaveInput::ListInputDevices(ok);
  const std::vector<InputChoice> choices = InputChoices(ListSoundServerSources(), ok ? cards : "");
  CInputDeviceDlg dlg(this, choices, services_->InputSetting(), doc_.Stopped == 0);
  if (dlg.ShowModal() != wxID_OK) return;
  services_->ChooseInput(dlg.Chosen());
}

// --- Signal report ------------------------------------------------------------------------------

CSignalReportDlg::CSignalReportDlg(wxWindow* parent, WindowServices* services)
    : wxDialog(parent, wxID_ANY, "Signal report"), services_(services) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  text_ = new wxStaticText(this, IdText, "");
  sizer->Add(text_, 1, wxALL | wxEXPAND, 10);
  sizer->Add(CreateButtonSizer(wxOK), 0, wxALL | wxEXPAND, 8);
  SetSizer(sizer);
  Refresh();
  timer_.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Refresh(); });
  timer_.Start(1000);
}

void CSignalReportDlg::Refresh() {
  const wxString text = wxString::FromUTF8(services_ != nullptr ? services_->SignalReport() : "");
  if (text == text_->GetLabel()) return;
  // Long lines are wrapped to a readable width; the dialog grows with them, never shrinks.
  text_->SetLabel(WrapText(text, 520, [this](const wxString& s) { return text_->GetTextExtent(s).x; }));
  GetSizer()->SetSizeHints(this);
}

void CMainFrame::ShowSignalReport() {
  CSignalReportDlg dlg(this, services_);
  dlg.ShowModal();
}

void CMainFrame::RefreshReportTip() {
  // The status bar's tool tip: the same report, kept current about every two seconds.
  if (services_ == nullptr || m_wndStatusBar == nullptr) return;
  const wxLongLong now = wxGetLocalTimeMillis();
  if (now < tip_due_) return;
  tip_due_ = now + 2000;
  const wxString tip = wxString::FromUTF8(services_->SignalReport());
  if (m_wndStatusBar->GetToolTipText() != tip) m_wndStatusBar->SetToolTip(tip);
}

// --- Clock writes -------------------------------------------------------------------------------

void CMainFrame::SetMessageLine(const wxString& text) {
  message_line_ = text;
  if (m_wndStatusBar != nullptr && !prompt_shown_) m_wndStatusBar->SetStatusText(message_line_, 0);
}

void CMainFrame::ShowClockWrite(const ClockWriteResult& result) {
  // A few words on the message line (it is narrow); the reason is in the report, the status
  // bar's tool tip and the message box.
  SetMessageLine(wxString::FromUTF8(ClockWriteBrief(result)));
  tip_due_ = 0;
  const std::string advice = ClockWriteAdvice(result);
  if (advice.empty() || clock_box_shown_) return;
  // Once a run: the message line keeps saying it after that.
  clock_box_shown_ = true;
  CallAfter([this, advice] { ShowMessage(this, wxString::FromUTF8(advice), wxOK | wxICON_EXCLAMATION); });
}
