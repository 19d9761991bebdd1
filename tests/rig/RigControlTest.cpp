// Receiver control through hamlib's dummy rig, a real rigctld and the virtual bench; every
// failure's message, and its time when the daemon is gone or stops answering.

#include "rig/RigControl.h"
#include "bench/VirtualBench.h"
#include "rig/BenchRig.h"
#include "rig/HamlibRig.h"
#include "support/Rigctld.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A port whose connection attempts go unanswered, as with a host that drops them: a
// listener with a backlog of none, filled by one connection nobody accepts. hamlib alone
// would wait for the system's connect time-out there, minutes.
class SilentPort
{
public:
    SilentPort()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &length);
        ::connect(m_filler, reinterpret_cast<sockaddr *>(&a), sizeof a);
        m_port = ntohs(a.sin_port);
    }
    ~SilentPort()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    SilentPort(const SilentPort &) = delete;
    SilentPort &operator=(const SilentPort &) = delete;
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int m_port = 0;
};

RigSettings hamlibSettings(int model, const std::string &port, int baudRate = 0)
{
    return {.kind = RigKind::Hamlib,
            .hamlibModel = model,
            .port = port,
            .baudRate = baudRate,
            .timeoutMs = 500};
}

const std::string kNetRigctl = "Hamlib NET rigctl (hamlib model 2)";

// ---- frequency, mode and AGC set and read back, through each control ----

// The controls by index: hamlib's dummy rig, a rigctld, the bench's own.
const char *const kControls[] = {"HamlibDummy", "Rigctld", "VirtualBench"};
constexpr int kBenchControl = 2;

class RigSetAndReadBack : public ::testing::TestWithParam<int>
{
};

TEST_P(RigSetAndReadBack, FrequencyModeAndAgc)
{
    test::Rigctld daemon;
    ASSERT_TRUE(GetParam() != 1 || daemon.running());
    VirtualBench bench;
    const RigSettings settings[] = {hamlibSettings(kHamlibDummyModel, ""),
                                    hamlibSettings(kHamlibNetRigctlModel, daemon.address()),
                                    {.kind = RigKind::VirtualBench}};
    const std::string names[] = {"Hamlib Dummy (hamlib model 1)",
                                 kNetRigctl + " at " + daemon.address(), "Virtual bench"};
    const auto rig = makeRigControl(settings[GetParam()], &bench);
    EXPECT_EQ(rig->name(), names[GetParam()]);

    // hamlib's own printing is silenced.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    RigReadback cw, rb, usb;
    const RigResult connected = connectRig(*rig, 144.3e6, RigMode::Cw, cw);
    const RigResult tuned = tuneRig(*rig, 145.5e6, rb);
    const double benchMHz = bench.frequencyMHz();
    const double benchGainDb = bench.truth().dutGainDb;
    const RigResult again = connectRig(*rig, 50.1e6, RigMode::Usb, usb);
    rig->close();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    ASSERT_TRUE(connected.ok()) << connected.detail;
    EXPECT_NEAR(cw.frequencyHz, 144.3e6, 0.5);
    EXPECT_EQ(cw.mode, "CW");
    EXPECT_EQ(cw.agc, GetParam() == kBenchControl ? AgcState::NotOffered : AgcState::Off);
    ASSERT_TRUE(tuned.ok()) << tuned.detail;
    EXPECT_NEAR(rb.frequencyHz, 145.5e6, 0.5);
    ASSERT_TRUE(again.ok()) << again.detail;
    EXPECT_NEAR(usb.frequencyHz, 50.1e6, 0.5);
    EXPECT_EQ(usb.mode, "USB");
    EXPECT_FALSE(rig->isOpen());
    // Only the bench's own control retunes it: its curves are then those of 145.5 MHz.
    if (GetParam() == kBenchControl) {
        EXPECT_DOUBLE_EQ(benchMHz, 145.5);
        EXPECT_NEAR(benchGainDb, 20.0 - 0.02 * 1.5, 1e-12);
    } else {
        EXPECT_DOUBLE_EQ(benchMHz, 144.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, RigSetAndReadBack, ::testing::Range(0, 3),
                         [](const auto &info) { return std::string(kControls[info.param]); });

// ---- failures: their messages, each within a bounded time ----

TEST(RigFailures, EachOpenFailureNamesTheRigAndTheCause)
{
    const SilentPort silent;
    const std::string refused = "127.0.0.1:" + std::to_string(test::freePort());
    const std::tuple<RigSettings, RigError, std::string> cases[] = {
        {hamlibSettings(999999, ""), RigError::Settings,
         "Receiver (hamlib model 999999): connecting failed: hamlib knows no such rig model."},
        {hamlibSettings(3073, "/dev/ttyUSB-absent", 300), RigError::Settings,
         "Receiver Icom IC-7300 (hamlib model 3073) at /dev/ttyUSB-absent: connecting failed: "
         "300 baud is not offered (4800 to 115200 baud)."},
        {hamlibSettings(2, ""), RigError::Settings,
         "Receiver " + kNetRigctl +
             ": connecting failed: no port is set (host:port of the rig's server)."},
        {hamlibSettings(2, "localhost:rig"), RigError::Settings,
         "Receiver " + kNetRigctl +
             " at localhost:rig: connecting failed: the port \"localhost:rig\" is not "
             "host:port."},
        {hamlibSettings(2, refused), RigError::Connect,
         "Receiver " + kNetRigctl + " at " + refused +
             ": connecting failed: Connection refused (is rigctld running there?)."},
        {hamlibSettings(2, silent.address()), RigError::Connect,
         "Receiver " + kNetRigctl + " at " + silent.address() +
             ": connecting failed: no answer within 500 ms (is rigctld running there?)."},
    };
    for (const auto &[settings, error, message] : cases) {
        const auto rig = makeRigControl(settings, nullptr);
        RigReadback rb;
        const auto start = Clock::now();
        const RigResult r = connectRig(*rig, 144e6, RigMode::Usb, rb);
        EXPECT_LT(secondsSince(start), 3.0) << message;
        EXPECT_EQ(r.code, error) << message;
        EXPECT_EQ(r.detail, message);
        EXPECT_FALSE(rig->isOpen()) << message;
    }
}

// A daemon that is killed fails the next call at once; one that stops answering (SIGSTOP)
// within the time-out. Reads fail too: hamlib's cache would otherwise answer them.
class RigctldGoesAway : public ::testing::TestWithParam<int>
{
};

TEST_P(RigctldGoesAway, NextCallsFailWithinTheTimeOut)
{
    test::Rigctld daemon;
    ASSERT_TRUE(daemon.running());
    HamlibRig rig(hamlibSettings(kHamlibNetRigctlModel, daemon.address()));
    RigReadback rb;
    const RigResult connected = connectRig(rig, 144e6, RigMode::Usb, rb);
    ASSERT_TRUE(connected.ok()) << connected.detail;

    daemon.signal(GetParam());
    if (GetParam() == SIGKILL)
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the socket closes
    const auto start = Clock::now();
    const RigResult tuned = tuneRig(rig, 145e6, rb);
    double hz = 0.0;
    const RigResult read = rig.readFrequency(hz);
    rig.close();
    EXPECT_LT(secondsSince(start), 4.0);

    const std::string reason = GetParam() == SIGKILL ? "IO error" : "Communication timed out";
    const std::string prefix = "Receiver " + kNetRigctl + " at " + daemon.address() + ": ";
    EXPECT_EQ(tuned.code, RigError::Frequency);
    EXPECT_EQ(tuned.detail,
              prefix + "setting the frequency to 145.000000 MHz failed: " + reason + ".");
    EXPECT_EQ(read.code, RigError::ReadBack);
    EXPECT_EQ(read.detail, prefix + "reading back the frequency failed: " + reason + ".");
}

INSTANTIATE_TEST_SUITE_P(Signals, RigctldGoesAway, ::testing::Values(SIGKILL, SIGSTOP),
                         [](const auto &info) {
                             return std::string(info.param == SIGKILL ? "Killed" : "Stopped");
                         });

// ---- the checks of connectRig and tuneRig, on a control that reports what it likes ----

class MisreportingRig final : public RigControl
{
public:
    double offsetHz = 0.0;
    std::string reportedMode = "USB";
    double setHz = 0.0;
    bool opened = false;

    std::string name() const override { return "Test rig"; }
    RigResult open() override
    {
        opened = true;
        return {};
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    RigResult setFrequency(double hz) override
    {
        setHz = hz;
        return {};
    }
    RigResult readFrequency(double &hz) override
    {
        hz = setHz + offsetHz;
        return {};
    }
    RigResult setMode(RigMode) override { return {}; }
    RigResult readMode(std::string &mode) override
    {
        mode = reportedMode;
        return {};
    }
    RigResult setAgcOff(AgcState &agc) override
    {
        agc = AgcState::Unknown;
        return {};
    }
};

TEST(RigChecks, ReadBackOutsideToleranceOrAnotherModeFailsAndCloses)
{
    const std::tuple<double, const char *, const char *> cases[] = {
        // message "": accepted
        {100.0, "USB", ""},
        {-100.0, "USB", ""},
        {100.5, "USB",
         "Receiver Test rig: tuning to 144.000000 MHz failed: the receiver reports 144.000101 "
         "MHz."},
        {0.0, "LSB",
         "Receiver Test rig: setting the mode to USB failed: the receiver reports LSB."},
    };
    RigReadback rb;
    for (const auto &[offsetHz, mode, message] : cases) {
        MisreportingRig rig;
        rig.offsetHz = offsetHz;
        rig.reportedMode = mode;
        const RigResult r = connectRig(rig, 144e6, RigMode::Usb, rb);
        EXPECT_EQ(r.detail, message) << offsetHz;
        EXPECT_EQ(rig.isOpen(), r.ok());
    }
    MisreportingRig rig;
    EXPECT_EQ(tuneRig(rig, 144e6, rb).detail,
              "Receiver Test rig: tuning to 144.000000 MHz failed: it is not connected.");
}

// The bench refuses what it cannot be tuned to and stays where it was; "None" accepts
// everything and reads nothing back; a bench choice without a bench is "None".
TEST(RigChecks, BenchRangeAndTheNoneControl)
{
    VirtualBench bench;
    BenchRig rig(bench);
    RigReadback rb;
    const RigResult r = connectRig(rig, 30000.001e6, RigMode::Usb, rb);
    EXPECT_EQ(r.code, RigError::Frequency);
    EXPECT_EQ(r.detail, "Receiver Virtual bench: setting the frequency to 30000.001000 MHz "
                        "failed: the bench tunes from 0 to 30000 MHz.");
    EXPECT_DOUBLE_EQ(bench.frequencyMHz(), 144.0);

    const auto none = makeRigControl({.kind = RigKind::VirtualBench}, nullptr);
    EXPECT_EQ(none->name(), "None");
    EXPECT_TRUE(connectRig(*none, 144e6, RigMode::Cw, rb).ok());
    EXPECT_TRUE(std::isnan(rb.frequencyHz));
    EXPECT_EQ(rb.mode, "");
    EXPECT_EQ(rb.agc, AgcState::NotOffered);
}

// Each address and how it splits ("host port"), or "" when it is refused.
TEST(RigAddress, SplitHostPort)
{
    const std::pair<const char *, const char *> cases[] = {
        {"localhost:4533", "localhost 4533"},
        {"localhost", "localhost 4532"},
        {"[::1]:7000", "::1 7000"},
        {"::1", "::1 4532"},
        {"[::1]", "::1 4532"},
        {"host:0", ""},
        {"host:65536", ""},
        {"host:12ab", ""},
        {":4532", ""},
        {"", ""},
        {"[::1", ""},
        {"[::1]x", ""},
    };
    for (const auto &[address, expected] : cases) {
        std::string host;
        int port = 0;
        const bool ok = splitHostPort(address, host, port);
        EXPECT_EQ(ok ? host + " " + std::to_string(port) : "", expected) << address;
    }
}

} // namespace
} // namespace quillon
