// The ioctl rules of the simulated ppdev device, answered as the kernel driver answers them.
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "preload/SimDevice.h"
#include "tests/support/Results.h"

namespace tondrel::preload {
namespace {

DeviceConfig Config(const std::string& bench) {
    DeviceConfig c;
    auto parsed = sim::ParseBenchName(bench);
    EXPECT_TRUE(parsed.Ok()) << English(parsed);
    if (parsed) c.Bench = std::move(parsed).Value();
    return c;
}

struct Rig {
    explicit Rig(const std::string& bench = "sim:empty") : Device(Config(bench), Clock) {}
    int Claim() { return Device.Ioctl(PPCLAIM, nullptr); }
    int Write(unsigned long request, unsigned char v) { return Device.Ioctl(request, &v); }
    unsigned char Read(unsigned long request) {
        unsigned char v = 0xA5;
        EXPECT_EQ(Device.Ioctl(request, &v), 0);
        return v;
    }
    VirtualClock Clock;
    SimDevice Device;
};

TEST(SimDevice, RegistersNeedAClaimAndASecondClaimFails) {
    Rig rig;
    unsigned char v = 0;
    for (unsigned long r : std::initializer_list<unsigned long>{PPRDATA, PPWDATA, PPRSTATUS,
                                                                PPRCONTROL, PPWCONTROL, PPRELEASE})
        EXPECT_EQ(rig.Device.Ioctl(r, &v), -EINVAL) << r;
    int dir = 1;
    EXPECT_EQ(rig.Device.Ioctl(PPDATADIR, &dir), -EINVAL);
    // Mode and capability questions are answered before a claim, as the driver does.
    int mode = -1;
    EXPECT_EQ(rig.Device.Ioctl(PPGETMODE, &mode), 0);
    EXPECT_EQ(mode, IEEE1284_MODE_COMPAT);
    unsigned int modes = 0;
    EXPECT_EQ(rig.Device.Ioctl(PPGETMODES, &modes), 0);
    EXPECT_TRUE(modes & PARPORT_MODE_PCSPP);

    EXPECT_EQ(rig.Device.Ioctl(PPEXCL, nullptr), 0);
    EXPECT_EQ(rig.Claim(), 0);
    EXPECT_EQ(rig.Claim(), -EINVAL);
    EXPECT_EQ(rig.Device.Ioctl(PPRSTATUS, &v), 0);
    EXPECT_EQ(rig.Device.Ioctl(PPRELEASE, nullptr), 0);
    EXPECT_EQ(rig.Device.Ioctl(PPRSTATUS, &v), -EINVAL);
    EXPECT_EQ(rig.Claim(), 0);  // released ports can be claimed again
    // Exclusive access was asked for in time, so asking again is no error.
    EXPECT_EQ(rig.Device.Ioctl(PPEXCL, nullptr), 0);

    Rig late;
    ASSERT_EQ(late.Claim(), 0);
    EXPECT_EQ(late.Device.Ioctl(PPEXCL, nullptr), -EINVAL);
    EXPECT_EQ(late.Device.Ioctl(_IO(PP_IOCTL, 0x7F), nullptr), -EINVAL);
    EXPECT_EQ(late.Device.Ioctl(PPRSTATUS, nullptr), -EFAULT);
}

// The chip's time is the client's, with one microsecond for each access: however long the
// simulation takes to answer one (a loaded machine, a sanitizer build), that time does not pass
// for the chip, and within an access its time stands still.
TEST(AccessClock, AnAccessCostsTheChipOneMicrosecondHoweverLongItsSimulationTakes) {
    AccessClock clock;
    const uint64_t before = clock.NowNs();
    clock.BeginAccess();
    const uint64_t during = clock.NowNs();
    SystemClock().SleepMs(20);
    EXPECT_EQ(clock.NowNs(), during);
    clock.EndAccess();
    const uint64_t after = clock.NowNs();
    EXPECT_GE(after, before + 1000);
    EXPECT_LT(after - before, 5'000'000u);  // far less than the 20 ms the access took
    SystemClock().SleepMs(5);
    EXPECT_GE(clock.NowNs() - after, 5'000'000u);  // time outside the accesses is real
}

TEST(SimDevice, ControlWritesDriveOnlyTheFourControlLines) {
    Rig rig;
    ASSERT_EQ(rig.Claim(), 0);
    EXPECT_EQ(rig.Write(PPWDATA, 0x5A), 0);
    EXPECT_EQ(rig.Read(PPRDATA), 0x5A);
    EXPECT_EQ(rig.Write(PPWCONTROL, 0xC5), 0);
    EXPECT_EQ(rig.Read(PPRCONTROL), 0x05);
    EXPECT_EQ(rig.Read(PPRDATA), 0x5A);  // bits 6-7 and 4 left the data lines driven

    // Frob: (control & ~mask) ^ val on the four lines.
    ppdev_frob_struct frob{0x03, 0x02};
    EXPECT_EQ(rig.Device.Ioctl(PPFCONTROL, &frob), 0);
    EXPECT_EQ(rig.Read(PPRCONTROL), 0x06);
    frob = {0xF0, 0xF0};  // bits 4-7 only: lines unchanged, direction bit reverses
    EXPECT_EQ(rig.Device.Ioctl(PPFCONTROL, &frob), 0);
    EXPECT_EQ(rig.Read(PPRCONTROL), 0x06);
    EXPECT_EQ(rig.Read(PPRDATA), 0xFF);
    frob = {0x20, 0x00};
    EXPECT_EQ(rig.Device.Ioctl(PPFCONTROL, &frob), 0);
    EXPECT_EQ(rig.Read(PPRDATA), 0x5A);
}

TEST(SimDevice, ReverseDirectionReadsTheFloatingLinesUntilTurnedForward) {
    Rig rig;
    ASSERT_EQ(rig.Claim(), 0);
    rig.Write(PPWDATA, 0x00);
    int reverse = 1;
    ASSERT_EQ(rig.Device.Ioctl(PPDATADIR, &reverse), 0);
    EXPECT_EQ(rig.Read(PPRDATA), 0xFF);
    // A control write keeps the direction, whatever its bit 5 says.
    rig.Write(PPWCONTROL, 0x04);
    EXPECT_EQ(rig.Read(PPRDATA), 0xFF);
    reverse = 0;
    ASSERT_EQ(rig.Device.Ioctl(PPDATADIR, &reverse), 0);
    EXPECT_EQ(rig.Read(PPRDATA), 0x00);
    // The PC driver's old interface: a control write with bit 5 set turns the lines round.
    rig.Write(PPWCONTROL, 0x24);
    EXPECT_EQ(rig.Read(PPRDATA), 0xFF);
    EXPECT_EQ(rig.Read(PPRCONTROL), 0x04);
}

TEST(SimDevice, CountsEveryRequestByKindAndWritesThemOnClose) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tondrel-simdevice-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    DeviceConfig config = Config("sim:ATmega16");
    config.CountsFile = (dir / "counts").string();
    config.Bench.StateFile = (dir / "state").string();
    VirtualClock clock;
    SimDevice device(config, clock);
    unsigned char v = 0;
    device.Ioctl(PPRDATA, &v);  // refused before the claim, still counted
    device.Ioctl(PPCLAIM, nullptr);
    device.Ioctl(PPWDATA, &v);
    device.Ioctl(PPWDATA, &v);
    device.Ioctl(PPRSTATUS, &v);
    const uint64_t before = clock.Peek();
    device.Ioctl(PPWCONTROL, &v);
    EXPECT_EQ(clock.Peek() - before, VirtualClock::kPortAccessNs);

    const Status closed = device.Close();
    ASSERT_TRUE(closed.Ok()) << closed;
    std::ifstream in(config.CountsFile);
    std::map<std::string, uint64_t> counts;
    std::string name;
    uint64_t n = 0;
    while (in >> name >> n) counts[name] = n;
    EXPECT_EQ(counts["PPRDATA"], 1u);
    EXPECT_EQ(counts["PPWDATA"], 2u);
    EXPECT_EQ(counts["PPRSTATUS"], 1u);
    EXPECT_EQ(counts["PPWCONTROL"], 1u);
    EXPECT_EQ(counts["PPFCONTROL"], 0u);
    EXPECT_EQ(counts["other"], 1u);
    EXPECT_EQ(device.Accesses(), 5u);
    EXPECT_TRUE(std::filesystem::exists(config.Bench.StateFile));

    // A counts file that cannot be written is reported, not dropped silently.
    config.CountsFile = (dir / "missing" / "counts").string();
    config.Bench.StateFile.clear();
    SimDevice broken(config, clock);
    EXPECT_EQ(broken.Close(), Status::Error("PreloadCountsFailed", config.CountsFile));
    std::filesystem::remove_all(dir);
}

TEST(SimDevice, EnvironmentChoosesTheBenchAndRefusesBadValues) {
    std::map<std::string, std::string> env;
    auto lookup = [&](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    auto read = ConfigFromEnvironment(lookup);
    ASSERT_TRUE(read.Ok()) << English(read);
    DeviceConfig c = *read;
    EXPECT_EQ(c.DevicePath, "/dev/parport0");
    EXPECT_EQ(c.Bench.Adapter, sim::AdapterKind::Gen2);
    EXPECT_TRUE(c.Bench.ChipName.empty());

    env = {{"TONDREL_SIM_BENCH", "sim:AT89S52@gen1"},
           {"TONDREL_SIM_MISO", "Low"},
           {"TONDREL_SIM_SLOW_NS", "40000"},
           {"TONDREL_SIM_STUCK", "0x200"},
           {"TONDREL_SIM_DEVICE", "/tmp/pp"}};
    read = ConfigFromEnvironment(lookup);
    ASSERT_TRUE(read.Ok()) << English(read);
    c = *read;
    EXPECT_EQ(c.Bench.ChipName, "AT89S52");
    EXPECT_EQ(c.Bench.Adapter, sim::AdapterKind::Gen1Fw1);
    EXPECT_EQ(c.Bench.MisoStuck, std::optional<bool>(false));
    EXPECT_EQ(c.Bench.Faults.MinPhaseNs, 40000u);
    EXPECT_EQ(c.Bench.Faults.StuckAddress, 0x200);
    EXPECT_EQ(c.DevicePath, "/tmp/pp");

    for (const auto& [name, bad] :
         std::map<std::string, std::string>{{"TONDREL_SIM_BENCH", "sim:NoSuchChip"},
                                            {"TONDREL_SIM_MISO", "floating"},
                                            {"TONDREL_SIM_SLOW_NS", "12us"},
                                            {"TONDREL_SIM_STUCK", "-1"}}) {
        env = {{name, bad}};
        const auto refused = ConfigFromEnvironment(lookup);
        EXPECT_FALSE(refused.Ok()) << name;
        EXPECT_EQ(English(refused).rfind(name, 0), 0u) << English(refused);
    }
}

}  // namespace
}  // namespace tondrel::preload
