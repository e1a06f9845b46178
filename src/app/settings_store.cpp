// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings_store.h"

#include <cstdint>
#include <cstring>

namespace {

// Reads a value into the bytes of `field`, as the registry call would: up to sizeof(T) bytes,
// little-endian, the stored type unchecked. A missing value, or one larger than the field,
// leaves the field as it was.
template <typename T>
void ReadInto(Registry& registry, HKEY key, const char* name, T& field) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8);
  uint8_t bytes[sizeof(T)];
  // The field's current bytes, least significant first, so that a shorter stored value
  // replaces only the low bytes.
  uint64_t bits = 0;
  std::memcpy(&bits, &field, sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  DWORD type = REG_NONE;
  DWORD size = sizeof(T);
  if (registry.RegQueryValueExA(key, name, &type, bytes, &size) != ERROR_SUCCESS) return;
  bits = 0;
  for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  std::memcpy(&field, &bits, sizeof(T));
}

template <typename T>
void Write(Registry& registry, HKEY key, const char* name, DWORD type, const T& field) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8);
  uint64_t bits = 0;
  std::memcpy(&bits, &field, sizeof(T));
  uint8_t bytes[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  registry.RegSetValueExA(key, name, type, bytes, sizeof(T));
}

}  // namespace

void RegistrySettingsStore::Load(CVarnolDoc& doc) {
  HKEY key = 0;
  DWORD disposition = 0;
  if (registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, &key, &disposition) != ERROR_SUCCESS)
    return;  // defaults; the document builds the offset label itself
  // A key created just now holds nothing to read.
  if (disposition == REG_OPENED_EXISTING_KEY) {
    ReadInto(registry_, key, "CO", doc.PcClockOffset);
    ReadInto(registry_, key, "TX", doc.StationMode);
    ReadInto(registry_, key, "AF", doc.AutoSetClock);
    ReadInto(registry_, key, "MS", doc.BlocksPerMinute);
    uint8_t text[MaxDeviceLength + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof text;
    if (registry_.RegQueryValueExA(key, "Device", &type, text, &size) == ERROR_SUCCESS && type == REG_SZ) {
      device_stored_ = true;
      // Up to the first terminating zero, whether or not the stored size counts it.
      size_t n = 0;
      while (n < size && n < MaxDeviceLength && text[n] != 0) ++n;
      device_.assign(reinterpret_cast<const char*>(text), n);
    }
    DWORD level = 0;
    type = REG_NONE;
    size = sizeof level;
    uint8_t level_bytes[4] = {};
    if (registry_.RegQueryValueExA(key, "AutoLevel", &type, level_bytes, &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == 4) {
      level = level_bytes[0] | level_bytes[1] << 8 | level_bytes[2] << 16 |
              static_cast<DWORD>(level_bytes[3]) << 24;
      auto_level_ = level != 0 ? 1 : 0;
      auto_level_set_ = true;
    }
    uint8_t tone[MaxToneLength + 1] = {};
    type = REG_NONE;
    size = sizeof tone;
    if (registry_.RegQueryValueExA(key, "Tone", &type, tone, &size) == ERROR_SUCCESS && type == REG_SZ) {
      size_t n = 0;
      while (n < size && n < MaxToneLength && tone[n] != 0) ++n;
      tone_.assign(reinterpret_cast<const char*>(tone), n);
      tone_set_ = true;
    }
  }
  registry_.RegCloseKey(key);
}

void RegistrySettingsStore::Save(const CVarnolDoc& doc) {
  HKEY key = 0;
  DWORD disposition = 0;
  if (registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, &key, &disposition) != ERROR_SUCCESS)
    return;
  Write(registry_, key, "CO", REG_BINARY, doc.PcClockOffset);
  Write(registry_, key, "TX", REG_DWORD, doc.StationMode);
  Write(registry_, key, "AF", REG_DWORD, doc.AutoSetClock);
  Write(registry_, key, "MS", REG_DWORD, doc.BlocksPerMinute);
  if (!device_.empty() || device_stored_) {
    const std::string value = device_.substr(0, MaxDeviceLength);
    registry_.RegSetValueExA(key, "Device", REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
  }
  if (auto_level_set_) Write(registry_, key, "AutoLevel", REG_DWORD, auto_level_);
  if (tone_set_) {
    const std::string value = tone_.substr(0, MaxToneLength);
    registry_.RegSetValueExA(key, "Tone", REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
  }
  registry_.RegCloseKey(key);
}
