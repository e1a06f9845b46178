// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card through PortAudio: the default input (or one chosen by name) at 8000 Hz,
// 16-bit mono; or, for a long-wave carrier taken straight from an antenna, at a high rate
// (96, 192 or 384 kHz) brought down to 8000 Hz on the way (capture/high_rate_stage.h). PortAudio's own thread copies the samples into the oldest queued buffer and
// only then sets its done flag; the clock program never waits on it. When the receiver sits on
// the right side of a stereo card, or on both, two channels are opened and reduced to one.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "capture/channel_choice.h"
#include "capture/delivery_watch.h"
#include "capture/high_rate_stage.h"
#include "capture/queued_wave_input.h"

class PortAudioWaveInput : public QueuedWaveInput {
 public:
  // `device_name`: an input setting (capture/input_devices.h): empty for the default input,
  // "pulse:SOURCE" for a source of the sound server, else a part of the device's name.
  explicit PortAudioWaveInput(std::string device_name = "", ChannelChoice channel = ChannelChoice::Left);
  ~PortAudioWaveInput() override;

  // Another input for the next open (a capture already running keeps its device).
  void SetDeviceName(std::string device_name) { device_name_ = std::move(device_name); }
  const std::string& DeviceName() const { return device_name_; }

  // A carrier taken from the antenna: the next open takes the first of HighRates the card opens
  // at and `filter_for` gives a filter for (nullptr: the rate cannot carry it), and runs that
  // filter at the card's rate before bringing the samples to 8000 a second. `filter_for` is
  // called on the opening thread; the filter it gives must live until the device is closed.
  // An empty function goes back to 8000 Hz.
  static constexpr int HighRates[] = {96000, 192000, 384000};
  void SetHighRate(std::function<CaptureRateFilter*(int rate)> filter_for) { filter_for_ = std::move(filter_for); }
  // The rate the card was opened at (8000 unless a high rate was asked for); 0 before an open.
  int CardRate() const { return card_rate_; }

  // PortAudio's own words for the last failure (for logs and the command line).
  const std::string& LastErrorText() const { return last_error_; }

  // Called on PortAudio's thread with each chunk of captured samples.
  // Called on PortAudio's thread with each chunk of captured samples; `adc_time_ns` is the
  // CLOCK_REALTIME of the chunk's first sample (0 when unknown).
  void OnAudio(const int16_t* samples, unsigned long frames, int64_t adc_time_ns = 0);

  // True while a started capture gets no audio any more: PortAudio has ended the stream (the
  // device went away or failed), or no chunk has come for eight buffer lengths (about 2 s;
  // a sound server that was killed). The caller stops the capture as for any lost device.
  bool StreamLost() const;

  // Names of the input devices PortAudio sees, one a line; `ok` is false when PortAudio
  // cannot start at all (LastErrorText-like reason in the returned text).
  static std::string ListInputDevices(bool& ok);

  // ALSA's and JACK's own messages on standard error (a hundred lines about absent cards
  // before PortAudio says there is no device) are hidden unless `verbose`, and no JACK server
  // is started just to look for devices. Call before the first use of PortAudio.
  static void QuietAudioLibraries(bool verbose);

 protected:
  MMRESULT OnOpen(const WAVEFORMATEX& format) override;
  MMRESULT OnStart() override;
  void OnStop() override;
  void OnClose() override;

 private:
  MMRESULT MapError(int pa_error);

  std::string device_name_;
  ChannelChoice channel_;
  int channels_ = 1;  // opened on the device: 2 when one side of a stereo card is taken
  std::function<CaptureRateFilter*(int rate)> filter_for_;
  int card_rate_ = 0;                  // samples a second the stream runs at
  std::optional<HighRateStage> stage_;  // when the card runs at a high rate
  DeliveryWatch watch_;
  std::string last_error_;
  bool initialized_ = false;
  void* stream_ = nullptr;  // PaStream*
};
