// SPDX-License-Identifier: GPL-3.0-or-later
// The clock's four persisted settings in the registry: key "SOFTWARE\QOVEN\Marvesta\1.6" under
// HKEY_LOCAL_MACHINE, values "CO" (offset from UT, the 8 bytes of a little-endian double), "TX"
// (station), "AF" (automatic clock setting) and "MS" (blocks per minute), each of the last three a
// little-endian REG_DWORD. Read once when the document is built, written once when it is
// destroyed. A key that cannot be opened means defaults and nothing saved; no failure is reported.
#pragma once

#include <memory>

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

 private:
  std::unique_ptr<Registry> owned_;
  Registry& registry_;
};
