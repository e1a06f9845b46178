// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/host_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/hive_registry.h"
#include "unit/platform/temp_root.h"

namespace {

class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ / "drive_c/WINDOWS/SYSTEM");
    std::filesystem::create_directories(root_ / "drive_c/Program Files");
  }
  std::string C(const std::string& rest) const { return root_ / ("drive_c/" + rest); }

  TempRoot root_;
  HostFiles files_{root_.path()};
};

struct MapCase {
  const char* label;
  const char* windows;
  const char* linux_rest;  // below the root; "" when the mapping must fail
  LONG error;
};

class PathMapTest : public HostFilesTest, public ::testing::WithParamInterface<MapCase> {};

TEST_P(PathMapTest, MapsOntoTheDriveFolders) {
  const MapCase& c = GetParam();
  std::string out;
  EXPECT_EQ(files_.ToLinuxPath(c.windows, &out), c.error);
  if (c.error == ERROR_SUCCESS) {
    EXPECT_EQ(out, root_ / c.linux_rest);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathMapTest,
    ::testing::Values(
        MapCase{"program_files", "C:\\Program Files\\Clock", "drive_c/Program Files/Clock", 0},
        MapCase{"other_drive", "d:/Apps\\Clock", "drive_d/Apps/Clock", 0},
        MapCase{"found_whatever_the_case", "c:\\windows\\system\\x.dll", "drive_c/WINDOWS/SYSTEM/x.dll", 0},
        MapCase{"no_climbing_above_the_drive", "C:\\..\\..\\etc\\passwd", "drive_c/etc/passwd", 0},
        MapCase{"root_of_current_drive", "\\WINDOWS", "drive_c/WINDOWS", 0},
        MapCase{"doubled_separators", "C:\\Program Files\\\\Clock\\", "drive_c/Program Files/Clock", 0},
        MapCase{"network_path", "\\\\server\\share", "", ERROR_PATH_NOT_FOUND},
        MapCase{"forbidden_character", "C:\\a|b", "", ERROR_INVALID_NAME},
        MapCase{"colon_inside", "C:\\a:b", "", ERROR_INVALID_NAME},
        MapCase{"empty", "", "", ERROR_INVALID_NAME},
        // Without a drive a path is taken from the current folder, the root of C:, never from
        // the folder the program was started in; ".." stops at the drive's root.
        MapCase{"relative", "Clock\\a.txt", "drive_c/Clock/a.txt", 0},
        MapCase{"relative_climbing", "..\\..\\..\\victim.txt", "drive_c/victim.txt", 0},
        MapCase{"drive_relative_climbing", "C:..\\x", "drive_c/x", 0}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(HostFilesTest, CreateDirectoryMakesOneLevel) {
  EXPECT_EQ(files_.CreateDirectoryA("C:\\Program Files\\Clock"), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(C("Program Files/Clock")));
  EXPECT_EQ(files_.CreateDirectoryA("C:\\Program Files\\Clock"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(files_.CreateDirectoryA("C:\\No\\Such\\Parent"), ERROR_PATH_NOT_FOUND);
}

TEST_F(HostFilesTest, CopyKeepsTheModificationTimeAndFailsIfAsked) {
  WriteText(C("a.txt"), "new");
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, C("a.txt").c_str(), times, 0), 0);
  ASSERT_EQ(files_.CopyFileA("C:\\a.txt", "C:\\b.txt", true), ERROR_SUCCESS);
  FileStatus a, b;
  ASSERT_EQ(files_.GetFileStatus("C:\\a.txt", &a), ERROR_SUCCESS);
  ASSERT_EQ(files_.GetFileStatus("C:\\B.TXT", &b), ERROR_SUCCESS);
  EXPECT_EQ(a.modified, b.modified);
  EXPECT_EQ(b.size, 3u);
  WriteText(C("b.txt"), "old contents");
  EXPECT_EQ(files_.CopyFileA("C:\\a.txt", "C:\\b.txt", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadText(C("b.txt")), "old contents");
  EXPECT_EQ(files_.CopyFileA("C:\\a.txt", "C:\\b.txt", false), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(C("b.txt")), "new");
  for (const auto& e : std::filesystem::directory_iterator(root_ / "drive_c")) {
    EXPECT_EQ(e.path().filename().string().find(".b.txt."), std::string::npos) << "temporary left";
  }
}

struct CopyErrorCase {
  const char* label;
  const char* from;
  const char* to;
  bool fail_if_exists;
  LONG error;
};

class CopyErrorTest : public HostFilesTest, public ::testing::WithParamInterface<CopyErrorCase> {};

TEST_P(CopyErrorTest, GivesTheWindowsCode) {
  WriteText(C("src.txt"), "x");
  WriteText(C("dst.txt"), "y");
  const CopyErrorCase& c = GetParam();
  EXPECT_EQ(files_.CopyFileA(c.from, c.to, c.fail_if_exists), c.error);
  EXPECT_EQ(ReadText(C("dst.txt")), "y");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CopyErrorTest,
    ::testing::Values(
        CopyErrorCase{"missing_source", "C:\\none.txt", "C:\\new.txt", true, ERROR_FILE_NOT_FOUND},
        CopyErrorCase{"missing_source_folder", "C:\\none\\x.txt", "C:\\new.txt", true, ERROR_PATH_NOT_FOUND},
        CopyErrorCase{"target_exists", "C:\\src.txt", "C:\\dst.txt", true, ERROR_FILE_EXISTS},
        CopyErrorCase{"target_is_a_folder", "C:\\src.txt", "C:\\WINDOWS", false, ERROR_ACCESS_DENIED},
        CopyErrorCase{"source_is_a_folder", "C:\\WINDOWS", "C:\\new.txt", false, ERROR_ACCESS_DENIED},
        CopyErrorCase{"missing_target_folder", "C:\\src.txt", "C:\\none\\x.txt", false, ERROR_PATH_NOT_FOUND},
        CopyErrorCase{"onto_itself", "C:\\dst.txt", "C:\\DST.TXT", false, ERROR_SHARING_VIOLATION}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(HostFilesTest, ATargetLockedByAnotherOpenFileIsInUse) {
  WriteText(C("src.txt"), "new");
  WriteText(C("locked.dll"), "old");
  int fd = ::open(C("locked.dll").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH), 0);
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\locked.dll", false), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadText(C("locked.dll")), "old");
  ::close(fd);
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\locked.dll", false), ERROR_SUCCESS);
}

TEST_F(HostFilesTest, ATargetWithARecordLockOfAnotherProcessIsInUse) {
  WriteText(C("src.txt"), "new");
  WriteText(C("record.dll"), "old");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    int fd = ::open(C("record.dll").c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd < 0 || ::fcntl(fd, F_SETLK, &fl) != 0) _exit(1);
    (void)!::write(ready[1], "r", 1);
    ::pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\record.dll", false), ERROR_SHARING_VIOLATION);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\record.dll", false), ERROR_SUCCESS);
}

TEST_F(HostFilesTest, AProgramBeingRunIsInUse) {
  std::filesystem::copy_file("/bin/sleep", C("WINDOWS/SYSTEM/RUNNING.EXE"));
  ::chmod(C("WINDOWS/SYSTEM/RUNNING.EXE").c_str(), 0755);
  WriteText(C("src.txt"), "new");
  pid_t child = ::fork();
  if (child == 0) {
    ::execl(C("WINDOWS/SYSTEM/RUNNING.EXE").c_str(), "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the child runs the program (its executable is then the copied file).
  const std::string exe_link = "/proc/" + std::to_string(child) + "/exe";
  auto running = [&] {
    std::error_code ec;
    return std::filesystem::read_symlink(exe_link, ec).filename() == "RUNNING.EXE";
  };
  for (int i = 0; i < 200 && !running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!running()) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    GTEST_SKIP() << "programs cannot be run from " << root_.path() << " (mounted noexec?)";
  }
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\WINDOWS\\SYSTEM\\RUNNING.EXE", false),
            ERROR_SHARING_VIOLATION);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST_F(HostFilesTest, NoPermissionIsAccessDenied) {
  WriteText(C("src.txt"), "new");
  WriteText(C("WINDOWS/SYSTEM/ro.dll"), "old");
  ::chmod(C("WINDOWS/SYSTEM/ro.dll").c_str(), 0444);
  ::chmod(root_.path().c_str(), 0755);
  int rc = RunUnprivileged([&] {
    return static_cast<int>(files_.CopyFileA("C:\\src.txt", "C:\\WINDOWS\\SYSTEM\\ro.dll", false));
  });
  EXPECT_EQ(rc, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/ro.dll")), "old");
}

TEST_F(HostFilesTest, RestartCarriesOutTheRenameSectionInOrder) {
  WriteText(C("WINDOWS/SYSTEM/A.DLL"), "old a");
  WriteText(C("Program Files/A.DLL"), "new a");
  WriteText(C("Program Files/gone.tmp"), "x");
  WriteText(C("WINDOWS/other.txt"), "untouched");
  WriteText(C("WINDOWS/wininit.ini"),
            "[other]\r\nC:\\WINDOWS\\other.txt=C:\\nothing\r\n[Rename]\r\n"
            "C:\\WINDOWS\\SYSTEM\\A.DLL=C:\\Program Files\\A.DLL\r\n"
            "NUL=C:\\Program Files\\A.DLL\r\nNUL=C:\\Program Files\\gone.tmp\r\n");
  RestartReport report = files_.ExitWindowsEx();
  EXPECT_TRUE(report.ini_found);
  EXPECT_EQ(report.moved, 1);
  EXPECT_EQ(report.deleted, 2);
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/A.DLL")), "new a");
  EXPECT_FALSE(Exists(C("Program Files/A.DLL")));
  EXPECT_FALSE(Exists(C("Program Files/gone.tmp")));
  EXPECT_EQ(ReadText(C("WINDOWS/other.txt")), "untouched");
  EXPECT_FALSE(Exists(C("WINDOWS/wininit.ini")));
  EXPECT_TRUE(Exists(C("WINDOWS/WININIT.BAK")));
}

TEST_F(HostFilesTest, AFailedMoveKeepsItsFileAndIsTriedAgainNextTime) {
  WriteText(C("Program Files/NEW.DLL"), "new");
  WriteText(C("WINDOWS/WININIT.INI"),
            "[rename]\nC:\\No Folder\\NEW.DLL=C:\\Program Files\\NEW.DLL\nNUL=C:\\Program Files\\NEW.DLL\n");
  RestartReport report = files_.ExitWindowsEx();
  EXPECT_EQ(report.moved, 0);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(ReadText(C("Program Files/NEW.DLL")), "new") << "the only copy must survive";
  EXPECT_EQ(ReadText(C("WINDOWS/WININIT.INI")),
            "[rename]\r\nC:\\No Folder\\NEW.DLL=C:\\Program Files\\NEW.DLL\r\n"
            "NUL=C:\\Program Files\\NEW.DLL\r\n");
}

TEST_F(HostFilesTest, PipesInPlaceOfFilesAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo(C("pipe").c_str(), 0644), 0);
  WriteText(C("src.txt"), "x");
  EXPECT_EQ(files_.CopyFileA("C:\\pipe", "C:\\new.txt", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\pipe", false), ERROR_ACCESS_DENIED);
  std::string bytes;
  EXPECT_NE(files_.ReadFile("C:\\pipe", &bytes), ERROR_SUCCESS);
}

TEST_F(HostFilesTest, AReplacementWhoseFileIsGoneIsNotKeptForLater) {
  WriteText(C("WINDOWS/WININIT.INI"), "[rename]\r\nC:\\WINDOWS\\X.DLL=C:\\gone.dll\r\n");
  RestartReport report = files_.ExitWindowsEx();
  EXPECT_EQ(report.failures.size(), 1u);
  EXPECT_FALSE(Exists(C("WINDOWS/WININIT.INI")));
  EXPECT_TRUE(Exists(C("WINDOWS/WININIT.BAK")));
}

TEST_F(HostFilesTest, RestartWithoutWininitDoesNothing) {
  RestartReport report = files_.ExitWindowsEx();
  EXPECT_FALSE(report.ini_found);
  EXPECT_FALSE(Exists(C("WINDOWS/WININIT.BAK")));
}

TEST_F(HostFilesTest, LinksLeadingOutOfTheRootAreRefused) {
  TempRoot elsewhere;
  WriteText(elsewhere / "victim.txt", "mine");
  WriteText(C("src.txt"), "x");
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), C("out").c_str()), 0);
  ASSERT_EQ(::symlink((elsewhere / "victim.txt").c_str(), C("file_link").c_str()), 0);
  std::string bytes;
  FileStatus status;
  EXPECT_EQ(files_.CopyFileA("C:\\src.txt", "C:\\out\\new.txt", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.WriteFile("C:\\OUT\\new.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.AppendFile("C:\\out\\new.txt", "x", true), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.CreateDirectoryA("C:\\out\\dir"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.DeleteFileA("C:\\out\\victim.txt"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.ReadFile("C:\\file_link", &bytes), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.GetFileStatus("C:\\out\\victim.txt", &status), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files_.CopyFileA("C:\\file_link", "C:\\copy.txt", false), ERROR_ACCESS_DENIED);
  // Deleting the link itself only takes the link away.
  EXPECT_EQ(files_.DeleteFileA("C:\\file_link"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(elsewhere / "victim.txt"), "mine");
  EXPECT_FALSE(Exists(elsewhere / "new.txt"));
  EXPECT_FALSE(Exists(elsewhere / "dir"));
}

TEST_F(HostFilesTest, TheInstallationMediumIsReadButNeverChanged) {
  TempRoot medium;
  WriteText(medium / "setup.dat", "script");
  WriteText(medium / "sub/a.txt", "a");
  files_.UseInstallationMedium(medium.path());
  std::string bytes;
  EXPECT_EQ(files_.ReadFile("SETUP.DAT", &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, "script");
  EXPECT_EQ(files_.ReadFile("sub\\..\\..\\..\\setup.dat", &bytes), ERROR_SUCCESS) << "stops at its root";
  EXPECT_EQ(files_.CopyFileA("sub\\a.txt", "C:\\a.txt", true), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(C("a.txt")), "a");
  EXPECT_EQ(files_.WriteFile("new.txt", "x"), ERROR_WRITE_PROTECT);
  EXPECT_EQ(files_.CopyFileA("C:\\a.txt", "..\\b.txt", false), ERROR_WRITE_PROTECT);
  EXPECT_EQ(files_.CreateDirectoryA("..\\Clock"), ERROR_WRITE_PROTECT);
  EXPECT_EQ(files_.DeleteFileA("setup.dat"), ERROR_WRITE_PROTECT);
  EXPECT_TRUE(Exists(medium / "setup.dat"));
  EXPECT_FALSE(Exists(medium / "new.txt"));
}

TEST_F(HostFilesTest, LinksLeadingOutOfTheMediumAreRefused) {
  TempRoot medium, elsewhere;
  WriteText(elsewhere / "secret.txt", "not for the setup disk");
  WriteText(medium / "a.txt", "a");
  ASSERT_EQ(::symlink((elsewhere / "secret.txt").c_str(), (medium / "file_link").c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), (medium / "dir_link").c_str()), 0);
  ASSERT_EQ(::symlink("a.txt", (medium / "inside_link").c_str()), 0);
  files_.UseInstallationMedium(medium.path());
  std::string bytes;
  FileStatus status;
  for (const char* name : {"file_link", "dir_link\\secret.txt"}) {
    EXPECT_EQ(files_.ReadFile(name, &bytes), ERROR_ACCESS_DENIED) << name;
    EXPECT_EQ(files_.GetFileStatus(name, &status), ERROR_ACCESS_DENIED) << name;
    EXPECT_EQ(files_.CopyFileA(name, "C:\\copy.txt", false), ERROR_ACCESS_DENIED) << name;
  }
  EXPECT_FALSE(Exists(C("copy.txt")));
  EXPECT_EQ(files_.CopyFileA("inside_link", "C:\\copy.txt", false), ERROR_SUCCESS)
      << "a link within the medium";
  EXPECT_EQ(ReadText(C("copy.txt")), "a");
}

TEST_F(HostFilesTest, TheRestartChangesNothingOutsideTheRoot) {
  // Started in a folder outside the root, with a file three levels up.
  TempRoot work, elsewhere;
  WriteText(work / "victim.txt", "mine");
  std::filesystem::create_directories(work / "a/b/c");
  const auto old_dir = std::filesystem::current_path();
  std::filesystem::current_path(work / "a/b/c");
  files_.UseInstallationMedium(work / "a/b/c");
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), C("out").c_str()), 0);
  WriteText(C("t1.txt"), "1");
  WriteText(C("t2.txt"), "2");
  WriteText(C("WINDOWS/WININIT.INI"),
            "[rename]\r\nNUL=..\\..\\..\\victim.txt\r\n..\\..\\..\\moved.txt=C:\\t1.txt\r\n"
            "C:\\out\\x.txt=C:\\t2.txt\r\n");
  RestartReport report = files_.ExitWindowsEx();
  std::filesystem::current_path(old_dir);
  EXPECT_EQ(ReadText(work / "victim.txt"), "mine");
  EXPECT_FALSE(Exists(work / "moved.txt"));
  EXPECT_EQ(ReadText(C("moved.txt")), "1") << "a name without a drive is on C:";
  EXPECT_FALSE(Exists(elsewhere / "x.txt"));
  EXPECT_EQ(ReadText(C("t2.txt")), "2") << "the refused move keeps its file";
  EXPECT_EQ(report.failures, std::vector<std::string>{"C:\\out\\x.txt=C:\\t2.txt"});
}

TEST(HostFilesSeeding, AFreshRootLooksLikeAFreshWindowsMachineOnce) {
  TempRoot root;
  HiveRegistry registry(root / "registry");
  HostFiles files(root.path());
  files.SeedFirstUse(registry);
  for (const char* dir : {"drive_c/WINDOWS/SYSTEM", "drive_c/WINDOWS/Desktop",
                          "drive_c/WINDOWS/Start Menu/Programs", "drive_c/Program Files"}) {
    EXPECT_TRUE(std::filesystem::is_directory(root / dir)) << dir;
  }
  EXPECT_NE(
      ReadText(root / "registry/HKEY_LOCAL_MACHINE.reg").find("\"ProgramFilesDir\"=\"C:\\\\Program Files\""),
      std::string::npos);
  EXPECT_NE(
      ReadText(root / "registry/HKEY_CURRENT_USER.reg")
          .find(
              "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\r\n"
              "\"Desktop\"=\"C:\\\\WINDOWS\\\\Desktop\""),
      std::string::npos);
  // A user's later change is not undone by the next start.
  HKEY key = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                   KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const char apps[] = "D:\\Apps";
  registry.RegSetValueExA(key, "ProgramFilesDir", REG_SZ, reinterpret_cast<const uint8_t*>(apps),
                          sizeof apps);
  registry.RegCloseKey(key);
  files.SeedFirstUse(registry);
  EXPECT_NE(ReadText(root / "registry/HKEY_LOCAL_MACHINE.reg").find("D:\\\\Apps"), std::string::npos);
}

}  // namespace
