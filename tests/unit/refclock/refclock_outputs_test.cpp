// SPDX-License-Identifier: GPL-3.0-or-later
// The two reference-clock outputs as their readers see them: chrony's SOCK datagram received on
// a socket of our own, and the NTP shared-memory segment read back through a private segment.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "timing/refclock_shm.h"
#include "timing/refclock_sock.h"

namespace {

// chrony reads exactly this record; a different size or field place is silently ignored by it.
static_assert(sizeof(ChronySockSample) == 40);
static_assert(offsetof(ChronySockSample, offset) == 16);
static_assert(offsetof(ChronySockSample, pulse) == 24);
static_assert(offsetof(ChronySockSample, leap) == 28);
static_assert(offsetof(ChronySockSample, magic) == 36);
// ntpd's and chrony's shmTime on a 64-bit machine.
static_assert(sizeof(NtpShmTime) == 96);
static_assert(offsetof(NtpShmTime, clockTimeStampSec) == 8);
static_assert(offsetof(NtpShmTime, receiveTimeStampSec) == 24);
static_assert(offsetof(NtpShmTime, valid) == 48);
static_assert(offsetof(NtpShmTime, clockTimeStampNSec) == 52);

struct SockCase {
  int64_t system_ns;
  double offset;
  int64_t want_sec;
  int64_t want_usec;
  double want_offset;  // the nanoseconds below tv's microsecond move into the offset
};

TEST(RefclockSock, DatagramsAsChronyReadsThem) {
  const std::string dir = std::filesystem::temp_directory_path() / ("varnol-sock-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/refclock.sock";
  RefclockSock sock(path);
  ASSERT_TRUE(sock.Valid());

  // Nobody listening yet: dropped, not an error, and no hang.
  EXPECT_FALSE(sock.Send(1796648400LL * 1000000000LL, 0.25));
  EXPECT_EQ(sock.Dropped(), 1);

  const int rx = socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(rx, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  const SockCase cases[] = {
      {1796648400LL * 1000000000LL + 4813000, -0.004813, 1796648400, 4813, -0.004813},
      {1796648400LL * 1000000000LL + 999999999, 0.25, 1796648400, 999999, 0.25 + 999e-9},
      {-1500000000LL, 0.0, -2, 500000, 0.0},
  };
  for (const SockCase& c : cases) {
    ASSERT_TRUE(sock.Send(c.system_ns, c.offset));
    unsigned char buf[64];
    const ssize_t n = recv(rx, buf, sizeof buf, 0);
    ASSERT_EQ(n, 40);
    ChronySockSample s;
    std::memcpy(&s, buf, sizeof s);
    EXPECT_EQ(s.tv.tv_sec, c.want_sec);
    EXPECT_EQ(s.tv.tv_usec, c.want_usec);
    EXPECT_NEAR(s.offset, c.want_offset, 1e-12);
    EXPECT_EQ(s.pulse, 0);
    EXPECT_EQ(s.leap, 0);
    EXPECT_EQ(buf[36] | buf[37] << 8 | buf[38] << 16 | buf[39] << 24, 0x534f434b);
  }
  EXPECT_EQ(sock.Sent(), 3);
  close(rx);
  std::filesystem::remove_all(dir);

  // A path too long for a socket address is refused up front, never overruns.
  RefclockSock long_path(std::string(200, 'x'));
  EXPECT_FALSE(long_path.Valid());
  EXPECT_FALSE(long_path.Send(0, 0.0));
}

TEST(RefclockShm, CountProtocolAndBothTimeStamps) {
  RefclockShm shm(IPC_PRIVATE, 0600, true);
  ASSERT_TRUE(shm.Attach());
  shmid_ds ds{};
  ASSERT_EQ(shmctl(shm.ShmId(), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
  EXPECT_GE(ds.shm_segsz, sizeof(NtpShmTime));
  auto* t = static_cast<NtpShmTime*>(shmat(shm.ShmId(), nullptr, SHM_RDONLY));
  ASSERT_NE(t, reinterpret_cast<NtpShmTime*>(-1));
  shmctl(shm.ShmId(), IPC_RMID, nullptr);  // gone once both detach

  const int64_t sys = 1796648400LL * 1000000000LL + 4813123;
  const int64_t truth = 1796648400LL * 1000000000LL + 250000456;
  const int count0 = t->count;
  ASSERT_TRUE(shm.Write(truth, sys));
  EXPECT_EQ(t->mode, 1);
  EXPECT_EQ(t->count, count0 + 2);  // even: no write under way
  EXPECT_EQ(t->valid, 1);
  EXPECT_EQ(t->clockTimeStampSec, 1796648400);
  EXPECT_EQ(t->clockTimeStampUSec, 250000);
  EXPECT_EQ(t->clockTimeStampNSec, 250000456u);
  EXPECT_EQ(t->receiveTimeStampSec, 1796648400);
  EXPECT_EQ(t->receiveTimeStampUSec, 4813);
  EXPECT_EQ(t->receiveTimeStampNSec, 4813123u);
  EXPECT_EQ(t->leap, 0);
  EXPECT_EQ(t->precision, -10);
  ASSERT_TRUE(shm.Write(truth + 1000000000, sys + 1000000000, 1));
  EXPECT_EQ(t->count, count0 + 4);
  EXPECT_EQ(t->clockTimeStampSec, 1796648401);
  EXPECT_EQ(t->leap, 1);
  shmdt(t);
}

// A segment that is already there is used only when it is this user's or root's and no more
// open than asked; otherwise one line says so and how to remove it. A test key of its own,
// removed at the end.
struct ExistingSegmentCase {
  const char* name;
  unsigned existing_mode;
  uid_t owner;  // 0: whoever runs the test
  int asked_mode;
  bool used;
};

class ExistingShmSegment : public ::testing::TestWithParam<ExistingSegmentCase> {};

TEST_P(ExistingShmSegment, UsedOnlyWhenOursAndNoWiderThanAsked) {
  const ExistingSegmentCase& c = GetParam();
  if (c.owner != 0 && geteuid() != 0) GTEST_SKIP() << "giving a segment to another user needs root";
  const key_t key = static_cast<key_t>(0x56a10000 + (getpid() & 0xFFFF));
  const int id = shmget(key, sizeof(NtpShmTime), IPC_CREAT | IPC_EXCL | static_cast<int>(c.existing_mode));
  ASSERT_GE(id, 0) << std::strerror(errno);
  if (c.owner != 0) {
    shmid_ds ds{};
    ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
    ds.shm_perm.uid = c.owner;
    ASSERT_EQ(shmctl(id, IPC_SET, &ds), 0);
  }
  std::string error;
  {
    RefclockShm shm(key, c.asked_mode, true);
    EXPECT_EQ(shm.Attach(&error), c.used) << error;
    EXPECT_EQ(shm.Write(2000000000, 1000000000), c.used);
  }
  shmctl(id, IPC_RMID, nullptr);
  if (c.used) return;
  char key_text[16];
  std::snprintf(key_text, sizeof key_text, "0x%08x", static_cast<unsigned>(key));
  EXPECT_NE(error.find(std::string("ipcrm -M ") + key_text), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
}

INSTANTIATE_TEST_SUITE_P(Segments, ExistingShmSegment,
                         ::testing::Values(ExistingSegmentCase{"ours_as_asked", 0600, 0, 0600, true},
                                           ExistingSegmentCase{"ours_narrower", 0600, 0, 0644, true},
                                           ExistingSegmentCase{"ours_world_writable", 0666, 0, 0600, false},
                                           ExistingSegmentCase{"ours_group_readable", 0640, 0, 0600, false},
                                           ExistingSegmentCase{"another_users", 0600, 12345, 0600, false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
