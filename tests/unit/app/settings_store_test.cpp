#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "app/settings_store.h"
#include "unit/app/fakes.h"

namespace {

const std::string kKey = RegistrySettingsStore::KeyPath;

struct Services {
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
};

uint32_t Dword(const FakeRegistryValue& v) {
  EXPECT_EQ(v.bytes.size(), 4u);
  return uint32_t(v.bytes[0]) | uint32_t(v.bytes[1]) << 8 | uint32_t(v.bytes[2]) << 16 |
         uint32_t(v.bytes[3]) << 24;
}

double Double(const FakeRegistryValue& v) {
  EXPECT_EQ(v.bytes.size(), 8u);
  uint64_t bits = 0;
  for (size_t i = 0; i < 8 && i < v.bytes.size(); ++i) bits |= uint64_t(v.bytes[i]) << (8 * i);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

TEST(SettingsStore, FirstRunReadsNothingAndWritesAllFourAtExit) {
  FakeRegistry reg;
  RegistrySettingsStore store(reg);
  Services s;
  {
    CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
    EXPECT_EQ(reg.queries, 0);
    EXPECT_EQ(doc.StationMode, 0);
    EXPECT_EQ(doc.PcClockOffset, 0.0);
    EXPECT_EQ(doc.AutoSetClock, 0);
    EXPECT_EQ(doc.BlocksPerMinute, 3756);
    EXPECT_STREQ(doc.UtOffsetLabel, "+00.0");
    EXPECT_EQ(reg.writes, 0);
  }
  ASSERT_EQ(reg.keys.count(kKey), 1u);
  const auto& key = reg.keys[kKey];
  ASSERT_EQ(key.size(), 4u);
  EXPECT_EQ(key.at("CO").type, REG_BINARY);
  EXPECT_EQ(Double(key.at("CO")), 0.0);
  EXPECT_EQ(key.at("TX").type, REG_DWORD);
  EXPECT_EQ(Dword(key.at("TX")), 0u);
  EXPECT_EQ(key.at("AF").type, REG_DWORD);
  EXPECT_EQ(Dword(key.at("AF")), 0u);
  EXPECT_EQ(key.at("MS").type, REG_DWORD);
  EXPECT_EQ(Dword(key.at("MS")), 3756u);
  EXPECT_EQ(reg.OpenCount(), 0);  // every key opened was closed
}

TEST(SettingsStore, PartialKeyKeepsDefaultsForMissingValues) {
  FakeRegistry reg;
  reg.SetDword(kKey, "TX", 2);
  reg.SetDouble(kKey, "CO", -3.5);
  RegistrySettingsStore store(reg);
  Services s;
  CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
  EXPECT_EQ(doc.StationMode, 2);
  EXPECT_EQ(doc.PcClockOffset, -3.5);
  EXPECT_STREQ(doc.UtOffsetLabel, "-03.5");
  EXPECT_EQ(doc.AutoSetClock, 0);
  EXPECT_EQ(doc.BlocksPerMinute, 3756);
}

TEST(SettingsStore, ValuesRoundTripLittleEndian) {
  FakeRegistry reg;
  RegistrySettingsStore store(reg);
  Services s;
  {
    CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
    doc.StationMode = 6;
    doc.PcClockOffset = 5.5;
    doc.AutoSetClock = 1;
    doc.BlocksPerMinute = 3801 - 2;
  }
  const auto& key = reg.keys[kKey];
  // 3799 = 0x0ED7, stored low byte first.
  EXPECT_EQ(key.at("MS").bytes, (std::vector<uint8_t>{0xD7, 0x0E, 0, 0}));
  // 5.5 = 0x4016000000000000, stored low byte first.
  EXPECT_EQ(key.at("CO").bytes, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x16, 0x40}));
  CVarnolDoc again(s.wave, s.clock, s.errors, &store);
  EXPECT_EQ(again.StationMode, 6);
  EXPECT_EQ(again.PcClockOffset, 5.5);
  EXPECT_EQ(again.AutoSetClock, 1);
  EXPECT_EQ(again.BlocksPerMinute, 3799);
  EXPECT_STREQ(again.UtOffsetLabel, "+05.5");
}

TEST(SettingsStore, ChangesReachTheRegistryOnlyAtExit) {
  FakeRegistry reg;
  reg.SetDword(kKey, "TX", 1);
  RegistrySettingsStore store(reg);
  Services s;
  {
    CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
    doc.OnCmdMsg(32811, nullptr);  // DCF77
    doc.OnCmdMsg(32812, nullptr);  // auto set on
    EXPECT_EQ(Dword(reg.keys[kKey].at("TX")), 1u);
    EXPECT_EQ(reg.keys[kKey].count("AF"), 0u);
    EXPECT_EQ(reg.writes, 0);
  }
  EXPECT_EQ(Dword(reg.keys[kKey].at("TX")), 2u);
  EXPECT_EQ(Dword(reg.keys[kKey].at("AF")), 1u);
}

TEST(SettingsStore, UnopenableKeyMeansDefaultsAndNothingSaved) {
  FakeRegistry reg;
  reg.SetDword(kKey, "TX", 3);
  reg.refuse_open = true;
  RegistrySettingsStore store(reg);
  Services s;
  {
    CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
    EXPECT_EQ(doc.StationMode, 0);
    doc.StationMode = 4;
  }
  EXPECT_EQ(reg.writes, 0);
  EXPECT_EQ(Dword(reg.keys[kKey].at("TX")), 3u);
}

TEST(SettingsStore, ValueLargerThanItsFieldIsIgnored) {
  FakeRegistry reg;
  reg.keys[kKey]["MS"] = {REG_BINARY, std::vector<uint8_t>(8, 0x01)};
  RegistrySettingsStore store(reg);
  Services s;
  CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
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

class OutOfRangeSettings : public ::testing::TestWithParam<StoredCase> {};

TEST_P(OutOfRangeSettings, TakeTheirDefault) {
  const StoredCase& c = GetParam();
  FakeRegistry reg;
  reg.SetDword(kKey, "TX", 2);
  reg.SetDword(kKey, "MS", 3790);
  reg.SetDword(kKey, "AF", 1);
  reg.SetDouble(kKey, "CO", 2.0);
  if (std::strcmp(c.value, "CO") == 0)
    reg.SetDouble(kKey, "CO", c.number);
  else
    reg.SetDword(kKey, c.value, static_cast<uint32_t>(static_cast<int64_t>(c.number)));
  RegistrySettingsStore store(reg);
  Services s;
  CVarnolDoc doc(s.wave, s.clock, s.errors, &store);
  EXPECT_EQ(doc.StationMode, c.station);
  EXPECT_EQ(doc.BlocksPerMinute, c.bpm);
  EXPECT_EQ(doc.AutoSetClock, c.auto_set);
  EXPECT_EQ(doc.PcClockOffset, c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OutOfRangeSettings,
    ::testing::Values(
        StoredCase{"station7", "TX", 7, 0, 3790, 1, 2.0},
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
