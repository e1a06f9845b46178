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
#pragma once

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

 private:
  std::string device_;
  bool device_stored_ = false;  // the key holds a "Device" value (it is then always rewritten)
  std::unique_ptr<Registry> owned_;
  Registry& registry_;
};
