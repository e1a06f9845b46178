#include "capture/portaudio_wave_input.h"

#include <portaudio.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

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
                         : static_cast<double>(frames) / 8000.0;
  const int64_t adc_ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec -
                         static_cast<int64_t>(age * 1e9);
  static_cast<PortAudioWaveInput*>(self)->OnAudio(static_cast<const int16_t*>(input), frames, adc_ns);
  return paContinue;
}

}  // namespace

PortAudioWaveInput::PortAudioWaveInput(std::string device_name)
    : device_name_(std::move(device_name)) {}

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
  if (device_name_.empty()) {
    device = Pa_GetDefaultInputDevice();
  } else {
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
      const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
      if (info != nullptr && info->maxInputChannels > 0 &&
          std::strstr(info->name, device_name_.c_str()) != nullptr) {
        device = i;
        break;
      }
    }
  }
  if (device == paNoDevice) {
    last_error_ = device_name_.empty() ? "no input device" : "no input device named " + device_name_;
    return MMSYSERR_BADDEVICEID;
  }
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  PaStreamParameters in;
  std::memset(&in, 0, sizeof in);
  in.device = device;
  in.channelCount = 1;
  in.sampleFormat = paInt16;
  in.suggestedLatency = info != nullptr ? info->defaultHighInputLatency : 0.1;
  PaStream* stream = nullptr;
  const PaError e = Pa_OpenStream(&stream, &in, nullptr, format.nSamplesPerSec, 128, paNoFlag,
                                  &PaCallback, this);
  if (e != paNoError) return MapError(e);
  stream_ = stream;
  return MMSYSERR_NOERROR;
}

MMRESULT PortAudioWaveInput::OnStart() {
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

std::string PortAudioWaveInput::ListInputDevices() {
  std::string out;
  if (Pa_Initialize() != paNoError) return out;
  for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info != nullptr && info->maxInputChannels > 0) out += std::string(info->name) + "\n";
  }
  Pa_Terminate();
  return out;
}
