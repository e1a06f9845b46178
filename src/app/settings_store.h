// SPDX-License-Identifier: GPL-3.0-or-later
// The clock's four persisted settings in the registry: key "SOFTWARE\QOVEN\Marvesta\1.6" under
// HKEY_LOCAL_MACHINE, values "CO" (offset from UT, the 8 bytes of a little-endian double), "TX"
// (station), "AF" (automatic clock setting) and "MS" (blocks per minute), each of the last three a
// little-endian REG_DWORD. Read once when the document is built, written once when it is
// destroyed. A key that cannot be opened means defaults and nothing saved; no failure is reported.
//
// Beside them, "Device" (REG_SZ) keeps the window's choice of input (capture/input_devices.h),
// written only once an input other than the default has been chosen; a file without it is read
// as before, and programs that know only the four values pass it by.
//
// So are the window's two input settings, each written only once the user has set it:
// "AutoLevel" (REG_DWORD, 1 for the automatic level, off when missing) and "Tone" (REG_SZ, where
// the receiver puts the station's tone: "auto", "off" or a frequency in Hz; "auto" when missing).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/varnol_doc.h"
#include "platform/registry.h"

class RegistrySettingsStore : public SettingsStore {
 public:
  static constexpr const char* KeyPath = "SOFTWARE\\QOVEN\\Marvesta\\1.6";

  explicit RegistrySettingsStore(Registry& registry) : registry_(registry) {}
  // Keeps the registry alive as long as the store.
  explicit RegistrySettingsStore(std::unique_ptr<Registry> owned)
      : owned_(std::move(owned)), registry_(*owned_) {}

  void Load(CVarnolDoc& doc) override;
  void Save(const CVarnolDoc& doc) override;

  // The input setting as loaded (or as set since), saved with the others.
  const std::string& Device() const { return device_; }
  void SetDevice(std::string device) { device_ = std::move(device); }
  static constexpr size_t MaxDeviceLength = 511;  // bytes; a longer stored value is ignored

  bool AutoLevel() const { return auto_level_ != 0; }
  void SetAutoLevel(bool on) {
    auto_level_ = on ? 1 : 0;
    auto_level_set_ = true;
  }
  // As stored; the caller reads it (a value it cannot read counts as "auto").
  const std::string& Tone() const { return tone_; }
  void SetTone(std::string tone) {
    tone_ = std::move(tone);
    tone_set_ = true;
  }
  static constexpr size_t MaxToneLength = 31;  // bytes; a longer stored value is ignored

 private:
  std::string device_;
  bool device_stored_ = false;  // the key holds a "Device" value (it is then always rewritten)
  uint32_t auto_level_ = 0;
  bool auto_level_set_ = false;  // read from the key or set since: written back
  std::string tone_ = "auto";
  bool tone_set_ = false;
  std::unique_ptr<Registry> owned_;
  Registry& registry_;
};
