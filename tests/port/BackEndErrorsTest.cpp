#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "port/DirectPort.h"
#include "port/PpdevPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using ::testing::HasSubstr;

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

class PpdevErrors : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("tondrel-ppdev-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

// A device that is not there, and a directory given as one: each named with its fix.
TEST_F(PpdevErrors, MissingDeviceAndDirectoryAreNamedWithTheFix) {
    const struct {
        std::string Device;
        std::vector<std::string> Says;
    } cases[] = {
        {(dir_ / "parport7").string(), {"parport_pc", "ppdev"}},
        {dir_.string(), {"directory", "/dev/parport0"}},
    };
    for (const auto& c : cases) {
        const auto opened = OpenPpdev(c.Device, true);
        EXPECT_FALSE(opened.Ok()) << c.Device;
        const std::string error = English(opened);
        EXPECT_THAT(error, HasSubstr(c.Device));
        for (const std::string& said : c.Says) EXPECT_THAT(error, HasSubstr(said)) << c.Device;
    }
}

TEST_F(PpdevErrors, FilesThatAreNotPortsAreRefusedWithoutLeakingTheDescriptor) {
    const std::string file = (dir_ / "image.bin").string();
    std::ofstream(file) << "not a port";
    const size_t before = OpenDescriptors();
    for (const std::string& device : {file, std::string("/dev/null")}) {
        const auto opened = OpenPpdev(device, false);
        EXPECT_FALSE(opened.Ok()) << device;
        const std::string error = English(opened);
        EXPECT_THAT(error, HasSubstr(device));
        EXPECT_THAT(error, HasSubstr("not a parallel port device"));
        EXPECT_THAT(error, HasSubstr("/dev/parport0"));
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(PpdevErrors, PermissionDeniedPointsToGroupLp) {
    // Root opens anything on a normal file system; a read-only sysfs attribute still refuses.
    std::string device = (dir_ / "locked").string();
    std::ofstream(device) << "";
    chmod(device.c_str(), 0);
    const int probe = open(device.c_str(), O_RDWR);
    if (probe >= 0) {
        close(probe);
        device = "/sys/kernel/uevent_seqnum";
        const int fd = open(device.c_str(), O_RDWR);
        if (fd >= 0) close(fd);
        if (fd >= 0 || errno != EACCES) GTEST_SKIP() << "no file here refuses write access";
    }
    const auto opened = OpenPpdev(device, true);
    EXPECT_FALSE(opened.Ok());
    const std::string error = English(opened);
    EXPECT_THAT(error, HasSubstr(device));
    EXPECT_THAT(error, HasSubstr("group lp"));
}

TEST(PpdevNames, LptNumbersAndBasesMapToParportNodes) {
    EXPECT_EQ(PpdevDeviceForLpt(1), "/dev/parport0");
    EXPECT_EQ(PpdevDeviceForLpt(3), "/dev/parport2");
    EXPECT_EQ(PpdevDeviceForLpt(0), "");
    EXPECT_EQ(PpdevDeviceForLpt(4), "");
    EXPECT_EQ(PpdevDeviceForBase(0x378), "/dev/parport0");
    EXPECT_EQ(PpdevDeviceForBase(0x278), "/dev/parport1");
    EXPECT_EQ(PpdevDeviceForBase(0x3BC), "/dev/parport2");
    EXPECT_EQ(PpdevDeviceForBase(0x379), "");
    const auto opened = OpenPpdev("", true);
    EXPECT_FALSE(opened.Ok());
    const std::string error = English(opened);
    EXPECT_FALSE(error.empty());
}

TEST(DirectErrors, RefusedIopermExplainsRootCapabilityAndPpdev) {
    if (!DirectIoSupported()) GTEST_SKIP() << "not x86";
    std::vector<std::tuple<unsigned long, unsigned long, int>> calls;
    auto refuse = [&](int err) {
        return [&calls, err](unsigned long from, unsigned long num, int on) {
            calls.emplace_back(from, num, on);
            errno = err;
            return -1;
        };
    };
    const auto root = OpenDirect(0x278, true, refuse(EPERM));
    EXPECT_FALSE(root.Ok());
    std::string error = English(root);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_tuple(0x278ul, 3ul, 1));
    EXPECT_THAT(error, HasSubstr("0x278"));
    EXPECT_THAT(error, HasSubstr("root"));
    EXPECT_THAT(error, HasSubstr("CAP_SYS_RAWIO"));
    EXPECT_THAT(error, HasSubstr("ppdev"));

    const auto range = OpenDirect(0x3BC, true, refuse(EINVAL));
    EXPECT_FALSE(range.Ok());
    error = English(range);
    EXPECT_THAT(error, HasSubstr("0x3BC"));
    EXPECT_THAT(error, HasSubstr("ppdev"));
}

TEST(DirectErrors, ImpossibleBaseIsRefusedBeforeAskingTheKernel) {
    if (!DirectIoSupported()) GTEST_SKIP() << "not x86";
    int calls = 0;
    auto count = [&](unsigned long, unsigned long, int) { return ++calls, 0; };
    const auto zero = OpenDirect(0, true, count);
    EXPECT_FALSE(zero.Ok());
    EXPECT_THAT(English(zero), HasSubstr("0x378"));
    EXPECT_FALSE(OpenDirect(0xFFFE, true, count).Ok());
    EXPECT_EQ(calls, 0);
}

// Only parallel ports are driven: the LPT bases, and a card's base the system lists as one.
TEST(DirectErrors, OnlyAParallelPortBaseIsDriven) {
    const std::string ioports =
        "0000-0cf7 : PCI Bus 0000:00\n"
        "  0060-0060 : keyboard\n"
        "  0064-0064 : keyboard\n"
        "  0070-0071 : rtc_cmos\n"
        "0cf8-0cff : PCI conf1\n"
        "d000-dfff : PCI Bus 0000:05\n"
        "  d010-d012 : parport1\n";
    const struct {
        uint16_t Base;
        const char* Listed;  // nullptr: driven
    } cases[] = {
        {0x378, nullptr},   {0x278, nullptr},   {0x3BC, nullptr},     {0xD010, nullptr},
        {0x60, "keyboard"}, {0x70, "rtc_cmos"}, {0xCF8, "PCI conf1"}, {0xD014, "PCI Bus 0000:05"},
        {0xF000, "-"}};
    for (const auto& c : cases) {
        const Status s = CheckDirectBase(c.Base, ioports);
        if (!c.Listed) {
            EXPECT_TRUE(s.Ok()) << std::hex << c.Base;
            continue;
        }
        ASSERT_FALSE(s.Ok()) << std::hex << c.Base;
        EXPECT_EQ(s.Error().Key, "PortDirectNotParallel");
        EXPECT_EQ(s.Error().Args.at(1), c.Listed) << std::hex << c.Base;
    }
}

TEST(DirectErrors, GrantedAccessIsGivenBackOnClose) {
    if (!DirectIoSupported()) GTEST_SKIP() << "not x86";
    std::vector<std::tuple<unsigned long, unsigned long, int>> calls;
    auto grant = [&](unsigned long from, unsigned long num, int on) {
        calls.emplace_back(from, num, on);
        return 0;
    };
    // Unshadowed: nothing touches the registers until asked, so no real port is read here.
    auto opened = OpenDirect(0x378, false, grant);
    ASSERT_TRUE(opened.Ok()) << English(opened);
    std::unique_ptr<PortIo> port = std::move(opened).Value();
    EXPECT_EQ(port->Describe(), "direct 0x378");
    port.reset();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], std::make_tuple(0x378ul, 3ul, 0));
}

}  // namespace
}  // namespace tondrel
