// SPDX-License-Identifier: GPL-3.0-or-later
// The host path mapper on any Windows path: a mapped path is inside the root (or, with an
// installation medium, inside the medium), has no "." or ".." left in it, and no link inside
// the root takes it out; creating and removing a folder under that name changes nothing
// outside the root and nothing on the medium.
//
// Input: one byte of options (bit 0: an installation medium is in use), then the path.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/host_files.h"

namespace {

struct World {
  std::string root, outside, medium;
  World() {
    const std::string& run = fuzz::RunFolder();
    root = run + "/root";
    outside = run + "/outside";
    medium = run + "/medium";
    std::filesystem::create_directories(root + "/drive_c/WINDOWS/SYSTEM");
    std::filesystem::create_directories(root + "/drive_d");
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(medium + "/sub");
    std::filesystem::create_symlink(outside, root + "/drive_c/out");
    std::filesystem::create_symlink(run, root + "/drive_c/WINDOWS/up");
  }
  // What the folders outside the root hold: must never change.
  size_t Entries(const std::string& dir) const {
    size_t n = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(dir); it != std::filesystem::end(it); ++it)
      ++n;
    return n;
  }
};

bool Under(const std::string& path, const std::string& folder) {
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const World world;
  if (size < 1) return 0;
  HostFiles files(world.root);
  const bool medium = (data[0] & 1) != 0;
  if (medium) files.UseInstallationMedium(world.medium);
  const std::string path(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string linux_path;
  if (files.ToLinuxPath(path, &linux_path) == ERROR_SUCCESS) {
    const bool on_medium = medium && Under(linux_path, world.medium);
    FUZZ_CHECK(on_medium || linux_path.rfind(world.root + "/drive_", 0) == 0);
    FUZZ_CHECK(linux_path.find("/../") == std::string::npos && linux_path.find("/./") == std::string::npos);
    FUZZ_CHECK(!linux_path.ends_with("/..") && !linux_path.ends_with("/."));
    if (!on_medium) {
      // Whatever exists of it, with its links followed, is still inside the root.
      std::filesystem::path existing = linux_path;
      std::error_code ec;
      while (!std::filesystem::exists(existing, ec) && existing.has_parent_path())
        existing = existing.parent_path();
      const auto real = std::filesystem::canonical(existing, ec);
      if (!ec) FUZZ_CHECK(Under(real.string(), std::filesystem::canonical(world.root).string()));
    }
  }
  const size_t outside_before = world.Entries(world.outside), medium_before = world.Entries(world.medium);
  if (files.CreateDirectoryA(path) == ERROR_SUCCESS) files.RemoveDirectoryA(path);
  FUZZ_CHECK(world.Entries(world.outside) == outside_before);
  FUZZ_CHECK(world.Entries(world.medium) == medium_before);
  size_t top = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fuzz::RunFolder())) ++top;
  FUZZ_CHECK(top == 3);  // root, outside, medium
  return 0;
}
