// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/hive_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "unit/platform/temp_root.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s, bool with_zero) {
  std::vector<uint8_t> out(s.begin(), s.end());
  if (with_zero) out.push_back(0);
  return out;
}

LONG SetValue(Registry& reg, HKEY root, const std::string& key, const std::string& name, DWORD type,
              const std::vector<uint8_t>& data) {
  HKEY h = 0;
  LONG rc = reg.RegCreateKeyExA(root, key, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &h, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = reg.RegSetValueExA(h, name, type, data.data(), static_cast<DWORD>(data.size()));
  LONG close = reg.RegCloseKey(h);
  return rc != ERROR_SUCCESS ? rc : close;
}

// Reads a value back through a fresh registry object (so from the file, not from memory).
LONG GetValue(const std::string& dir, HKEY root, const std::string& key, const std::string& name, DWORD* type,
              std::vector<uint8_t>* data) {
  HiveRegistry reg(dir);
  HKEY h = 0;
  LONG rc = reg.RegOpenKeyExA(root, key, KEY_READ, &h);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD size = 0;
  rc = reg.RegQueryValueExA(h, name, type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->assign(size, 0);
    rc = reg.RegQueryValueExA(h, name, type, data->data(), &size);
  }
  reg.RegCloseKey(h);
  return rc;
}

struct ValueCase {
  const char* label;
  DWORD type;
  std::vector<uint8_t> data;
  const char* line;  // how the value appears in the hive file
};

class HiveValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(HiveValueTest, SurvivesTheFileUnchanged) {
  TempRoot root;
  const std::string dir = root / "registry";
  const ValueCase& c = GetParam();
  {
    HiveRegistry reg(dir);
    ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Marvesta\\1.6", "V", c.type, c.data),
              ERROR_SUCCESS);
  }
  const std::string text = ReadText(dir + "/HKEY_LOCAL_MACHINE.reg");
  EXPECT_NE(text.find(std::string("\"V\"=") + c.line + "\r\n"), std::string::npos) << text;
  DWORD type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Marvesta\\1.6", "V", &type, &data),
            ERROR_SUCCESS);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HiveValueTest,
    ::testing::Values(
        ValueCase{"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, "dword:12345678"},
        ValueCase{"binary", REG_BINARY, {0x00, 0xff, 0x10}, "hex:00,ff,10"},
        ValueCase{"empty_binary", REG_BINARY, {}, "hex:"},
        ValueCase{"string", REG_SZ, Bytes("C:\\Program Files", true), "\"C:\\\\Program Files\""},
        ValueCase{"quotes", REG_SZ, Bytes("say \"hi\"", true), "\"say \\\"hi\\\"\""},
        ValueCase{"empty_string", REG_SZ, Bytes("", true), "\"\""},
        ValueCase{"trailing_backslash", REG_SZ, Bytes("C:\\Apps\\", true), "\"C:\\\\Apps\\\\\""},
        ValueCase{"looks_like_hex", REG_SZ, Bytes("x=hex:01,\\", true), "\"x=hex:01,\\\\\""},
        ValueCase{"string_with_break", REG_SZ, Bytes("a\nb", true), "hex(1):61,0a,62,00"},
        ValueCase{"string_without_zero", REG_SZ, Bytes("ab", false), "hex(1):61,62"},
        ValueCase{"short_dword", REG_DWORD, {1, 2}, "hex(4):01,02"},
        ValueCase{"multi_string", 7, Bytes(std::string("a\0b\0", 4), true), "hex(7):61,00,62,00,00"},
        // Types from 10 up are written in hex, as they are read back.
        ValueCase{"qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}, "hex(b):01,02,03,04,05,06,07,08"},
        ValueCase{"large_type", 0x12345, {9}, "hex(12345):09"}),
    [](const auto& p) { return std::string(p.param.label); });

struct DamagedCase {
  const char* label;
  const char* text;
};

class DamagedHiveTest : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedHiveTest, IsReadAsEmptyAndKeptAsideBeforeAWrite) {
  TempRoot root;
  const std::string dir = root / "registry";
  const std::string hive = dir + "/HKEY_LOCAL_MACHINE.reg";
  WriteText(hive, GetParam().text);

  HiveRegistry reg(dir);
  HKEY h = 0;
  EXPECT_EQ(reg.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadText(hive), GetParam().text) << "reading must not touch the file";

  ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\B", "x", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  int aside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("HKEY_LOCAL_MACHINE.reg.damaged-", 0) == 0) {
      ++aside;
      EXPECT_EQ(ReadText(entry.path().string()), GetParam().text);
    }
  }
  EXPECT_EQ(aside, 1);
  EXPECT_NE(ReadText(hive).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]"), std::string::npos);
  EXPECT_EQ(ReadText(hive).find(';'), std::string::npos) << "nothing of the damaged file is carried over";
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedHiveTest,
    ::testing::Values(
        DamagedCase{"no_header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=dword:1\n"},
        DamagedCase{"binary_garbage",
                    "\x7f"
                    "ELF\x01\x02\x00\xff"},
        DamagedCase{"value_before_key", "REGEDIT4\n\"x\"=dword:1\n"},
        DamagedCase{"other_root", "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\A]\n"},
        DamagedCase{"unterminated_string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"abc\n"},
        DamagedCase{"bad_escape", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"a\\qb\"\n"},
        DamagedCase{"long_dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=dword:123456789\n"},
        DamagedCase{"bad_hex", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=hex:0g\n"},
        DamagedCase{"open_header", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\n"},
        DamagedCase{"comment_then_damage", "REGEDIT4\n; note\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\n"},
        DamagedCase{"dangling_continuation",
                    "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=hex:01,\\\n"},
        DamagedCase{"lone_quote", "\""},
        DamagedCase{"name_never_closed", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\\\"\n"},
        DamagedCase{"name_ends_in_escape", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\\"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(HiveRegistry, ReadsHandWrittenHivesWithCommentsAndContinuedHex) {
  TempRoot root;
  const std::string dir = root / "registry";
  WriteText(dir + "/HKEY_CURRENT_USER.reg",
            "REGEDIT4\n; made by hand\n\n[HKEY_CURRENT_USER\\Software\\Test]\n"
            "\"Bin\"=hex:01,02,\\\n  03,04\n@=\"default\"\n");
  DWORD type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(GetValue(dir, HKEY_CURRENT_USER, "SOFTWARE\\TEST", "bin", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 4}));
  ASSERT_EQ(GetValue(dir, HKEY_CURRENT_USER, "software\\test", "", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, Bytes("default", true));
  // The parent of a listed key exists too.
  HiveRegistry reg(dir);
  HKEY h = 0;
  EXPECT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "Software", KEY_READ, &h), ERROR_SUCCESS);
}

TEST(HiveRegistry, TwoWritersKeepEachOthersKeys) {
  TempRoot root;
  const std::string dir = root / "registry";
  HiveRegistry setup(dir), clock(dir);
  HKEY a = 0, b = 0;
  ASSERT_EQ(
      setup.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Setup", 0, KEY_ALL_ACCESS, &a, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(clock.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Marvesta\\1.6", 0, KEY_ALL_ACCESS, &b,
                                  nullptr),
            ERROR_SUCCESS);
  const uint8_t one[4] = {1, 0, 0, 0}, two[4] = {2, 0, 0, 0};
  ASSERT_EQ(setup.RegSetValueExA(a, "A", REG_DWORD, one, 4), ERROR_SUCCESS);
  ASSERT_EQ(clock.RegSetValueExA(b, "CO", REG_DWORD, two, 4), ERROR_SUCCESS);
  ASSERT_EQ(clock.RegCloseKey(b), ERROR_SUCCESS);
  ASSERT_EQ(setup.RegCloseKey(a), ERROR_SUCCESS);  // must not drop the clock's value
  DWORD type = 0;
  std::vector<uint8_t> data;
  EXPECT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Setup", "A", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, "SOFTWARE\\QOVEN\\Marvesta\\1.6", "CO", &type, &data),
            ERROR_SUCCESS);
  EXPECT_EQ(data[0], 2);
}

TEST(HiveRegistry, ConcurrentProcessesLoseNoValue) {
  TempRoot root;
  const std::string dir = root / "registry";
  constexpr int kWriters = 4, kValues = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    if (pid == 0) {
      int failures = 0;
      for (int v = 0; v < kValues; ++v) {
        HiveRegistry reg(dir);
        std::vector<uint8_t> data = {static_cast<uint8_t>(v), 0, 0, 0};
        const std::string key = std::string("SOFTWARE\\W").append(std::to_string(w));
        const std::string name = std::string("v").append(std::to_string(v));
        failures += SetValue(reg, HKEY_LOCAL_MACHINE, key, name, REG_DWORD, data) != ERROR_SUCCESS;
      }
      _exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w) {
    for (int v = 0; v < kValues; ++v) {
      DWORD type = 0;
      std::vector<uint8_t> data;
      const std::string key = std::string("SOFTWARE\\W").append(std::to_string(w));
      const std::string name = std::string("v").append(std::to_string(v));
      EXPECT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, key, name, &type, &data), ERROR_SUCCESS)
          << "writer " << w << " value " << v;
    }
  }
}

TEST(HiveRegistry, QuerySizesAndAccessFollowTheWindowsRules) {
  HiveRegistry reg("");  // in memory
  HKEY h = 0;
  DWORD disposition = 0;
  ASSERT_EQ(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &h, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const char text[] = "twelve chars";
  ASSERT_EQ(reg.RegSetValueExA(h, "S", REG_SZ, reinterpret_cast<const uint8_t*>(text), sizeof text),
            ERROR_SUCCESS);
  uint8_t small[4] = {9, 9, 9, 9};
  DWORD size = sizeof small;
  EXPECT_EQ(reg.RegQueryValueExA(h, "S", nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(small[0], 9) << "nothing is copied when the room is too small";
  EXPECT_EQ(reg.RegQueryValueExA(h, "missing", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.RegQueryValueExA(h, "S", nullptr, small, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(reg.RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(reg.RegCloseKey(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.RegSetValueExA(h, "S", REG_SZ, nullptr, 0), ERROR_INVALID_HANDLE);

  HKEY again = 0;
  ASSERT_EQ(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "k", 0, KEY_READ, &again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(reg.RegSetValueExA(again, "S", REG_SZ, nullptr, 0), ERROR_ACCESS_DENIED);
  HKEY w = 0;
  ASSERT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "K", KEY_WRITE, &w), ERROR_SUCCESS);
  EXPECT_EQ(reg.RegQueryValueExA(w, "S", nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST(HiveRegistry, OpenKeysAreWrittenWhenTheRegistryGoes) {
  TempRoot root;
  const std::string dir = root / "registry";
  {
    HiveRegistry reg(dir);
    HKEY h = 0;
    ASSERT_EQ(reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Left\\Open", 0, KEY_ALL_ACCESS, &h, nullptr),
              ERROR_SUCCESS);
    const uint8_t v[4] = {7, 0, 0, 0};
    ASSERT_EQ(reg.RegSetValueExA(h, "MS", REG_DWORD, v, 4), ERROR_SUCCESS);
  }
  DWORD type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, "SOFTWARE\\Left\\Open", "MS", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data[0], 7);
}

TEST(HiveRegistry, AnUnwritableRootRefusesWriteAccess) {
  TempRoot root;
  const std::string dir = root / "registry";
  {
    HiveRegistry reg(dir);
    ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "x", REG_DWORD, {1, 0, 0, 0}),
              ERROR_SUCCESS);
  }
  const std::string before = ReadText(dir + "/HKEY_LOCAL_MACHINE.reg");
  ::chmod(dir.c_str(), 0555);
  int result = RunUnprivileged([&] {
    HiveRegistry reg(dir);
    HKEY h = 0;
    if (reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, KEY_ALL_ACCESS, &h, nullptr) !=
        ERROR_ACCESS_DENIED)
      return 1;
    if (reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", 0, KEY_WRITE, &h, nullptr) !=
        ERROR_ACCESS_DENIED)
      return 2;
    if (reg.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", KEY_READ, &h) != ERROR_SUCCESS) return 3;
    return 0;
  });
  ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadText(dir + "/HKEY_LOCAL_MACHINE.reg"), before);
}

TEST(HiveRegistry, NamesWithLineBreaksAreRefusedAndTheHiveStaysReadable) {
  TempRoot root;
  const std::string dir = root / "registry";
  {
    HiveRegistry reg(dir);
    HKEY h = 0;
    for (const char* key : {"SOFTWARE\\A\nB", "SOFTWARE\\A\rB"}) {
      EXPECT_EQ(reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h, nullptr),
                ERROR_INVALID_PARAMETER);
    }
    ASSERT_EQ(reg.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Good", 0, KEY_ALL_ACCESS, &h, nullptr),
              ERROR_SUCCESS);
    const uint8_t v[4] = {5, 0, 0, 0};
    EXPECT_EQ(reg.RegSetValueExA(h, "line\nbreak", REG_DWORD, v, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg.RegSetValueExA(h, "ok", REG_DWORD, v, 4), ERROR_SUCCESS);
    ASSERT_EQ(reg.RegCloseKey(h), ERROR_SUCCESS);
  }
  DWORD type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(GetValue(dir, HKEY_LOCAL_MACHINE, "SOFTWARE\\Good", "ok", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data[0], 5);
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos);
  }
}

TEST(HiveRegistry, AWriteRemovesStaleTemporariesAndFollowsNoPlantedLink) {
  TempRoot root, elsewhere;
  const std::string dir = root / "registry";
  // What a writer killed before its rename leaves behind, and names that only look alike.
  WriteText(dir + "/.HKEY_LOCAL_MACHINE.reg.a1B2c3", "half a hive");
  WriteText(dir + "/.HKEY_LOCAL_MACHINE.reg.notes", "kept");
  WriteText(dir + "/.HKEY_CURRENT_USER.reg.a1B2c3", "another hive's, kept");
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), (dir + "/.HKEY_LOCAL_MACHINE.reg.Zz9Zz9").c_str()), 0);
  {
    HiveRegistry reg(dir);
    ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "x", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  }
  EXPECT_FALSE(Exists(dir + "/.HKEY_LOCAL_MACHINE.reg.a1B2c3"));
  EXPECT_FALSE(std::filesystem::is_symlink(dir + "/.HKEY_LOCAL_MACHINE.reg.Zz9Zz9"));
  EXPECT_TRUE(std::filesystem::is_directory(elsewhere.path()));
  EXPECT_TRUE(Exists(dir + "/.HKEY_LOCAL_MACHINE.reg.notes"));
  EXPECT_TRUE(Exists(dir + "/.HKEY_CURRENT_USER.reg.a1B2c3"));

  // A link planted under the lock's name is not followed: its target is never created.
  ASSERT_EQ(::symlink((elsewhere / "made").c_str(), (dir + "/HKEY_CURRENT_USER.reg.lock").c_str()), 0);
  HiveRegistry reg(dir);
  EXPECT_NE(SetValue(reg, HKEY_CURRENT_USER, "Software\\A", "x", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(elsewhere / "made"));
}

TEST(HiveRegistry, CommentLinesStayWhereTheyWereWhenTheHiveIsRewritten) {
  TempRoot root;
  const std::string dir = root / "registry";
  WriteText(dir + "/HKEY_LOCAL_MACHINE.reg",
            "REGEDIT4\r\n; kept by hand\r\n\r\n; the clock\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clock]\r\n"
            "; last good offset\r\n\"CO\"=dword:00000001\r\n\"TX\"=dword:00000002\r\n; the end\r\n");
  {
    HiveRegistry reg(dir);
    ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\Clock", "co", REG_DWORD, {3, 0, 0, 0}),
              ERROR_SUCCESS);
    ASSERT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "x", REG_DWORD, {4, 0, 0, 0}), ERROR_SUCCESS);
  }
  EXPECT_EQ(ReadText(dir + "/HKEY_LOCAL_MACHINE.reg"),
            "REGEDIT4\r\n; kept by hand\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"x\"=dword:00000004\r\n"
            "\r\n; the clock\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clock]\r\n"
            "; last good offset\r\n\"co\"=dword:00000003\r\n\"TX\"=dword:00000002\r\n; the end\r\n");
}

struct DepthCase {
  const char* label;
  size_t depth;  // levels below the root
  bool allowed;
};

class KeyDepthTest : public ::testing::TestWithParam<DepthCase> {};

// A key of `depth` levels: SOFTWARE\k\k\...
std::string DeepKey(size_t depth) {
  std::string key = "SOFTWARE";
  for (size_t i = 1; i < depth; ++i) key += "\\k";
  return key;
}

TEST_P(KeyDepthTest, NoDeeperThanWindowsAllowsIsWrittenOrRead) {
  TempRoot root;
  const std::string dir = root / "registry";
  const DepthCase& c = GetParam();
  {
    HiveRegistry reg(dir);
    EXPECT_EQ(SetValue(reg, HKEY_LOCAL_MACHINE, DeepKey(c.depth), "x", REG_DWORD, {1, 0, 0, 0}),
              c.allowed ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(Exists(dir + "/HKEY_LOCAL_MACHINE.reg"), c.allowed);

  // A file that holds such a key: each level on its own line, as the registry writes it.
  HiveRegistry::Hive hive;
  for (size_t level = 1; level <= c.depth; ++level) hive[DeepKey(level)].path = DeepKey(level);
  const std::string text = HiveRegistry::Format("HKEY_LOCAL_MACHINE", hive);
  HiveRegistry::Hive read;
  EXPECT_EQ(HiveRegistry::Parse("HKEY_LOCAL_MACHINE", text, &read), c.allowed);
  if (c.allowed) {
    EXPECT_EQ(read.size(), c.depth);
  }
  // Written on one line, the deepest key alone.
  const std::string line = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\" + DeepKey(c.depth) + "]\r\n";
  EXPECT_EQ(HiveRegistry::Parse("HKEY_LOCAL_MACHINE", line, &read), c.allowed);
  if (c.allowed) {
    EXPECT_EQ(read.size(), c.depth) << "every level of the key is there";
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, KeyDepthTest,
                         ::testing::Values(DepthCase{"shallow", 3, true}, DepthCase{"deepest", 512, true},
                                           DepthCase{"one_too_deep", 513, false}),
                         [](const auto& p) { return std::string(p.param.label); });

// A registry folder or hive that leads out of the root through a link is neither read nor written.
TEST(HiveRegistry, LinksOutOfTheRootAreNeitherReadNorWritten) {
  TempRoot root, elsewhere;
  const std::string hive_text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\"x\"=dword:00000001\r\n";
  WriteText(elsewhere / "HKEY_LOCAL_MACHINE.reg", hive_text);
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), (root / "registry").c_str()), 0);
  HiveRegistry linked_folder(root / "registry", root.path());
  HKEY h = 0;
  EXPECT_EQ(linked_folder.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetValue(linked_folder, HKEY_CURRENT_USER, "Software\\A", "x", REG_DWORD, {1, 0, 0, 0}),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(elsewhere / "HKEY_CURRENT_USER.reg"));

  // A hive file that is a link out of the root; a link that stays inside is followed.
  std::filesystem::remove(root / "registry");
  std::filesystem::create_directory(root / "registry");
  WriteText(root / "registry/hkcu.txt", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n");
  ASSERT_EQ(::symlink((elsewhere / "HKEY_LOCAL_MACHINE.reg").c_str(),
                      (root / "registry/HKEY_LOCAL_MACHINE.reg").c_str()),
            0);
  ASSERT_EQ(::symlink("hkcu.txt", (root / "registry/HKEY_CURRENT_USER.reg").c_str()), 0);
  HiveRegistry linked_hive(root / "registry", root.path());
  EXPECT_EQ(linked_hive.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetValue(linked_hive, HKEY_LOCAL_MACHINE, "SOFTWARE", "y", REG_DWORD, {2, 0, 0, 0}),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadText(elsewhere / "HKEY_LOCAL_MACHINE.reg"), hive_text);
  EXPECT_EQ(linked_hive.RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", KEY_READ, &h), ERROR_SUCCESS);
  linked_hive.RegCloseKey(h);

  // The host's registry is confined to its root.
  const char* old_root = std::getenv("QOVEN_ROOT");
  const std::string saved = old_root != nullptr ? old_root : "";
  ::setenv("QOVEN_ROOT", root.path().c_str(), 1);
  std::unique_ptr<Registry> host = OpenHostRegistry();
  if (old_root != nullptr) {
    ::setenv("QOVEN_ROOT", saved.c_str(), 1);
  } else {
    ::unsetenv("QOVEN_ROOT");
  }
  EXPECT_EQ(host->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetValue(*host, HKEY_LOCAL_MACHINE, "SOFTWARE", "y", REG_DWORD, {2, 0, 0, 0}),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadText(elsewhere / "HKEY_LOCAL_MACHINE.reg"), hive_text);
}

struct RootCase {
  const char* label;
  const char* qoven_root;
  const char* xdg_data_home;
  const char* home;
  const char* expected;
};

class QovenRootTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(QovenRootTest, FollowsTheEnvironment) {
  const RootCase& c = GetParam();
  auto set = [](const char* name, const char* value) {
    if (value == nullptr)
      ::unsetenv(name);
    else
      ::setenv(name, value, 1);
  };
  const char* old_root = std::getenv("QOVEN_ROOT");
  std::string saved_root = old_root ? old_root : "";
  const char* old_xdg = std::getenv("XDG_DATA_HOME");
  std::string saved_xdg = old_xdg ? old_xdg : "";
  std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  set("QOVEN_ROOT", c.qoven_root);
  set("XDG_DATA_HOME", c.xdg_data_home);
  set("HOME", c.home);
  const std::string root = QovenRoot();
  set("QOVEN_ROOT", old_root ? saved_root.c_str() : nullptr);
  set("XDG_DATA_HOME", old_xdg ? saved_xdg.c_str() : nullptr);
  set("HOME", saved_home.c_str());
  EXPECT_EQ(root, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, QovenRootTest,
    ::testing::Values(RootCase{"explicit", "/srv/q", "/x", "/home/u", "/srv/q"},
                      RootCase{"empty_root", "", "/x", "/home/u", "/x/qoven"},
                      RootCase{"xdg", nullptr, "/data", "/home/u", "/data/qoven"},
                      RootCase{"relative_xdg", nullptr, "data", "/home/u", "/home/u/.local/share/qoven"},
                      RootCase{"home", nullptr, nullptr, "/home/u", "/home/u/.local/share/qoven"}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
