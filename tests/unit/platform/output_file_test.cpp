// Outputs named by the user: a regular file is replaced whole, a FIFO or character device is
// written through and stays what it was, a socket, block device or folder is refused and left
// alone, and no temporary file is left behind in any case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>

#include "platform/atomic_file.h"
#include "tools/cli_common.h"
#include "unit/platform/temp_root.h"

namespace {

enum class Node { Missing, Regular, Fifo, NullDevice, Socket, BlockDevice, Folder };

struct OutputCase {
  const char* name;
  Node node;
  OutputKind kind;
  int error;        // what WriteOutputFile answers
  bool needs_root;  // mknod of a device node
};

// Makes the node `name` in `dir`; false when it cannot be made here.
bool MakeNode(const std::string& path, Node node) {
  switch (node) {
    case Node::Missing: return true;
    case Node::Regular: WriteText(path, "old contents"); return true;
    case Node::Fifo: return ::mkfifo(path.c_str(), 0644) == 0;
    case Node::NullDevice: return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    case Node::BlockDevice: return ::mknod(path.c_str(), S_IFBLK | 0600, makedev(7, 200)) == 0;
    case Node::Folder: return ::mkdir(path.c_str(), 0755) == 0;
    case Node::Socket: {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      if (path.size() >= sizeof addr.sun_path) return false;
      path.copy(addr.sun_path, path.size());
      const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      return ok;
    }
  }
  return false;
}

mode_t TypeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

class OutputFileTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputFileTest, ReplacesFilesWritesThroughPipesAndDevicesRefusesTheRest) {
  const OutputCase& c = GetParam();
  if (c.needs_root && ::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  TempRoot root;
  const std::string path = root / "out";
  ASSERT_TRUE(MakeNode(path, c.node)) << std::strerror(errno);
  const mode_t before = TypeOf(path);

  EXPECT_EQ(ClassifyOutput(path), c.kind);
  // The command line's check before a run agrees: only the refused kinds are a problem.
  const std::string problem = OutputFileProblem(path);
  EXPECT_EQ(problem.empty(), c.kind == OutputKind::Replace || c.kind == OutputKind::WriteThrough) << problem;

  const std::string bytes(100000, 'x');  // more than a pipe holds at once
  std::future<std::string> reader;
  if (c.node == Node::Fifo) reader = std::async(std::launch::async, [&] { return ReadText(path); });
  EXPECT_EQ(WriteOutputFile(path, bytes), c.error);

  if (c.node == Node::Fifo) {
    EXPECT_EQ(reader.get(), bytes);
  }
  if (c.kind == OutputKind::Replace) {
    EXPECT_EQ(ReadText(path), bytes);
    EXPECT_EQ(TypeOf(path), static_cast<mode_t>(S_IFREG));
  } else {
    EXPECT_EQ(TypeOf(path), before) << "the node was replaced";
  }
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(root.path())) entries += e.path() != path;
  EXPECT_EQ(entries, 0u) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, OutputFileTest,
    ::testing::Values(OutputCase{"missing", Node::Missing, OutputKind::Replace, 0, false},
                      OutputCase{"regular", Node::Regular, OutputKind::Replace, 0, false},
                      OutputCase{"fifo", Node::Fifo, OutputKind::WriteThrough, 0, false},
                      OutputCase{"null_device", Node::NullDevice, OutputKind::WriteThrough, 0, true},
                      OutputCase{"socket", Node::Socket, OutputKind::Refused, ENOTSUP, false},
                      OutputCase{"block_device", Node::BlockDevice, OutputKind::Refused, ENOTSUP, true},
                      OutputCase{"folder", Node::Folder, OutputKind::Folder, EISDIR, false}),
    [](const auto& p) { return std::string(p.param.name); });

// A FIFO that nobody reads: refused at once when the caller must not wait (the window's
// snapshot), written once a reader comes when it may.
TEST(OutputFile, FifoWithoutReaderWaitsOnlyWhenAsked) {
  TempRoot root;
  const std::string path = root / "pipe";
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(WriteOutputFile(path, "abc", false), ENXIO);
  EXPECT_EQ(TypeOf(path), static_cast<mode_t>(S_IFIFO));
  auto writer = std::async(std::launch::async, [&] { return WriteOutputFile(path, "abc", true); });
  EXPECT_EQ(ReadText(path), "abc");
  EXPECT_EQ(writer.get(), 0);
}

// The program's own open files by name: written to the descriptor itself, whatever it is, and
// the system's links to them are never replaced.
TEST(OutputFile, OwnDescriptorsAreWrittenInPlace) {
  TempRoot root;
  const std::string file = root / "fd.txt";
  WriteText(file, "");
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string name = "/dev/fd/" + std::to_string(fd);
  EXPECT_EQ(ClassifyOutput(name), OutputKind::WriteThrough);
  EXPECT_EQ(WriteOutputFile(name, "one "), 0);
  EXPECT_EQ(WriteOutputFile("/proc/self/fd/" + std::to_string(fd), "two"), 0);
  ::close(fd);
  EXPECT_EQ(ReadText(file), "one two");
  EXPECT_EQ(ClassifyOutput("/dev/stdout"), OutputKind::WriteThrough);
}

}  // namespace
