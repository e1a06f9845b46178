// The sound card through PortAudio: the default input (or one chosen by name) at 8000 Hz,
// 16-bit mono. PortAudio's own thread copies the samples into the oldest queued buffer and
// only then sets its done flag; the clock program never waits on it.
#pragma once

#include <string>

#include "capture/queued_wave_input.h"

class PortAudioWaveInput : public QueuedWaveInput {
 public:
  // `device_name`: empty for the default input, else a part of the device's name.
  explicit PortAudioWaveInput(std::string device_name = "");
  ~PortAudioWaveInput() override;

  // PortAudio's own words for the last failure (for logs and the command line).
  const std::string& LastErrorText() const { return last_error_; }

  // Called on PortAudio's thread with each chunk of captured samples.
  // `adc_time_ns`: CLOCK_REALTIME of the chunk's first sample (0 when unknown).
  void OnAudio(const int16_t* samples, unsigned long frames, int64_t adc_time_ns = 0) {
    SetDeliveryTime(adc_time_ns, 125000.0);
    Deliver(samples, frames);
  }

  // Names of the input devices PortAudio sees.
  static std::string ListInputDevices();

 protected:
  MMRESULT OnOpen(const WAVEFORMATEX& format) override;
  MMRESULT OnStart() override;
  void OnStop() override;
  void OnClose() override;

 private:
  MMRESULT MapError(int pa_error);

  std::string device_name_;
  std::string last_error_;
  bool initialized_ = false;
  void* stream_ = nullptr;  // PaStream*
};
