// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnolApp: start-up of the clock window, the single document and its services, and the idle
// processing that takes each captured buffer as soon as the capture has it done.
//
// Idle processing keeps the clock's counting rule -- a buffer is processed only on an idle call
// whose count is above 10, the count starting again at 0 with every event -- but it never spins:
// more idle calls are asked for only while the current buffer is done, and the capture wakes the
// idle processing when it finishes a buffer.
#include "app/wx_app.h"

#include <wx/cshelp.h>
#include <wx/log.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/simulated_input.h"
#include "app/wx_desktop.h"
#include "app/wx_varnol.h"
#include "capture/portaudio_wave_input.h"
#include "capture/recording_source.h"
#include "capture/source_wave_input.h"
#include "capture/wx_wave_error_dlg.h"
#include "conditioning/conditioning.h"
#include "conditioning/gain_stage.h"
#include "platform/desktop_clock.h"
#include "platform/gdbus_timedated.h"
#include "platform/hive_registry.h"
#include "platform/linux_clock.h"
#include "simulator/encoder.h"
#include "tools/cli_common.h"
#include "tracking/station_lock.h"

namespace {

const char* const kUsage =
    "Usage: varnol [--simulate [STATION] | --input FILE | --device NAME] [--channel SIDE]\n"
    "              [--gain DB|auto|off] [--tone HZ|auto|off] [--verbose]\n"
    "The radio clock: sets the PC clock from a time station's signal on the sound card.\n"
    "\n"
    "  --simulate [STATION]  listen to the built-in simulated receiver instead of the sound card\n"
    "                        (msf, hbg, dcf77, wwvb, vng, rwm, wwv, wwvh, jjy or chu; default\n"
    "                        dcf77) and select that station, as the Transmitter menu does\n"
    "  --input FILE          play a recording (WAV, FLAC, ...; 4 to 384 kHz) in real time\n"
    "  --device NAME         listen to this sound input for this run instead of the one chosen\n"
    "                        in Setup > Sound input: a part of a device's name as PortAudio\n"
    "                        lists it (\"hw:1\", \"USB Audio\"), or pulse:SOURCE for a source of\n"
    "                        PulseAudio or PipeWire (pactl list short sources names them)\n"
    "  --channel SIDE        left, right or mix: the side of a stereo recording or sound card\n"
    "                        the receiver is on (default left)\n"
    "  --verbose             let the audio libraries (ALSA, JACK) print their own messages\n"
    "  --gain DB|auto|off    scale the samples before the clock measures them: a fixed gain\n"
    "                        in dB (-60..60), or auto: keep the tone in the range the clock\n"
    "                        works in, changing slowly and only between minutes; a recording's\n"
    "                        first seconds set where it starts (default: the setting of\n"
    "                        Setup > Automatic level, off unless turned on there)\n"
    "  --tone HZ|auto|off    where the receiver puts the station's tone: auto finds the tone\n"
    "                        keyed once a second in 300..3000 Hz (a recording's first 20 s, the\n"
    "                        next 20 s up to 2 minutes while a fade hides it, the sound card's\n"
    "                        first 10 s) and moves it to the 1000 Hz the clock\n"
    "                        measures; HZ moves that frequency (default: the setting of\n"
    "                        Setup > Tone, auto unless changed there; off when simulating)\n"
    "  --help                this text\n"
    "  --version             the program's version\n"
    "An option's value may follow it as the next word or after '=': --input=night.wav.\n"
    "\n"
    "--gain and --tone hold for one run; the settings in the Setup menu are kept between runs.\n"
    "A recording is decoded at its own rate, 3750 blocks a minute, whatever the stored\n"
    "calibration (which is left as it is).\n"
    "Setting the PC clock: a program with the CAP_SYS_TIME capability sets it itself; otherwise\n"
    "the system's time service (systemd-timedated) is asked, which may ask for a password.\n"
    "With --simulate or --input the PC clock is only set inside the program. Every stop writes\n"
    "recording.wav (the last quarter second of audio) in the working folder, but never over\n"
    "the recording being played.\n"
    "Exit codes: 0 done, 1 no display to show the window on, 2 usage error, 3 the recording\n"
    "cannot be read.\n";

constexpr int ExitNoDisplay = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInput = 3;

}  // namespace

void SnapshotLog::OnSnapshot(SnapshotOutcome outcome, const char* path, int error) {
  if (outcome == SnapshotOutcome::WouldReplaceInput)
    std::fprintf(stderr, "varnol: %s is the recording being played; the snapshot leaves it alone\n", path);
  else if (outcome == SnapshotOutcome::CannotWrite)
    std::fprintf(stderr, "varnol: cannot write the snapshot %s: %s\n", path, std::strerror(error));
}

CVarnolApp::CVarnolApp() = default;
CVarnolApp::~CVarnolApp() = default;

std::string CVarnolApp::InputSetting() const { return card_ != nullptr ? card_->DeviceName() : ""; }

void PaneTimerTick() { static_cast<CVarnolApp*>(wxApp::GetInstance())->OnPaneTimer(); }

bool CVarnolApp::ParseCommandLine(int given_count, wxChar** given, std::string& error) {
  std::vector<std::string> words;
  for (int i = 0; i < given_count; ++i) words.push_back(wxString(given[i]).ToStdString());
  CommandLine line(words);  // "--input=FILE" read as "--input FILE"
  const int count = line.Count();
  char** args = line.Argv();
  int inputs = 0;
  for (int i = 1; i < count; ++i) {
    const std::string a = args[i];
    if (line.Attached(i)) {
      error = line.StrayValue(i);
      return false;
    }
    if (a == "--simulate") {
      input_ = Input::Simulate;
      ++inputs;
      if (i + 1 < count && (line.Attached(i + 1) || args[i + 1][0] != '-')) station_ = args[++i];
      if (!MakeEncoder(station_)) {
        error = "no simulated signal for station '" + station_ +
                "' (" + StationNameList() + ")";
        return false;
      }
    } else if (a == "--input") {
      if (i + 1 >= count) {
        error = "--input needs a file name";
        return false;
      }
      input_ = Input::File;
      ++inputs;
      file_ = args[++i];
    } else if (a == "--device") {
      if (i + 1 >= count || args[i + 1][0] == '\0') {
        error = "--device needs the name of a sound input (see varnol --help)";
        return false;
      }
      device_ = args[++i];
      ++inputs;
    } else if (a == "--channel") {
      const auto c = i + 1 < count ? ChannelFromName(args[++i]) : std::nullopt;
      if (!c) {
        error = "--channel needs left, right or mix";
        return false;
      }
      channel_ = *c;
    } else if (a == "--verbose") {
      verbose_ = true;
    } else if (a == "--gain") {
      gain_setting_ = i + 1 < count ? ParseGainSetting(args[++i]) : std::nullopt;
      if (!gain_setting_) {
        error = "--gain takes auto, off or a number of dB within -60..60";
        return false;
      }
    } else if (a == "--tone") {
      tone_setting_ = i + 1 < count ? ParseToneSetting(wxString(args[++i]).ToStdString()) : std::nullopt;
      if (!tone_setting_) {
        error = "--tone takes auto, off or a frequency within 100..190000 Hz";
        return false;
      }
    } else {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  if (inputs > 1) {
    error = "choose one input: --simulate, --input or --device";
    return false;
  }
  return true;
}

bool CVarnolApp::Initialize(int& count, wxChar** args) {
  // The usage and its mistakes need no display: they are answered before the toolkit starts.
  for (int i = 1; i < count; ++i) {
    const wxString a(args[i]);
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a == "--version") {
      std::printf("varnol %s (the Marvesta radio clock window)\n", VARNOL_VERSION);
      std::exit(0);
    }
  }
  std::string error;
  if (!ParseCommandLine(count, args, error)) {
    std::fprintf(stderr, "varnol: %s\n(see varnol --help)\n", error.c_str());
    std::exit(ExitUsage);  // nothing has been started yet
  }
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == 0) && (wayland == nullptr || *wayland == 0)) {
    std::fputs(
        "varnol: the clock window needs a display (DISPLAY is not set); varnol-decode runs without one\n",
        stderr);
    std::exit(ExitNoDisplay);
  }
  bool started = false;
  {
    wxLogNull quiet;  // the toolkit's own complaint is replaced by the one line below
    started = wxApp::Initialize(count, args);
  }
  if (!started) {
    std::fprintf(stderr, "varnol: cannot open the display %s\n", x11 != nullptr && *x11 != 0 ? x11 : wayland);
    std::exit(ExitNoDisplay);
  }
  return true;
}

bool CVarnolApp::OnInit() {
  IgnoreUserSignals();
  SetAppName("varnol");
  SetAppDisplayName(ProgramName);
  wxHelpProvider::Set(new wxSimpleHelpProvider);
  modal_.Register();

  PortAudioWaveInput::QuietAudioLibraries(verbose_);
  if (input_ == Input::SoundCard) {
    auto card = std::make_unique<PortAudioWaveInput>("", channel_);
    card_ = card.get();
    wave_ = std::move(card);
    // Set by the program itself with CAP_SYS_TIME, through the system's time service otherwise.
    base_clock_ = std::make_unique<RealSystemClock>();
    timedated_ = std::make_unique<TimedatedClockService>();
    clock_ = std::make_unique<DesktopSystemClock>(*base_clock_, ProcessMaySetClock(), timedated_.get(),
                                                  [this](const ClockWriteResult& r) { OnClockWriteResult(r); });
    const ToneSetting tone = tone_setting_.value_or(ToneSetting{});
    if (tone.mode == ToneSetting::Mode::Fixed && !ToneShift::Fits(8000.0, tone.hz, FrontEndToneHz)) {
      std::fprintf(stderr, "varnol: --tone %.0f: the sound card is read at 8000 samples a second\n", tone.hz);
      std::exit(ExitUsage);
    }
  } else {
    std::unique_ptr<SampleSource> source;
    if (input_ == Input::Simulate) {
      source = std::make_unique<LiveStation>(station_, ReceiverSettings{});
    } else {
      std::string why;
      // A FIFO with nothing written into it yet: said on stderr; SIGTERM or Ctrl-C ends the wait.
      const RecordingSource::WriterWait wait{
          [this] {
            std::fprintf(stderr, "varnol: waiting for a program to write into '%s'\n", file_.c_str());
          },
          {}};
      auto file = RecordingSource::Open(file_, why, channel_, &wait);
      file_source_ = file.get();
      source = std::move(file);
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
    // The window tests' way to the time-service path without the machine's clock: the sandbox
    // clock's writes go to the time service on the bus the test provides instead.
    if (SandboxWritesToTimeService()) {
      base_clock_ = std::move(clock_);
      timedated_ = std::make_unique<TimedatedClockService>();
      clock_ = std::make_unique<DesktopSystemClock>(*base_clock_, false, timedated_.get(),
                                                    [this](const ClockWriteResult& r) { OnClockWriteResult(r); });
    }
  }
  // A finished buffer wakes the idle processing (called on the capture's own thread).
  wave_->SetBufferDoneNotifier([] { wxWakeUpIdle(); });

  settings_ = std::make_unique<RegistrySettingsStore>(OpenHostRegistry());
  // The document writes the PC clock through the robust lock's guard: a write that contradicts
  // a confident lock is refused.
  station_lock_ = std::make_unique<StationLock>(*clock_);
  doc_ = std::make_unique<CVarnolDoc>(*wave_, *station_lock_, errors_, settings_.get());
  doc_->AddObserver(&snapshot_log_);
  monitor_ = std::make_unique<WindowSignalMonitor>(*doc_);
  doc_->AddObserver(monitor_.get());
  // The input: --device for this run, else the one chosen before.
  if (card_ != nullptr) card_->SetDeviceName(device_ ? *device_ : settings_->Device());
  errors_.SetDetail([this] { return WaveErrorDetail(); });
  if (input_ == Input::File) doc_->ProtectFromSnapshot(file_);
  // The simulated station is the one decoded, as if chosen in the Transmitter menu.
  if (const auto mode = StationFromName(station_); input_ == Input::Simulate && mode) doc_->OnStation(*mode);
  // The robust lock on the same buffers, for the station chosen (built again when it changes).
  station_lock_->Follow(doc_.get());
  doc_->AddObserver(station_lock_.get());
  SetUpInputStages();
  if (input_ == Input::SoundCard) {
    doc_->AddObserver(&card_rate_);
    SetCardRateMeasure([this] { return card_rate_.BlocksPerMinute(); });
  }
  if (input_ == Input::File) {
    // A recording's 8000 samples are a second: 3750 blocks a minute for this run; the stored
    // calibration is put back at the end unless the user changed it meanwhile.
    stored_bpm_ = doc_->BlocksPerMinute;
    doc_->BlocksPerMinute = static_cast<int>(RecordingBlocksPerMinute);
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
  frame_->SetServices(this);
  frame_->SetInputServices(this);
  SetTopWindow(frame_);
  frame_->SetTitle(ProgramName);
  frame_->SetIcon(ProgramIcon(32));
  // SIGTERM, SIGINT and SIGHUP close the window as File > Exit does (snapshot and settings
  // written), whatever it shows; without a display there is no window to close, but the same
  // saving is done. (Until here the signals end the program at once: nothing has changed yet.)
  // Watched before the window is shown: a signal sent as soon as it appears on the screen is
  // handled by the event loop once it runs.
  WatchTerminationSignals([this] { OnTerminationSignal(); });
  RealizeBeforeShowing(frame_);
  frame_->Show();
  OnDisplayLost([this] { doc_.reset(); },
                "varnol: lost the connection to the display; capture stopped, settings saved", 1);
  frame_->CallAfter([f = frame_] { f->FitStripHeight(); });

  return true;
}

namespace {

// "auto", "off" or the frequency, as --tone takes it and the settings keep it.
std::string ToneText(const ToneSetting& t) {
  if (t.mode == ToneSetting::Mode::Auto) return "auto";
  if (t.mode == ToneSetting::Mode::Off) return "off";
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", t.hz);
  return text;
}

}  // namespace

void CVarnolApp::SetUpInputStages() {
  stages_ = std::make_unique<InputStages>(*doc_);
  // The options hold for this run; otherwise the settings of the Setup menu.
  std::optional<GainSetting> gain = gain_setting_;
  if (!gain && settings_->AutoLevel()) gain = GainSetting{true, 0.0};
  const bool tone_given = tone_setting_.has_value();
  tone_ = tone_setting_ ? *tone_setting_ : ParseToneSetting(settings_->Tone()).value_or(ToneSetting{});
  const bool look_ahead = input_ == Input::File && CanLookAhead(file_);
  if (!tone_given && tone_.mode == ToneSetting::Mode::Fixed && !look_ahead &&
      !ToneShift::Fits(8000.0, tone_.hz, FrontEndToneHz)) {
    // Set for a recording of a high rate: the sound card is read at 8000 samples a second.
    std::fprintf(stderr,
                 "varnol: tone: %.0f Hz is out of reach at 8000 samples a second; looked for instead\n",
                 tone_.hz);
    tone_ = ToneSetting{};
  }
  if (look_ahead) {
    // The recording's first seconds, looked at before its first block is measured: where its
    // tone is (moved at the file's own rate) and, with the automatic gain, where the gain starts.
    // The station read from the settings decides whether the tone may move (WWV's AM audio stays).
    std::string why;
    RecordingLookAhead look;
    const bool auto_gain = gain && gain->automatic;
    auto outcome = LookAheadRecording(file_, channel_, doc_->StationMode, tone_, auto_gain, look, why);
    if (outcome == LookAheadOutcome::ToneOutOfReach && !tone_given) {
      // A stored frequency this recording's rate cannot reach: looked for instead.
      std::fprintf(stderr, "varnol: tone: %s; looked for instead\n", why.c_str());
      tone_ = ToneSetting{};
      outcome = LookAheadRecording(file_, channel_, doc_->StationMode, tone_, auto_gain, look, why);
    }
    if (outcome == LookAheadOutcome::ToneOutOfReach) {
      std::fprintf(stderr, "varnol: --tone: %s\n", why.c_str());
      std::exit(ExitUsage);
    }
    if (outcome == LookAheadOutcome::Done) {
      FileToneShift* shift = nullptr;
      if (look.tone.shifted) {
        file_shift_ = std::make_unique<FileToneShift>(look.file_rate, look.tone.from_hz, FrontEndToneHz);
        file_source_->SetRateFilter(file_shift_.get());
        shift = file_shift_.get();
      }
      stages_->UseFileShift(tone_, shift, look.tone);
      if (auto_gain && look.gain_db) gain->db = *look.gain_db;
    } else {
      stages_->SetTone(tone_, doc_->StationMode);
    }
  } else if (input_ == Input::Simulate) {
    stages_->NoTone();  // the simulated receiver's tone is where the clock measures it
  } else {
    // The sound card's tone, or a stream's: heard for its first seconds, then moved.
    stages_->SetTone(tone_, doc_->StationMode);
  }
  stages_->SetGain(gain);
  doc_->InputFilter = stages_.get();
  TellTone();
}

void CVarnolApp::TellTone() {
  if (!stages_ || stages_->ToneGeneration() == tone_told_) return;
  const ToneState state = stages_->Tone();
  if (state.phase != ToneState::Phase::Decided) return;
  tone_told_ = stages_->ToneGeneration();
  std::fprintf(stderr, "varnol: tone: %s\n", state.decision.text.c_str());
}

bool CVarnolApp::AutoLevel() const {
  const GainStage* gain = stages_ ? stages_->Gain() : nullptr;
  return gain != nullptr && gain->Automatic();
}

void CVarnolApp::SetAutoLevel(bool on) {
  settings_->SetAutoLevel(on);
  if (stages_) stages_->SetGain(on ? std::optional<GainSetting>(GainSetting{true, 0.0}) : std::nullopt);
}

std::string CVarnolApp::SetToneChoice(const ToneSetting& setting) {
  settings_->SetTone(ToneText(setting));
  tone_ = setting;
  if (input_ == Input::Simulate) return "";  // kept for the sound card and recordings
  if (setting.mode == ToneSetting::Mode::Fixed && !ToneShift::Fits(8000.0, setting.hz, FrontEndToneHz)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "A tone at %.0f Hz cannot be moved in audio of 8000 samples a second. The setting is kept "
                  "for recordings sampled fast enough; until then the tone is left where it is.",
                  setting.hz);
    stages_->SetTone(ToneSetting{ToneSetting::Mode::Off, 0.0}, doc_->StationMode);
    return text;
  }
  stages_->SetTone(setting, doc_->StationMode);
  if (setting.mode == ToneSetting::Mode::Auto)
    std::fprintf(stderr, "varnol: tone: looking for the tone again\n");
  return "";
}

void CVarnolApp::StationChanged() {
  if (!stages_ || !doc_ || !stages_->StationChanged(doc_->StationMode)) return;
  std::fprintf(stderr, "varnol: tone: looking again, for %s\n",
               CVarnolDoc::StationShortName(doc_->StationMode));
}

void CVarnolApp::OnTerminationSignal() {
  if (frame_ != nullptr && wxTopLevelWindows.Find(frame_) != nullptr) frame_->CloseFromOutside();
}

int CVarnolApp::OnExit() {
  // A running capture stops (writing the snapshot, and saying on stderr when it cannot), then
  // the document saves the settings.
  if (doc_) doc_->StopCapture();
  if (doc_ && stored_bpm_ != 0 && doc_->BlocksPerMinute == static_cast<int>(RecordingBlocksPerMinute))
    doc_->BlocksPerMinute = stored_bpm_;
  if (doc_) doc_->InputFilter = nullptr;
  if (doc_) doc_->RemoveObserver(&card_rate_);
  SetCardRateMeasure(nullptr);
  if (doc_ && monitor_) doc_->RemoveObserver(monitor_.get());
  if (doc_ && station_lock_) doc_->RemoveObserver(station_lock_.get());
  doc_.reset();
  station_lock_.reset();
  // A time-service request still on its way is dropped: its answer has no window to go to.
  timedated_.reset();
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
  TellTone();
  FollowRobustLock();
  // A recording that has played to its end delivers no more buffers: once the last whole one
  // is decoded, the capture stops (and so shows "ready to start") instead of waiting for ever.
  if (recording_ != nullptr && recording_->AtEnd() && doc_->Stopped == 0 && !CurrentBufferDone()) {
    std::fprintf(stderr, "varnol: the recording has ended\n");
    if (file_source_ != nullptr && !file_source_->ReadError().empty())
      std::fprintf(stderr, "varnol: reading %s failed: %s\n", file_.c_str(), file_source_->ReadError().c_str());
    else if (file_source_ != nullptr && file_source_->EndedEarly())
      std::fprintf(stderr, "varnol: %s ended early: the file is shorter than its header says\n", file_.c_str());
    doc_->StopCapture();
  }
  // A sound card that no longer delivers audio (unplugged, its sound server gone) stops the
  // capture as a lost device does: snapshot, and "ready to start" in the panes.
  if (card_ != nullptr && doc_->Stopped == 0 && card_->StreamLost()) {
    std::fprintf(stderr, "varnol: the sound device stopped delivering audio\n");
    doc_->StopCapture();
  }
  if (frame_ != nullptr && wxTopLevelWindows.Find(frame_) != nullptr) frame_->RefreshCommandUi();
}

void CVarnolApp::ChooseInput(const std::string& setting) {
  if (card_ == nullptr || !doc_) return;
  settings_->SetDevice(setting);  // saved with the other settings at exit
  device_.reset();
  const bool capturing = doc_->Stopped == 0;
  if (capturing) doc_->StopCapture();
  card_->SetDeviceName(setting);
  if (capturing) doc_->StartCapture();
}

std::string CVarnolApp::SignalReport() {
  if (!monitor_) return "";
  std::string report = monitor_->Report(WallClockMilliseconds());
  if (station_lock_) {
    report += '\n';
    report += station_lock_->Describe();
  }
  return report;
}

void CVarnolApp::FollowRobustLock() {
  if (!station_lock_) return;
  // A new station gets its own lock here, outside the processing of buffers.
  station_lock_->FollowStation();
  // A write the lock refused: said on standard error as varnol-decode says it, and on the
  // message line.
  std::string refusal;
  if (!station_lock_->TakeRefusal(&refusal)) return;
  std::fprintf(stderr, "varnol: %s\n", refusal.c_str());
  if (frame_ != nullptr && wxTopLevelWindows.Find(frame_) != nullptr)
    frame_->SetMessageLine("PC clock not set: the robust lock disagrees");
}

void CVarnolApp::OnClockWriteResult(const ClockWriteResult& result) {
  if (monitor_) monitor_->OnClockWriteResult(result, WallClockMilliseconds());
  // The clock now reads the radio's time: what the document does after a write it made itself.
  if (result.outcome == ClockWriteOutcome::Written && result.through_service && doc_) doc_->SetSyncOffset(0);
  // The time service's answers and every failure also go to standard error (a line each).
  if (result.outcome != ClockWriteOutcome::Requested &&
      (result.through_service || result.outcome != ClockWriteOutcome::Written))
    std::fprintf(stderr, "varnol: %s\n", ClockWriteStatus(result).c_str());
  if (frame_ != nullptr && wxTopLevelWindows.Find(frame_) != nullptr) frame_->ShowClockWrite(result);
}

std::string CVarnolApp::WaveErrorDetail() const {
  if (card_ == nullptr) return "";
  std::string text = "Input tried: " + DescribeInputSetting(card_->DeviceName());
  if (!card_->LastErrorText().empty()) text += " (" + card_->LastErrorText() + ")";
  text +=
      ". Check that the receiver's sound card is plugged in and not taken by another program, "
      "and choose the input in Setup > Sound input (arecord -l lists the cards).";
  return text;
}
