// SPDX-License-Identifier: GPL-3.0-or-later
#include "conditioning/input_stages.h"

void InputStages::SetTone(const ToneSetting& setting, int station_mode) {
  if (file_shift_ != nullptr) file_shift_->SwitchOff();
  file_shift_ = nullptr;
  file_decided_ = false;
  setting_ = setting;
  station_mode_ = station_mode;
  has_tone_ = true;
  live_ = std::make_unique<LiveToneStage>(setting, station_mode);
  live_decided_ = live_->Decided();
  ++generation_;
}

void InputStages::UseFileShift(const ToneSetting& setting, FileToneShift* shift,
                               const ToneDecision& decision) {
  setting_ = setting;
  has_tone_ = true;
  live_.reset();
  file_shift_ = shift;
  file_decided_ = true;
  file_decision_ = decision;
  station_mode_ = doc_.StationMode;
  ++generation_;
}

void InputStages::NoTone() {
  if (file_shift_ != nullptr) file_shift_->SwitchOff();
  file_shift_ = nullptr;
  file_decided_ = false;
  live_.reset();
  has_tone_ = false;
  ++generation_;
}

bool InputStages::StationChanged(int station_mode) {
  if (!has_tone_ || station_mode == station_mode_) return false;
  station_mode_ = station_mode;
  // A fixed frequency or no move at all is the user's word for every station.
  if (setting_.mode != ToneSetting::Mode::Auto) return false;
  SetTone(setting_, station_mode);
  return true;
}

void InputStages::SetGain(const std::optional<GainSetting>& gain) {
  if (!gain)
    gain_.reset();
  else if (gain->automatic)
    gain_ = std::make_unique<GainStage>(doc_, gain->db);
  else
    gain_ = std::make_unique<GainStage>(gain->db);
}

ToneState InputStages::Tone() const {
  ToneState s;
  s.measured_hz = station_mode_ == StationWwv ? 100.0 : FrontEndToneHz;
  if (file_decided_) {
    s.phase = ToneState::Phase::Decided;
    s.decision = file_decision_;
    s.at_file_rate = file_shift_ != nullptr;
  } else if (live_) {
    s.phase = live_->Decided() ? ToneState::Phase::Decided : ToneState::Phase::Searching;
    if (live_->Decided()) s.decision = live_->Decision();
    s.heard_seconds = live_->HeardSeconds();
  }
  return s;
}

void InputStages::Apply(int16_t* samples, int count) {
  if (tap_on_) tap_.Add(samples, count);
  if (live_) {
    live_->Apply(samples, count);
    if (!live_decided_ && live_->Decided()) {
      live_decided_ = true;
      ++generation_;
    }
  }
  if (gain_) gain_->Apply(samples, count);
}
