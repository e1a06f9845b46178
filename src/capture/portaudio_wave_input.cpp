// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/portaudio_wave_input.h"

#include "capture/input_devices.h"

#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Eight buffers of 2048 samples at 8000 per second without a single chunk: the device is gone.
constexpr int64_t SilentLimitNs = 8 * 2048 * 1000000000LL / 8000;

// ALSA's error handler and JACK's error and info functions, looked up where PortAudio has
// loaded them (either library may be absent from the PortAudio build).
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
void AlsaSilent(const char*, int, const char*, int, const char*, ...) {}
void JackSilent(const char*) {}

int PaCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo* time,
               PaStreamCallbackFlags, void* self) {
  if (input == nullptr) return paContinue;
  // The stream clock says how long ago the chunk's first sample left the converter
  // (currentTime - inputBufferAdcTime); the system clock read now turns that into
  // CLOCK_REALTIME. Without a usable ADC time, the chunk is taken to have just ended.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const double age = time != nullptr && time->inputBufferAdcTime > 0.0 &&
                             time->currentTime >= time->inputBufferAdcTime
                         ? time->currentTime - time->inputBufferAdcTime
                         : static_cast<double>(frames) / static_cast<PortAudioWaveInput*>(self)->CardRate();
  const int64_t adc_ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec -
                         static_cast<int64_t>(age * 1e9);
  static_cast<PortAudioWaveInput*>(self)->OnAudio(static_cast<const int16_t*>(input), frames, adc_ns);
  return paContinue;
}

}  // namespace

PortAudioWaveInput::PortAudioWaveInput(std::string device_name, ChannelChoice channel)
    : device_name_(std::move(device_name)), channel_(channel), watch_(SilentLimitNs) {}

void PortAudioWaveInput::QuietAudioLibraries(bool verbose) {
  // Looking for devices must not start a JACK server as a side effect (the user's own
  // setting wins).
  setenv("JACK_NO_START_SERVER", "1", 0);
  if (verbose) return;
  if (void* f = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"); f != nullptr)
    reinterpret_cast<int (*)(AlsaErrorHandler)>(f)(&AlsaSilent);
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
    if (void* f = dlsym(RTLD_DEFAULT, name); f != nullptr)
      reinterpret_cast<void (*)(void (*)(const char*))>(f)(&JackSilent);
}

void PortAudioWaveInput::OnAudio(const int16_t* samples, unsigned long frames, int64_t adc_time_ns) {
  watch_.Delivered(MonotonicNs());
  constexpr double NsPerSample = 125000.0;  // 8000 samples per second
  if (channels_ == 1 && !stage_) {
    SetDeliveryTime(adc_time_ns, NsPerSample);
    Deliver(samples, frames);
    return;
  }
  // One side of the stereo input (or both averaged), and at a high rate the stage that brings
  // it to 8000 a second, a piece at a time: this runs on the audio thread and allocates nothing.
  const double ns_per_frame = 1e9 / (card_rate_ > 0 ? card_rate_ : 8000);
  int16_t mono[HighRateStage::MaxChunk];
  int16_t low[HighRateStage::MaxChunk + 1];
  while (frames > 0) {
    const size_t n = std::min<unsigned long>(frames, std::size(mono));
    for (size_t i = 0; i < n; ++i)
      mono[i] = PickChannel(samples + i * static_cast<size_t>(channels_), channels_, channel_);
    if (stage_) {
      // The first sample made began in the card's samples already summed before this piece.
      const int64_t first_ns =
          adc_time_ns != 0 ? adc_time_ns - static_cast<int64_t>(stage_->Pending() * ns_per_frame) : 0;
      const size_t made = stage_->Process(mono, n, low);
      if (made > 0) {
        SetDeliveryTime(first_ns, NsPerSample);
        Deliver(low, made);
      }
    } else {
      SetDeliveryTime(adc_time_ns, NsPerSample);
      Deliver(mono, n);
    }
    if (adc_time_ns != 0) adc_time_ns += static_cast<int64_t>(static_cast<double>(n) * ns_per_frame);
    samples += n * static_cast<size_t>(channels_);
    frames -= n;
  }
}

bool PortAudioWaveInput::StreamLost() const {
  if (stream_ == nullptr || !IsRunning()) return false;
  return Pa_IsStreamActive(static_cast<PaStream*>(stream_)) != 1 || watch_.Silent(MonotonicNs());
}

PortAudioWaveInput::~PortAudioWaveInput() {
  if (stream_ != nullptr) {
    Pa_AbortStream(static_cast<PaStream*>(stream_));
    Pa_CloseStream(static_cast<PaStream*>(stream_));
    stream_ = nullptr;
  }
  if (initialized_) Pa_Terminate();
}

MMRESULT PortAudioWaveInput::MapError(int pa_error) {
  last_error_ = Pa_GetErrorText(pa_error);
  switch (pa_error) {
    case paNoDevice:
    case paInvalidDevice:
      return MMSYSERR_BADDEVICEID;
    case paDeviceUnavailable:
      return MMSYSERR_ALLOCATED;
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
    case paIncompatibleStreamHostApi:
      return WAVERR_BADFORMAT;
    case paInsufficientMemory:
      return MMSYSERR_NOMEM;
    case paNotInitialized:
    case paHostApiNotFound:
    case paInvalidHostApi:
      return MMSYSERR_NODRIVER;
    case paUnanticipatedHostError: {
      const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
      if (info != nullptr) {
        if (info->errorText != nullptr) last_error_ += std::string(": ") + info->errorText;
        if (info->errorCode == -EBUSY || info->errorCode == EBUSY) return MMSYSERR_ALLOCATED;
        if (info->errorCode == -ENOENT || info->errorCode == -ENODEV) return MMSYSERR_BADDEVICEID;
      }
      return MMSYSERR_ERROR;
    }
    default:
      return MMSYSERR_ERROR;
  }
}

namespace {
// PULSE_SOURCE was set here (process-wide, as the environment is).
bool g_source_set = false;
}  // namespace

MMRESULT PortAudioWaveInput::OnOpen(const WAVEFORMATEX& format) {
  if (!initialized_) {
    const PaError e = Pa_Initialize();
    if (e != paNoError) {
      last_error_ = Pa_GetErrorText(e);
      return MMSYSERR_NODRIVER;
    }
    initialized_ = true;
  }
  PaDeviceIndex device = paNoDevice;
  // A source of the sound server is read through ALSA's "pulse" device, which asks the
  // server for the source PULSE_SOURCE names when the stream is opened. Any other choice
  // clears it: the default input often goes through the same server, and would otherwise go
  // on reading the source chosen before.
  const std::string source = SoundServerSourceOf(device_name_);
  if (!source.empty())
    setenv("PULSE_SOURCE", source.c_str(), 1);
  else if (g_source_set)
    unsetenv("PULSE_SOURCE");  // (one the user started the program with stays)
  g_source_set = !source.empty();
  if (device_name_.empty()) {
    device = Pa_GetDefaultInputDevice();
  } else {
    // Inputs only, in PortAudio's order; an output-only device keeps an empty name.
    std::vector<std::string> names;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
      const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
      names.push_back(info != nullptr && info->maxInputChannels > 0 && info->name != nullptr ? info->name : "");
    }
    if (!source.empty()) {
      const auto pulse = std::find(names.begin(), names.end(), "pulse");
      if (pulse != names.end()) device = static_cast<PaDeviceIndex>(pulse - names.begin());
    } else {
      const int picked = PickInputDevice(names, device_name_);
      if (picked >= 0) device = picked;
    }
  }
  if (device == paNoDevice) {
    last_error_ = device_name_.empty() ? "no input device"
                  : !source.empty()    ? "no sound server to read the source " + source + " from"
                                       : "no input device named " + device_name_;
    return MMSYSERR_BADDEVICEID;
  }
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  PaStreamParameters in;
  std::memset(&in, 0, sizeof in);
  in.device = device;
  in.sampleFormat = paInt16;
  in.suggestedLatency = info != nullptr ? info->defaultHighInputLatency : 0.1;
  // The rates to try: the clock's own, or the high rates whose filter can be had.
  int rates[std::size(HighRates)] = {};
  size_t rate_count = 0;
  if (filter_for_) {
    for (const int r : HighRates) rates[rate_count++] = r;
  } else {
    rates[rate_count++] = static_cast<int>(format.nSamplesPerSec);
  }
  stage_.reset();
  card_rate_ = 0;
  PaError e = paInvalidSampleRate;
  PaStream* stream = nullptr;
  for (size_t k = 0; k < rate_count && card_rate_ == 0; ++k) {
    const int rate = rates[k];
    CaptureRateFilter* filter = nullptr;
    if (filter_for_) {
      filter = filter_for_(rate);
      if (filter == nullptr) continue;  // the carrier lies above what this rate can carry
    }
    // About 16 ms a callback at any rate.
    const unsigned long per_buffer = 128UL * static_cast<unsigned long>(rate / 8000);
    // A card that delivers two channels is opened with both, so that the chosen side is the
    // one heard (a mono open of a stereo card may mix the sides or fail on a raw device).
    e = paInvalidChannelCount;
    if (info != nullptr && info->maxInputChannels >= 2) {
      channels_ = in.channelCount = 2;
      e = Pa_OpenStream(&stream, &in, nullptr, rate, per_buffer, paNoFlag, &PaCallback, this);
    }
    if (e != paNoError) {
      channels_ = in.channelCount = 1;
      e = Pa_OpenStream(&stream, &in, nullptr, rate, per_buffer, paNoFlag, &PaCallback, this);
    }
    if (e != paNoError) continue;
    card_rate_ = rate;
    if (filter_for_) stage_.emplace(rate / 8000, filter);
  }
  if (card_rate_ == 0) {
    if (filter_for_ && e == paInvalidSampleRate) {
      last_error_ = "the device opens at none of 96000, 192000 or 384000 samples a second that can carry the tone";
      return WAVERR_BADFORMAT;
    }
    return MapError(e);
  }
  stream_ = stream;
  return MMSYSERR_NOERROR;
}

MMRESULT PortAudioWaveInput::OnStart() {
  watch_.Start(MonotonicNs());
  const PaError e = Pa_StartStream(static_cast<PaStream*>(stream_));
  return e == paNoError ? MMSYSERR_NOERROR : MapError(e);
}

void PortAudioWaveInput::OnStop() {
  if (stream_ != nullptr) Pa_AbortStream(static_cast<PaStream*>(stream_));
}

void PortAudioWaveInput::OnClose() {
  if (stream_ != nullptr) {
    Pa_CloseStream(static_cast<PaStream*>(stream_));
    stream_ = nullptr;
  }
}

std::string PortAudioWaveInput::ListInputDevices(bool& ok) {
  std::string out;
  if (const PaError e = Pa_Initialize(); e != paNoError) {
    ok = false;
    return Pa_GetErrorText(e);
  }
  ok = true;
  for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info != nullptr && info->maxInputChannels > 0) out += std::string(info->name) + "\n";
  }
  Pa_Terminate();
  return out;
}
