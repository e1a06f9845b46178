// SPDX-License-Identifier: GPL-3.0-or-later
// The restart's WININIT.INI processing on any file: it never crashes and never changes a file
// outside the root -- not through "..", not through a link inside the root, not through the
// folder the program was started in, not on the installation medium.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/host_files.h"

namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t Entries(const std::string& dir) {
  size_t n = 0;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::end(it); ++it) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string run = fuzz::RunFolder();
  const std::string root = run + "/root", outside = run + "/outside", medium = run + "/medium";
  static const bool started = [&] {
    // The program runs three levels below a folder with a file of the user's in it.
    Write(run + "/work/victim.txt", "mine");
    fs::create_directories(run + "/work/a/b/c");
    Write(outside + "/victim.txt", "mine");
    Write(medium + "/setup.dat", "script");
    return ::chdir((run + "/work/a/b/c").c_str()) == 0;
  }();
  FUZZ_CHECK(started);
  // A fresh machine for each input: a few files to move and delete, and a link out of the root.
  std::error_code ec;
  fs::remove_all(root, ec);
  Write(root + "/drive_c/WINDOWS/SYSTEM/A.DLL", "old");
  Write(root + "/drive_c/Program Files/A.DLL", "new");
  Write(root + "/drive_c/t.txt", "t");
  fs::create_symlink(outside, root + "/drive_c/out");
  Write(root + "/drive_c/WINDOWS/WININIT.INI", std::string(reinterpret_cast<const char*>(data), size));

  HostFiles files(root);
  files.UseInstallationMedium(medium);
  files.ExitWindowsEx();

  FUZZ_CHECK(Read(run + "/work/victim.txt") == "mine");
  FUZZ_CHECK(Entries(run + "/work") == 4);  // victim.txt, a, a/b, a/b/c
  FUZZ_CHECK(Read(outside + "/victim.txt") == "mine");
  FUZZ_CHECK(Entries(outside) == 1);
  FUZZ_CHECK(Read(medium + "/setup.dat") == "script");
  FUZZ_CHECK(Entries(medium) == 1);
  return 0;
}
