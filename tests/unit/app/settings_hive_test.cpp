// SPDX-License-Identifier: GPL-3.0-or-later
// The settings against the real hive files, in a temporary QOVEN_ROOT.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "app/command_ids.h"
#include "app/settings_store.h"
#include "platform/hive_registry.h"
#include "unit/app/fakes.h"

namespace fs = std::filesystem;

namespace {

class HiveSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("varnol-hive-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    ::setenv("QOVEN_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QOVEN_ROOT");
    fs::remove_all(root_);
  }

  fs::path Hive() const { return root_ / "registry" / "HKEY_LOCAL_MACHINE.reg"; }
  std::string HiveText() const {
    std::ifstream in(Hive(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The settings key as the hive file holds it now.
  HiveRegistry::Key StoredKey() const {
    HiveRegistry::Hive hive;
    EXPECT_TRUE(HiveRegistry::Parse("HKEY_LOCAL_MACHINE", HiveText(), &hive));
    auto k = hive.find(RegistrySettingsStore::KeyPath);
    if (k == hive.end()) return {};
    return k->second;
  }
  static uint32_t Dword(const HiveRegistry::Key& key, const char* name) {
    auto v = key.values.find(name);
    if (v == key.values.end() || v->second.data.size() != 4) return 0xFFFFFFFFu;
    const auto& d = v->second.data;
    return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
  }

  fs::path root_;
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
};

// Runs the program's settings life once: load, `change`, save at exit.
template <typename Change>
void RunOnce(FakeWaveInput& w, FakeClock& c, RecordingErrors& e, Change change) {
  RegistrySettingsStore store(OpenHostRegistry());
  CVarnolDoc doc(w, c, e, &store);
  change(doc);
}

TEST_F(HiveSettings, FirstRunUsesDefaultsAndWritesFourValuesAtExit) {
  RunOnce(wave, clock, errors, [&](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 0);
    EXPECT_EQ(doc.BlocksPerMinute, 3756);
    EXPECT_STREQ(doc.UtOffsetLabel, "+00.0");
  });
  const HiveRegistry::Key key = StoredKey();
  ASSERT_EQ(key.values.size(), 4u);
  EXPECT_EQ(key.values.at("CO").type, REG_BINARY);
  EXPECT_EQ(key.values.at("CO").data, std::vector<uint8_t>(8, 0));
  EXPECT_EQ(key.values.at("TX").type, REG_DWORD);
  EXPECT_EQ(Dword(key, "TX"), 0u);
  EXPECT_EQ(Dword(key, "AF"), 0u);
  EXPECT_EQ(Dword(key, "MS"), 3756u);
}

TEST_F(HiveSettings, SecondRunReadsWhatTheFirstWrote) {
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    doc.StationMode = 2;
    doc.PcClockOffset = -3.5;
    doc.AutoSetClock = 1;
    doc.BlocksPerMinute = 3712;
  });
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 2);
    EXPECT_EQ(doc.PcClockOffset, -3.5);
    EXPECT_STREQ(doc.UtOffsetLabel, "-03.5");
    EXPECT_EQ(doc.AutoSetClock, 1);
    EXPECT_EQ(doc.BlocksPerMinute, 3712);
  });
}

TEST_F(HiveSettings, PartialKeyWrittenByHandKeepsDefaults) {
  fs::create_directories(Hive().parent_path());
  std::ofstream(Hive()) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOVEN\\Marvesta\\1.6]\r\n"
                           "\"TX\"=dword:00000005\r\n\"CO\"=hex:00,00,00,00,00,00,0c,c0\r\n\r\n";
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 5);
    EXPECT_EQ(doc.PcClockOffset, -3.5);
    EXPECT_STREQ(doc.UtOffsetLabel, "-03.5");
    EXPECT_EQ(doc.AutoSetClock, 0);
    EXPECT_EQ(doc.BlocksPerMinute, 3756);
  });
}

// A hive written before the stations after WWV were added opens on the station it names, with
// that station's menu item checked, and keeps its number at exit.
TEST_F(HiveSettings, OlderHiveOpensOnItsStation) {
  fs::create_directories(Hive().parent_path());
  for (const uint32_t tx : {3u, 6u}) {
    std::ofstream(Hive()) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOVEN\\Marvesta\\1.6]\r\n"
                          << "\"TX\"=dword:0000000" << tx << "\r\n\"MS\"=dword:00000eb0\r\n\r\n";
    RunOnce(wave, clock, errors, [&](CVarnolDoc& doc) {
      EXPECT_EQ(doc.StationMode, static_cast<int>(tx));
      for (int station = 0; station < StationCount; ++station) {
        RecordingCmdUI ui;
        ASSERT_TRUE(doc.OnUpdateCmdUI(cmd::StationCommands[station], ui));
        EXPECT_EQ(ui.check, station == static_cast<int>(tx) ? 1 : 0) << station;
      }
      EXPECT_EQ(doc.BlocksPerMinute, 3760);
    });
    EXPECT_EQ(Dword(StoredKey(), "TX"), tx);
  }
}

TEST_F(HiveSettings, ChangesReachTheHiveOnlyAtExit) {
  RunOnce(wave, clock, errors, [](CVarnolDoc&) {});
  const std::string before = HiveText();
  {
    RegistrySettingsStore store(OpenHostRegistry());
    CVarnolDoc doc(wave, clock, errors, &store);
    doc.OnCmdMsg(32821, nullptr);  // WWV/WWVH
    doc.OnCmdMsg(32812, nullptr);  // auto set
    EXPECT_EQ(HiveText(), before);
  }
  EXPECT_NE(HiveText(), before);
  EXPECT_EQ(Dword(StoredKey(), "TX"), 6u);
  EXPECT_EQ(Dword(StoredKey(), "AF"), 1u);
}

TEST_F(HiveSettings, OutOfRangeStoredValuesTakeTheirDefaults) {
  fs::create_directories(Hive().parent_path());
  std::ofstream(Hive()) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOVEN\\Marvesta\\1.6]\r\n"
                           "\"TX\"=dword:00000009\r\n\"MS\"=dword:00001000\r\n\"AF\"=dword:00000001\r\n"
                           "\"CO\"=hex:00,00,00,00,00,00,f8,7f\r\n\r\n";  // CO is a NaN
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 0);
    EXPECT_EQ(doc.BlocksPerMinute, 3756);
    EXPECT_EQ(doc.PcClockOffset, 0.0);
    EXPECT_STREQ(doc.UtOffsetLabel, "+00.0");
    EXPECT_EQ(doc.AutoSetClock, 1);
  });
  EXPECT_EQ(Dword(StoredKey(), "MS"), 3756u);
}

TEST_F(HiveSettings, DamagedHiveIsKeptAsideAndTheRunGoesOnWithDefaults) {
  fs::create_directories(Hive().parent_path());
  const std::string garbage = "this is not a registry file\n\x01\x02[[[";
  std::ofstream(Hive(), std::ios::binary) << garbage;
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 0);
    doc.StationMode = 3;
  });
  EXPECT_EQ(Dword(StoredKey(), "TX"), 3u);
  int kept = 0;
  for (const auto& entry : fs::directory_iterator(Hive().parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("HKEY_LOCAL_MACHINE.reg.damaged-", 0) == 0) {
      ++kept;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      EXPECT_EQ(s.str(), garbage);
    }
  }
  EXPECT_EQ(kept, 1);
}

TEST_F(HiveSettings, UnwritableRegistryMeansDefaultsAndNothingSaved) {
  // A plain file where the registry folder should be: no hive can be written there.
  std::ofstream(root_ / "registry") << "in the way";
  RunOnce(wave, clock, errors, [](CVarnolDoc& doc) {
    EXPECT_EQ(doc.StationMode, 0);
    EXPECT_EQ(doc.BlocksPerMinute, 3756);
    doc.StationMode = 4;
  });
  EXPECT_TRUE(fs::is_regular_file(root_ / "registry"));
  std::ifstream in(root_ / "registry");
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "in the way");
}

}  // namespace

namespace {

// The window's input beside the four values: absent until chosen, kept across runs, cleared
// when the default is chosen again; an older file without it opens as before.
TEST_F(HiveSettings, ChosenInputIsKeptBesideTheFourValues) {
  auto run = [&](auto body) {
    RegistrySettingsStore store(OpenHostRegistry());
    {
      CVarnolDoc doc(wave, clock, errors, &store);
      body(store);
    }
  };
  run([](RegistrySettingsStore& s) { EXPECT_EQ(s.Device(), ""); });
  EXPECT_EQ(StoredKey().values.count("Device"), 0u);  // nothing chosen: the four values only
  run([](RegistrySettingsStore& s) { s.SetDevice("pulse:alsa_input.usb-Receiver-00.mono-fallback"); });
  EXPECT_EQ(StoredKey().values.at("Device").type, REG_SZ);
  run([](RegistrySettingsStore& s) {
    EXPECT_EQ(s.Device(), "pulse:alsa_input.usb-Receiver-00.mono-fallback");
    s.SetDevice("");
  });
  run([](RegistrySettingsStore& s) { EXPECT_EQ(s.Device(), ""); });
  EXPECT_EQ(Dword(StoredKey(), "MS"), 3756u);
}

}  // namespace
