// SPDX-License-Identifier: GPL-3.0-or-later
// The settings' byte layout and range checks, on a registry kept in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "app/settings_store.h"
#include "platform/hive_registry.h"
#include "unit/app/fakes.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  HiveRegistry reg{""};  // in memory
  RegistrySettingsStore store{reg};
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;

  void Put(const char* name, DWORD type, std::vector<uint8_t> bytes) {
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, RegistrySettingsStore::KeyPath, 0, KEY_ALL_ACCESS,
                                  &key, &disposition),
              ERROR_SUCCESS);
    reg.RegSetValueExA(key, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    reg.RegCloseKey(key);
  }
  void PutDword(const char* name, uint32_t v) {
    Put(name, REG_DWORD, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
  void PutDouble(const char* name, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(bits >> (8 * i));
    Put(name, REG_BINARY, b);
  }
  std::vector<uint8_t> Get(const char* name, DWORD* type) {
    HKEY key = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(HKEY_LOCAL_MACHINE, RegistrySettingsStore::KeyPath, KEY_READ, &key),
              ERROR_SUCCESS);
    std::vector<uint8_t> data(16);
    DWORD size = 16;
    if (reg.RegQueryValueExA(key, name, type, data.data(), &size) != ERROR_SUCCESS) size = 0;
    reg.RegCloseKey(key);
    data.resize(size);
    return data;
  }
};

TEST_F(SettingsStoreTest, ValuesAreWrittenWithTheirTypesLowByteFirst) {
  {
    CVarnolDoc doc(wave, clock, errors, &store);
    doc.StationMode = 6;
    doc.PcClockOffset = 5.5;
    doc.AutoSetClock = 1;
    doc.BlocksPerMinute = 3799;
  }
  DWORD type = REG_NONE;
  // 3799 = 0x0ED7; 5.5 = 0x4016000000000000.
  EXPECT_EQ(Get("MS", &type), (std::vector<uint8_t>{0xD7, 0x0E, 0, 0}));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Get("CO", &type), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x16, 0x40}));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(Get("TX", &type), (std::vector<uint8_t>{6, 0, 0, 0}));
  EXPECT_EQ(Get("AF", &type), (std::vector<uint8_t>{1, 0, 0, 0}));
  CVarnolDoc again(wave, clock, errors, &store);
  EXPECT_EQ(again.StationMode, 6);
  EXPECT_EQ(again.PcClockOffset, 5.5);
  EXPECT_EQ(again.AutoSetClock, 1);
  EXPECT_EQ(again.BlocksPerMinute, 3799);
  EXPECT_STREQ(again.UtOffsetLabel, "+05.5");
}

TEST_F(SettingsStoreTest, StoredTypesAreNotCheckedButOversizedValuesAreIgnored) {
  Put("TX", REG_BINARY, {3, 0, 0, 0});     // a station stored with the wrong type still counts
  Put("MS", REG_BINARY, std::vector<uint8_t>(8, 0x01));  // larger than its field
  CVarnolDoc doc(wave, clock, errors, &store);
  EXPECT_EQ(doc.StationMode, 3);
  EXPECT_EQ(doc.BlocksPerMinute, 3756);
}

// Stored values outside their ranges take that value's default; the others are kept.
struct StoredCase {
  const char* name;
  const char* value;
  double number;
  int station, bpm, auto_set;
  double offset;
};

class OutOfRangeSettings : public SettingsStoreTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(OutOfRangeSettings, TakeTheirDefault) {
  const StoredCase& c = GetParam();
  PutDword("TX", 2);
  PutDword("MS", 3790);
  PutDword("AF", 1);
  PutDouble("CO", 2.0);
  if (std::strcmp(c.value, "CO") == 0)
    PutDouble("CO", c.number);
  else
    PutDword(c.value, static_cast<uint32_t>(static_cast<int64_t>(c.number)));
  CVarnolDoc doc(wave, clock, errors, &store);
  EXPECT_EQ(doc.StationMode, c.station);
  EXPECT_EQ(doc.BlocksPerMinute, c.bpm);
  EXPECT_EQ(doc.AutoSetClock, c.auto_set);
  EXPECT_EQ(doc.PcClockOffset, c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OutOfRangeSettings,
    ::testing::Values(
        StoredCase{"station7", "TX", 7, 7, 3790, 1, 2.0},
        StoredCase{"stationPastTheList", "TX", StationCount, 0, 3790, 1, 2.0},
        StoredCase{"stationMinus1", "TX", -1, 0, 3790, 1, 2.0},
        StoredCase{"station6", "TX", 6, 6, 3790, 1, 2.0},
        StoredCase{"bpm3699", "MS", 3699, 2, 3756, 1, 2.0},
        StoredCase{"bpm3801", "MS", 3801, 2, 3756, 1, 2.0},
        StoredCase{"bpm0", "MS", 0, 2, 3756, 1, 2.0},
        StoredCase{"bpm3700", "MS", 3700, 2, 3700, 1, 2.0},
        StoredCase{"bpm3800", "MS", 3800, 2, 3800, 1, 2.0},
        StoredCase{"offset13_5", "CO", 13.5, 2, 3790, 1, 0.0},
        StoredCase{"offsetMinus13", "CO", -13.0, 2, 3790, 1, -13.0},
        StoredCase{"offsetMinus13_1", "CO", -13.1, 2, 3790, 1, 0.0},
        StoredCase{"offsetNan", "CO", std::numeric_limits<double>::quiet_NaN(), 2, 3790, 1, 0.0},
        StoredCase{"offsetInf", "CO", std::numeric_limits<double>::infinity(), 2, 3790, 1, 0.0},
        StoredCase{"autoSet5", "AF", 5, 2, 3790, 0, 2.0}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
