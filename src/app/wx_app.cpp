// CVarnolApp: start-up of the clock window, the single document and its services, and the idle
// processing that takes each captured buffer as soon as the capture has it done.
//
// Idle processing keeps the clock's counting rule -- a buffer is processed only on an idle call
// whose count is above 10, the count starting again at 0 with every event -- but it never spins:
// more idle calls are asked for only while the current buffer is done, and the capture wakes the
// idle processing when it finishes a buffer.
#include <wx/modalhook.h>
#include <wx/cshelp.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/settings_store.h"
#include "app/simulated_input.h"
#include "app/wx_varnol.h"
#include "capture/portaudio_wave_input.h"
#include "capture/recording_source.h"
#include "capture/source_wave_input.h"
#include "capture/wx_wave_error_dlg.h"
#include "diagnostics/gain_stage.h"
#include "platform/hive_registry.h"
#include "platform/linux_clock.h"
#include "simulator/encoder.h"

namespace {

const char* const kUsage =
    "Usage: varnol [--simulate [STATION] | --input FILE]\n"
    "The radio clock: sets the PC clock from a time station's signal on the sound card.\n"
    "\n"
    "  --simulate [STATION]  listen to the built-in simulated receiver instead of the sound card\n"
    "                        (msf, hbg, dcf77, wwvb, vng, rwm, wwv or wwvh; default dcf77); the\n"
    "                        station to decode is still chosen in the Transmitter menu\n"
    "  --input FILE          play a recording (WAV, FLAC, ...; any sample rate) in real time\n"
    "  --gain DB|auto        scale the samples before the clock measures them: a fixed gain\n"
    "                        in dB (-60..60), or auto: keep the tone in the range the clock\n"
    "                        works in, changing slowly and only between minutes (default: none)\n"
    "  --help                this text\n"
    "\n"
    "With --simulate or --input the PC clock is only set inside the program.\n"
    "Exit codes: 0 done, 2 usage error, 3 the recording cannot be read.\n";

constexpr int ExitUsage = 2;
constexpr int ExitInput = 3;

// Counts the modal dialogs and message boxes that are open: no buffer is processed while one is.
class ModalCounter : public wxModalDialogHook {
 public:
  int depth = 0;

 protected:
  int Enter(wxDialog*) override {
    ++depth;
    return wxID_NONE;
  }
  void Exit(wxDialog*) override { --depth; }
};

void CloseOnSignal(int) {
  if (wxTheApp != nullptr && wxTheApp->GetTopWindow() != nullptr) wxTheApp->GetTopWindow()->Close();
}

}  // namespace

class CVarnolApp : public wxApp {
 public:
  bool Initialize(int& argc, wxChar** argv) override;
  bool OnInit() override;
  int OnExit() override;
  int FilterEvent(wxEvent& event) override;

  void OnPaneTimer();

 private:
  bool ParseCommandLine(std::string& error);
  void OnIdleEvent(wxIdleEvent& event);
  bool CurrentBufferDone() const;

  enum class Input { SoundCard, Simulate, File } input_ = Input::SoundCard;
  std::string station_ = "dcf77";
  std::string file_;
  std::optional<GainSetting> gain_setting_;  // --gain: off unless asked for
  std::unique_ptr<GainStage> gain_;

  std::unique_ptr<WaveInput> wave_;
  SourceWaveInput* recording_ = nullptr;  // the capture device when it plays a recording
  std::unique_ptr<SystemClock> clock_;
  WxWaveErrorDialog errors_;
  std::unique_ptr<RegistrySettingsStore> settings_;
  std::unique_ptr<CVarnolDoc> doc_;
  CMainFrame* frame_ = nullptr;
  ModalCounter modal_;
  long idle_count_ = 0;
};

wxIMPLEMENT_APP(CVarnolApp);

void PaneTimerTick() { wxGetApp().OnPaneTimer(); }

bool CVarnolApp::ParseCommandLine(std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i].ToStdString();
    if (a == "--simulate") {
      input_ = Input::Simulate;
      if (i + 1 < argc && argv[i + 1][0] != '-') station_ = argv[++i].ToStdString();
      if (!MakeEncoder(station_)) {
        error = "no simulated signal for station '" + station_ +
                "' (msf, hbg, dcf77, wwvb, vng, rwm, wwv, wwvh)";
        return false;
      }
    } else if (a == "--input") {
      if (i + 1 >= argc) {
        error = "--input needs a file name";
        return false;
      }
      input_ = Input::File;
      file_ = argv[++i].ToStdString();
    } else if (a == "--gain") {
      gain_setting_ = i + 1 < argc ? ParseGainSetting(argv[++i].ToStdString()) : std::nullopt;
      if (!gain_setting_) {
        error = "--gain takes auto or a number of dB within -60..60";
        return false;
      }
    } else {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  return true;
}

bool CVarnolApp::Initialize(int& count, wxChar** args) {
  // The usage needs no display: it is answered before the toolkit starts.
  for (int i = 1; i < count; ++i) {
    const wxString a(args[i]);
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
  }
  return wxApp::Initialize(count, args);
}

bool CVarnolApp::OnInit() {
  std::string error;
  if (!ParseCommandLine(error)) {
    std::fprintf(stderr, "varnol: %s\n(see varnol --help)\n", error.c_str());
    std::exit(ExitUsage);  // nothing has been started yet
  }
  SetAppName("varnol");
  SetAppDisplayName(ProgramName);
  wxHelpProvider::Set(new wxSimpleHelpProvider);
  modal_.Register();

  if (input_ == Input::SoundCard) {
    wave_ = std::make_unique<PortAudioWaveInput>();
    clock_ = std::make_unique<RealSystemClock>();  // setting it needs CAP_SYS_TIME
  } else {
    std::unique_ptr<SampleSource> source;
    if (input_ == Input::Simulate) {
      source = std::make_unique<LiveStation>(station_, ReceiverSettings{});
    } else {
      std::string why;
      source = RecordingSource::Open(file_, why);
      if (!source) {
        const std::string message = "Cannot read the recording " + file_ + ": " + why;
        std::fprintf(stderr, "varnol: %s\n", message.c_str());
        ShowMessage(nullptr, message, wxOK | wxICON_EXCLAMATION);
        std::exit(ExitInput);
      }
    }
    auto paced = std::make_unique<SourceWaveInput>(std::move(source), SourceWaveInput::Pacing::RealTime);
    if (input_ == Input::File) recording_ = paced.get();
    wave_ = std::move(paced);
    clock_ = std::make_unique<SandboxClock>();
  }
  // A finished buffer wakes the idle processing (called on the capture's own thread).
  wave_->SetBufferDoneNotifier([] { wxWakeUpIdle(); });

  settings_ = std::make_unique<RegistrySettingsStore>(OpenHostRegistry());
  doc_ = std::make_unique<CVarnolDoc>(*wave_, *clock_, errors_, settings_.get());
  if (gain_setting_) {
    gain_ = gain_setting_->automatic ? std::make_unique<GainStage>(*doc_)
                                     : std::make_unique<GainStage>(gain_setting_->db);
    doc_->InputFilter = gain_.get();
  }

  // Menus, toolbar and panes are refreshed by the pane timer, not on every idle call.
  wxUpdateUIEvent::SetUpdateInterval(-1);
  // Idle events go to the application only; no window here has idle work of its own.
  wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
  Bind(wxEVT_IDLE, &CVarnolApp::OnIdleEvent, this);

  frame_ = new CMainFrame(*doc_);
  if (!frame_->Created()) {
    frame_->Destroy();
    frame_ = nullptr;
    return false;
  }
  SetTopWindow(frame_);
  frame_->SetTitle(ProgramName);
  frame_->SetIcon(ProgramIcon(32));
  frame_->Show();

  SetSignalHandler(SIGTERM, CloseOnSignal);
  SetSignalHandler(SIGINT, CloseOnSignal);

  if (const char* script = std::getenv("VARNOL_TEST_SCRIPT"); script != nullptr && *script != 0) {
    if (!StartTestScript(script, frame_, doc_.get())) {
      std::fprintf(stderr, "varnol: cannot read the test script %s\n", script);
      return false;
    }
  }
  return true;
}

int CVarnolApp::OnExit() {
  // The document stops a running capture (writing the snapshot) and saves the settings.
  doc_.reset();
  wave_.reset();
  modal_.Unregister();
  return wxApp::OnExit();
}

int CVarnolApp::FilterEvent(wxEvent& event) {
  // Any event but the idle ones ends the idle period.
  const wxEventType type = event.GetEventType();
  if (type != wxEVT_IDLE && type != wxEVT_UPDATE_UI) idle_count_ = 0;
  return Event_Skip;
}

bool CVarnolApp::CurrentBufferDone() const {
  return doc_->Stopped == 0 &&
         (doc_->WaveHeaders[doc_->CurrentBuffer].dwFlags.load(std::memory_order_acquire) & WHDR_DONE) != 0;
}

void CVarnolApp::OnIdleEvent(wxIdleEvent& event) {
  event.Skip();
  // No buffer is processed while a dialog or message box is open (a wave-error message may be
  // showing from inside the start of a capture).
  if (!doc_ || modal_.depth > 0) return;
  const long count = idle_count_;
  if (idle_count_ < LONG_MAX) ++idle_count_;
  doc_->OnIdle(count, false);
  // More idle calls only while there is a buffer waiting; otherwise the capture wakes us.
  if (CurrentBufferDone()) event.RequestMore();
}

void CVarnolApp::OnPaneTimer() {
  // A tick is an event of its own: the idle count starts again, and count 0 only refreshes the
  // command state and the panes.
  idle_count_ = 0;
  if (!doc_) return;
  doc_->OnIdle(0, false);
  // A recording that has played to its end delivers no more buffers: once the last whole one
  // is decoded, the capture stops (and so shows "ready to start") instead of waiting for ever.
  if (recording_ != nullptr && recording_->AtEnd() && doc_->Stopped == 0 && !CurrentBufferDone()) {
    std::fprintf(stderr, "varnol: the recording has ended\n");
    doc_->StopCapture();
  }
  if (frame_ != nullptr && wxTopLevelWindows.Find(frame_) != nullptr) frame_->RefreshCommandUi();
}
