// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnolApp: the clock window's application object -- its command line, the single document
// with its capture device, clock and settings, the idle processing, and the orderly end on a
// termination signal. The program (wx_main.cpp) runs it as it is; the window tests' build
// derives from it to drive the window once it is shown.
#pragma once

#include <wx/modalhook.h>
#include <wx/wx.h>

#include <memory>
#include <optional>
#include <string>

#include "app/settings_store.h"
#include "app/varnol_doc.h"
#include "app/wx_varnol.h"
#include "capture/channel_choice.h"
#include "capture/wx_wave_error_dlg.h"
#include "conditioning/conditioning.h"
#include "conditioning/gain_stage.h"
#include "conditioning/input_stages.h"

class CMainFrame;
class PortAudioWaveInput;
class RecordingSource;
class SourceWaveInput;
class TimedatedClockService;
class StationLock;
class WindowSignalMonitor;
struct ClockWriteResult;

// What became of the snapshot, on standard error: the window itself stays silent about it.
class SnapshotLog : public DocObserver {
 public:
  void OnSnapshot(SnapshotOutcome outcome, const char* path, int error) override;
};

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

class CVarnolApp : public wxApp, public WindowServices, public InputServices {
 public:
  CVarnolApp();
  ~CVarnolApp() override;
  bool Initialize(int& argc, wxChar** argv) override;
  bool OnInit() override;
  int OnExit() override;
  int FilterEvent(wxEvent& event) override;

  void OnPaneTimer();

  // WindowServices
  bool CanChooseInput() const override { return card_ != nullptr; }
  std::string InputSetting() const override;
  void ChooseInput(const std::string& setting) override;
  std::string SignalReport() override;

  // InputServices
  bool AutoLevel() const override;
  void SetAutoLevel(bool on) override;
  ToneSetting ToneChoice() const override { return tone_; }
  std::string SetToneChoice(const ToneSetting& setting) override;
  void StationChanged() override;
  InputStages* Stages() override { return stages_.get(); }

 protected:
  // The window and its document once OnInit has shown them (nullptr before, and after the end).
  CMainFrame* Frame() const { return frame_; }
  CVarnolDoc* Doc() const { return doc_.get(); }
  // Whether the clock of --simulate and --input hands its writes to the system's time service
  // (on the bus the window tests provide) instead of keeping them: never in the program itself.
  virtual bool SandboxWritesToTimeService() const { return false; }

 private:
  void OnClockWriteResult(const ClockWriteResult& result);
  std::string WaveErrorDetail() const;
  bool ParseCommandLine(int count, wxChar** args, std::string& error);
  void OnIdleEvent(wxIdleEvent& event);
  bool CurrentBufferDone() const;
  void OnTerminationSignal();
  void SetUpInputStages();
  void TellTone();
  void FollowRobustLock();

  enum class Input { SoundCard, Simulate, File } input_ = Input::SoundCard;
  std::string station_ = "dcf77";
  std::string file_;
  std::optional<std::string> device_;  // --device: the input for this run
  ChannelChoice channel_ = ChannelChoice::Left;
  bool verbose_ = false;
  PortAudioWaveInput* card_ = nullptr;       // the capture device when it is the sound card
  SnapshotLog snapshot_log_;                 // outlives the document, which stops the capture at exit
  std::optional<GainSetting> gain_setting_;  // --gain, for this run (else the stored setting)
  std::optional<ToneSetting> tone_setting_;  // --tone, for this run (else the stored setting)
  ToneSetting tone_;                         // the tone setting in force
  std::unique_ptr<FileToneShift> file_shift_;  // a recording's tone, moved at its own rate
  std::unique_ptr<InputStages> stages_;        // tuning-aid tap, tone and gain on the 8000 Hz audio
  int tone_told_ = -1;                         // the tone stage's generation last told on stderr
  int stored_bpm_ = 0;       // the stored calibration, while a recording runs at its own rate
  CardRateWatch card_rate_;  // the sound card's rate against the system clock, for "Measure"

  std::unique_ptr<WaveInput> wave_;
  SourceWaveInput* recording_ = nullptr;     // the capture device when it plays a recording
  RecordingSource* file_source_ = nullptr;   // that recording as read, to tell if it was cut short
  std::unique_ptr<SystemClock> base_clock_;  // what the PC clock reads (and writes, when it may)
  std::unique_ptr<TimedatedClockService> timedated_;
  std::unique_ptr<SystemClock> clock_;
  // The robust lock beside the loop, and the clock the document writes through it (wx_app.cpp).
  std::unique_ptr<StationLock> station_lock_;
  std::unique_ptr<WindowSignalMonitor> monitor_;
  WxWaveErrorDialog errors_;
  std::unique_ptr<RegistrySettingsStore> settings_;
  std::unique_ptr<CVarnolDoc> doc_;
  CMainFrame* frame_ = nullptr;
  ModalCounter modal_;
  long idle_count_ = 0;
};
