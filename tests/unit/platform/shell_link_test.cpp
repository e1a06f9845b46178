// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell_link.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "unit/platform/temp_root.h"

namespace {

// The value lnkinfo prints for a field ("\tWorking directory\t\t: C:\..."), or "" if absent.
std::string LnkField(const std::string& output, const std::string& field) {
  size_t at = output.find("\t" + field);
  if (at == std::string::npos) return "";
  size_t colon = output.find(": ", at);
  size_t end = output.find('\n', colon);
  return output.substr(colon + 2, end - colon - 2);
}

struct LinkCase {
  const char* label;
  const char* target;
  const char* description;
  const char* directory;
};

class ShellLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(ShellLinkTest, LnkinfoReadsBackWhatWasSet) {
  const LinkCase& c = GetParam();
  TempRoot root;
  std::filesystem::create_directories(root / "drive_c/Program Files/Clock");
  WriteText(root / "drive_c/Program Files/Clock/Clock.exe", "0123456789");
  HostFiles files(root.path());
  HostShellLinkFactory factory(files);
  std::unique_ptr<ShellLink> link;
  ASSERT_EQ(factory.CreateShellLink(&link), S_OK);
  ASSERT_EQ(link->SetPath(c.target), S_OK);
  ASSERT_EQ(link->SetDescription(c.description), S_OK);
  ASSERT_EQ(link->SetWorkingDirectory(c.directory), S_OK);
  ASSERT_EQ(link->Save(MultiByteToWideChar("C:\\Clock.LNK"), true), S_OK);

  const std::string output = CommandOutput("lnkinfo " + ShellQuote(root / "drive_c/Clock.LNK") + " 2>&1");
  EXPECT_EQ(LnkField(output, "Local path"), c.target) << output;
  EXPECT_EQ(LnkField(output, "Description"), c.description) << output;
  EXPECT_EQ(LnkField(output, "Working directory"), c.directory) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Links, ShellLinkTest,
    ::testing::Values(
        LinkCase{"existing_target", "C:\\Program Files\\Clock\\Clock.exe", "Clock",
                 "C:\\Program Files\\Clock"},
        LinkCase{"missing_target", "D:\\Apps\\Radio Clock\\radio.exe", "Radio Clock 1.6",
                 "D:\\Apps\\Radio Clock"},
        LinkCase{"long_path",
                 "C:\\Program Files\\A folder name that is much longer than the eighty characters of "
                 "old\\clock.exe",
                 "A description",
                 "C:\\Program Files\\A folder name that is much longer than the eighty characters of old"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(ShellLinkFile, PropertiesTooLongForTheFormatAreRefused) {
  TempRoot root;
  HostFiles files(root.path());
  HostShellLinkFactory factory(files);
  std::unique_ptr<ShellLink> link;
  ASSERT_EQ(factory.CreateShellLink(&link), S_OK);
  const std::string huge(70000, 'a');
  EXPECT_EQ(link->SetPath(huge), E_INVALIDARG);
  EXPECT_EQ(link->SetDescription(huge), E_INVALIDARG);
  EXPECT_EQ(link->SetWorkingDirectory(huge), E_INVALIDARG);
  EXPECT_EQ(link->SetPath(""), E_INVALIDARG);
}

TEST(ShellLinkFile, SavingIntoAMissingFolderFails) {
  TempRoot root;
  HostFiles files(root.path());
  HostShellLinkFactory factory(files);
  std::unique_ptr<ShellLink> link;
  ASSERT_EQ(factory.CreateShellLink(&link), S_OK);
  ASSERT_EQ(link->SetPath("C:\\x.exe"), S_OK);
  EXPECT_TRUE(FAILED(link->Save(MultiByteToWideChar("C:\\No Folder\\x.LNK"), true)));
}

struct TextCase {
  const char* label;
  std::string utf8;
  std::u16string utf16;
  std::string back;
};

class WideTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(WideTextTest, ConvertsEveryByteString) {
  EXPECT_EQ(MultiByteToWideChar(GetParam().utf8), GetParam().utf16);
  EXPECT_EQ(WideCharToUtf8(GetParam().utf16), GetParam().back);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideTextTest,
    ::testing::Values(TextCase{"ascii", "Clock", u"Clock", "Clock"},
                      TextCase{"two_byte", "Uhr \xC3\xA4", u"Uhr \u00E4", "Uhr \xC3\xA4"},
                      TextCase{"three_byte", "\xE2\x82\xAC", u"\u20AC", "\xE2\x82\xAC"},
                      TextCase{"astral", "\xF0\x9F\x95\x90", u"\U0001F550", "\xF0\x9F\x95\x90"},
                      TextCase{"latin1_byte", "caf\xE9", u"caf\u00E9", "caf\xC3\xA9"},
                      TextCase{"truncated_sequence", "a\xE2\x82", u"a\u00E2\u0082", "a\xC3\xA2\xC2\x82"},
                      TextCase{"overlong", "\xC0\xAF", u"\u00C0\u00AF", "\xC3\x80\xC2\xAF"},
                      TextCase{"surrogate_half", "\xED\xA0\x80", u"\u00ED\u00A0\u0080",
                               "\xC3\xAD\xC2\xA0\xC2\x80"}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
