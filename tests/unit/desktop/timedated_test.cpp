// Setting the clock through the system's time service: the D-Bus client against a private bus
// with a stand-in for systemd-timedated (never the machine's clock or its system bus), and the
// choice between writing the clock directly and asking the service.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/desktop_clock.h"
#include "platform/gdbus_timedated.h"
#include "platform/linux_clock.h"

namespace {

std::string bus_address;
pid_t bus_pid = 0;

// Runs the GLib main loop until `ready` or five seconds have gone.
template <typename Ready>
void Spin(Ready ready, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!ready() && std::chrono::steady_clock::now() < end) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(2000);
  }
}

class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    // The session configuration: anyone may own any name, which is what a stand-in needs.
    FILE* p = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    ASSERT_NE(p, nullptr);
    char line[512] = {};
    if (std::fgets(line, sizeof line, p) != nullptr) bus_address = line;
    if (std::fgets(line, sizeof line, p) != nullptr) bus_pid = static_cast<pid_t>(std::atol(line));
    pclose(p);
    while (!bus_address.empty() && (bus_address.back() == '\n')) bus_address.pop_back();
    ASSERT_FALSE(bus_address.empty()) << "dbus-daemon did not start";
    // GIO's "system bus" from here on is the private one.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_address.c_str(), 1);
  }
  void TearDown() override {
    if (bus_pid > 0) kill(bus_pid, SIGTERM);
  }
};
const auto* const bus_environment = ::testing::AddGlobalTestEnvironment(new PrivateBus);

// The stand-in, answering as `answers` says; stopped at the end of the test.
class FakeTimedated {
 public:
  FakeTimedated(const std::string& answers) {
    char dir[] = "/tmp/timedated-XXXXXX";
    log_ = std::string(mkdtemp(dir)) + "/calls";
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execl(FAKE_TIMEDATED, FAKE_TIMEDATED, log_.c_str(), answers.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char ready[16] = {};
    ok_ = read(out[0], ready, sizeof ready - 1) > 0 && std::string(ready).rfind("ready", 0) == 0;
    close(out[0]);
  }
  ~FakeTimedated() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::remove(log_.c_str());
  }
  bool Ok() const { return ok_; }
  std::string Calls() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  pid_t pid_ = -1;
  std::string log_;
  bool ok_ = false;
};

struct ServiceCase {
  const char* answers;  // nullptr: no service on the bus
  ClockWriteOutcome expected;
};

class TimedatedServiceTest : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(TimedatedServiceTest, AnswerBecomesOutcome) {
  const ServiceCase& c = GetParam();
  std::optional<FakeTimedated> fake;
  if (c.answers != nullptr) {
    fake.emplace(c.answers);
    ASSERT_TRUE(fake->Ok());
  }
  TimedatedClockService service;
  std::optional<ClockWriteResult> result;
  ASSERT_TRUE(service.RequestStep(-2500000, [&](const ClockWriteResult& r) { result = r; }));
  EXPECT_FALSE(result.has_value()) << "the answer must come later, through the main loop";
  Spin([&] { return result.has_value(); });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(static_cast<int>(result->outcome), static_cast<int>(c.expected)) << result->detail;
  EXPECT_EQ(result->step_usec, -2500000);
  EXPECT_TRUE(result->through_service);
  if (fake) {
    // A relative step, and polkit may ask for a password.
    EXPECT_NE(fake->Calls().find("SetTime usec=-2500000 relative=1 interactive=1"), std::string::npos)
        << fake->Calls();
  }
  EXPECT_FALSE(ClockWriteStatus(*result).empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, TimedatedServiceTest,
                         ::testing::Values(ServiceCase{"ok", ClockWriteOutcome::Written},
                                           ServiceCase{"ntp", ClockWriteOutcome::AutomaticSync},
                                           ServiceCase{"denied", ClockWriteOutcome::NoPermission},
                                           ServiceCase{nullptr, ClockWriteOutcome::NoService}));

TEST(TimedatedService, OneRequestAtATimeAndNoAnswerAfterItsEnd) {
  FakeTimedated fake("hang");
  ASSERT_TRUE(fake.Ok());
  int answers = 0;
  {
    TimedatedClockService service;
    ASSERT_TRUE(service.RequestStep(1000000, [&](const ClockWriteResult&) { ++answers; }));
    Spin([&] { return fake.Calls().find("SetTime") != std::string::npos; });
    ASSERT_NE(fake.Calls().find("SetTime usec=1000000"), std::string::npos);
    // A password is being typed: a second minute's write is not doubled.
    EXPECT_FALSE(service.RequestStep(2000000, [&](const ClockWriteResult&) { ++answers; }));
  }
  // The service has gone: its cancelled request tells nobody.
  Spin([] { return false; }, 300);
  EXPECT_EQ(answers, 0);
  EXPECT_EQ(fake.Calls().find("usec=2000000"), std::string::npos);
}

// A refused password is asked for once a run, not every minute.
TEST(TimedatedService, NoPasswordPromptAfterARefusal) {
  FakeTimedated fake("denied");
  ASSERT_TRUE(fake.Ok());
  TimedatedClockService service;
  int answers = 0;
  for (int64_t step : {1000000, 2000000}) {
    ASSERT_TRUE(service.RequestStep(step, [&](const ClockWriteResult&) { ++answers; }));
    const int before = answers;
    Spin([&] { return answers > before; });
  }
  EXPECT_NE(fake.Calls().find("usec=1000000 relative=1 interactive=1"), std::string::npos) << fake.Calls();
  EXPECT_NE(fake.Calls().find("usec=2000000 relative=1 interactive=0"), std::string::npos) << fake.Calls();
}

TEST(BusErrors, NamesMapToOutcomes) {
  EXPECT_EQ(OutcomeOfBusError("org.freedesktop.timedate1.AutomaticTimeSyncEnabled"),
            ClockWriteOutcome::AutomaticSync);
  EXPECT_EQ(OutcomeOfBusError("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"),
            ClockWriteOutcome::NoPermission);
  EXPECT_EQ(OutcomeOfBusError("org.freedesktop.DBus.Error.ServiceUnknown"), ClockWriteOutcome::NoService);
  EXPECT_EQ(OutcomeOfBusError("org.freedesktop.DBus.Error.Failed"), ClockWriteOutcome::Failed);
}

// --- Direct write or the service -------------------------------------------------------------

// A clock that refuses writes as the kernel does without CAP_SYS_TIME (errno EPERM).
class RefusingClock : public SimulatedClock {
 public:
  using SimulatedClock::SimulatedClock;
  bool SetSystemTime(const SYSTEMTIME&) override {
    errno = EPERM;
    return false;
  }
};

class RecordingService : public ClockStepService {
 public:
  bool RequestStep(int64_t step_usec, std::function<void(const ClockWriteResult&)> done) override {
    steps.push_back(step_usec);
    done_ = std::move(done);
    return true;
  }
  std::vector<int64_t> steps;
  std::function<void(const ClockWriteResult&)> done_;
};

struct DirectCase {
  bool may_set;         // the process holds CAP_SYS_TIME
  bool kernel_refuses;  // yet clock_settime says EPERM
  bool returns;
  ClockWriteOutcome first_report;
  size_t service_requests;
};

class DesktopClockTest : public ::testing::TestWithParam<DirectCase> {};

TEST_P(DesktopClockTest, WritesDirectlyOrAsksTheService) {
  const DirectCase& c = GetParam();
  const int64_t start = 1796648700;  // 2026-12-07 13:05:00 UTC
  SimulatedClock plain(start);
  RefusingClock refusing(start);
  SystemClock& base = c.kernel_refuses ? static_cast<SystemClock&>(refusing) : plain;
  RecordingService service;
  std::vector<ClockWriteResult> reports;
  DesktopSystemClock clock(base, c.may_set, &service,
                           [&](const ClockWriteResult& r) { reports.push_back(r); });
  SYSTEMTIME target = SystemTimeFromUnix(start + 121);  // 13:07:01, 121 s ahead
  EXPECT_EQ(clock.SetSystemTime(target), c.returns);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports[0].outcome, c.first_report);
  EXPECT_EQ(reports[0].step_usec, 121000000);
  ASSERT_EQ(service.steps.size(), c.service_requests);
  if (c.service_requests > 0) {
    EXPECT_EQ(service.steps[0], 121000000);
    // The service's answer reaches the same report.
    service.done_(ClockWriteResult{ClockWriteOutcome::AutomaticSync, "", 121000000, true});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].outcome, ClockWriteOutcome::AutomaticSync);
  }
  if (c.returns) {
    EXPECT_EQ(plain.Now(), start + 121);
  }
}

INSTANTIATE_TEST_SUITE_P(Rights, DesktopClockTest,
                         ::testing::Values(DirectCase{true, false, true, ClockWriteOutcome::Written, 0},
                                           DirectCase{true, true, false, ClockWriteOutcome::Requested, 1},
                                           DirectCase{false, false, false, ClockWriteOutcome::Requested, 1}));

}  // namespace
