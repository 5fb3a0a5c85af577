// The preloaded library in a real process: this executable runs itself again with the library
// in LD_PRELOAD, and the child's cases (skipped in a plain run) talk to the simulated bench
// through open/ioctl/close exactly as any ppdev program does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "PreloadJob.h"
#include "port/PpdevPort.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"
#include "tests/support/Results.h"

extern char** environ;

namespace tondrel::preload {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TempDir {
    TempDir() {
        static int serial = 0;
        Path = fs::temp_directory_path() /
               ("tondrel-preload-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        fs::create_directories(Path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    fs::path Path;
};

// Runs one child case of this executable with the library preloaded and `env` added. Gives up
// (and kills the child) after two minutes so that a stuck child cannot hang the suite.
::testing::AssertionResult RunChild(const std::string& testCase,
                                    const std::map<std::string, std::string>& env,
                                    const fs::path& log) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("TONDREL_SIM_", 0) != 0 && var.rfind("LD_PRELOAD=", 0) != 0 &&
            var.rfind("ASAN_OPTIONS=", 0) != 0)
            vars.push_back(var);
    }
    // In a sanitizer build the library comes before the sanitizer runtime; that is harmless.
    const char* asan = std::getenv("ASAN_OPTIONS");
    vars.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                   "verify_asan_link_order=0");
    vars.push_back(std::string("LD_PRELOAD=") + TONDREL_PRELOAD_LIBRARY);
    vars.push_back("TONDREL_PRELOAD_CHILD=1");
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=" + testCase;
    std::string self = fs::read_symlink("/proc/self/exe").string();
    char* argv[] = {self.data(), filter.data(), nullptr};

    const pid_t pid = fork();
    if (pid < 0) return ::testing::AssertionFailure() << "fork failed";
    if (pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(out, 2);
        execve(self.c_str(), argv, envp.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return ::testing::AssertionFailure() << "child timed out:\n" << ReadFile(log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string output = ReadFile(log);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "child failed:\n" << output;
    if (output.find("[  PASSED  ] 1 test") == std::string::npos)
        return ::testing::AssertionFailure() << "child ran no case:\n" << output;
    return ::testing::AssertionSuccess();
}

bool InChild() {
    return std::getenv("TONDREL_PRELOAD_CHILD") != nullptr;
}

// ---- the child's side ----

TEST(PreloadChild, Job) {
    if (!InChild()) GTEST_SKIP() << "runs only under the preloaded library";
    const char* job = std::getenv("TONDREL_PRELOAD_JOB");
    ASSERT_NE(job, nullptr);
    std::istringstream in(job);
    std::string chip;
    int32_t bytes = 0;
    uint32_t seed = 0;
    in >> chip >> bytes >> seed;
    auto opened = OpenPpdev(std::getenv("TONDREL_SIM_DEVICE"), true);
    ASSERT_TRUE(opened.Ok()) << English(opened);
    std::unique_ptr<PortIo> port = std::move(opened).Value();
    SystemClock clock;
    const JobOutcome outcome = RunJob(chip, bytes, seed, *port, clock);
    port.reset();  // closing the device saves the chip
    std::printf("signature %s\n", outcome.Signature.c_str());
    EXPECT_EQ(outcome.Error, "");
    EXPECT_EQ(outcome.FailedWrite, -1);
    EXPECT_TRUE(outcome.ReadBackMatches);
}

TEST(PreloadChild, IoctlRules) {
    if (!InChild()) GTEST_SKIP() << "runs only under the preloaded library";
    const char* device = std::getenv("TONDREL_SIM_DEVICE");
    const int fd = ::open(device, O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    unsigned char v = 0;
    errno = 0;
    EXPECT_EQ(ioctl(fd, PPRSTATUS, &v), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(ioctl(fd, PPCLAIM), 0);
    errno = 0;
    EXPECT_EQ(ioctl(fd, PPCLAIM), -1);
    EXPECT_EQ(errno, EINVAL);
    v = 0xF5;  // the register rules themselves are checked on the device in-process
    EXPECT_EQ(ioctl(fd, PPWCONTROL, &v), 0);
    EXPECT_EQ(ioctl(fd, PPRCONTROL, &v), 0);
    EXPECT_EQ(v, 0x05);
    errno = 0;
    EXPECT_EQ(ioctl(fd, _IO(PP_IOCTL, 0x7F)), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::close(fd), 0);

    // Everything else reaches the system untouched.
    const int null = ::open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);
    errno = 0;
    EXPECT_EQ(ioctl(null, PPCLAIM), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(null);
    const std::string created = std::string(std::getenv("TONDREL_PRELOAD_DIR")) + "/made";
    const int file = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640);
    ASSERT_GE(file, 0);
    ::close(file);
    struct stat st {};
    ASSERT_EQ(::stat(created.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u & ~0022u & 0777u);

    // A program that exits with the device still open leaves its chip behind all the same.
    setenv("TONDREL_SIM_BENCH", "sim:ATmega16", 1);
    setenv("TONDREL_SIM_STATE",
           (std::string(std::getenv("TONDREL_PRELOAD_DIR")) + "/left.state").c_str(), 1);
    const int left = ::open(device, O_RDWR);
    ASSERT_GE(left, 0);
    EXPECT_EQ(ioctl(left, PPCLAIM), 0);

    // A bench that cannot be built makes the open fail instead of handing out a dead port.
    setenv("TONDREL_SIM_BENCH", "sim:NoSuchChip", 1);
    errno = 0;
    EXPECT_EQ(::open(device, O_RDWR), -1);
    EXPECT_EQ(errno, EINVAL);
}

// ---- the parent's side ----

TEST(PreloadedLibrary, IoctlRulesHoldInARealProcess) {
    if (InChild()) GTEST_SKIP();
    TempDir dir;
    EXPECT_TRUE(RunChild("PreloadChild.IoctlRules",
                         {{"TONDREL_SIM_DEVICE", (dir.Path / "parport-sim").string()},
                          {"TONDREL_SIM_BENCH", "sim:empty"},
                          {"TONDREL_PRELOAD_DIR", dir.Path.string()}},
                         dir.Path / "log"));
    EXPECT_TRUE(fs::exists(dir.Path / "left.state"));
}

struct JobCase {
    const char* Chip;
    int32_t Bytes;
    // The preloaded bench runs in real time: a chip on its 1 MHz factory clock would make the
    // outcome depend on how fast this machine happens to run, so the AVR gets a crystal.
    const char* Clock;
};

class PreloadedJob : public ::testing::TestWithParam<JobCase> {};

// The ppdev back end through the library programs the chip, and leaves exactly the chip state
// the in-process bench leaves after the same job.
TEST_P(PreloadedJob, LeavesTheSameChipAsTheInProcessBench) {
    if (InChild()) GTEST_SKIP();
    const JobCase c = GetParam();
    TempDir dir;
    const fs::path viaPpdev = dir.Path / "ppdev.state";
    const std::string job = std::string(c.Chip) + " " + std::to_string(c.Bytes) + " 16";
    ASSERT_TRUE(RunChild("PreloadChild.Job",
                         {{"TONDREL_SIM_DEVICE", (dir.Path / "parport-sim").string()},
                          {"TONDREL_SIM_BENCH", std::string("sim:") + c.Chip + c.Clock},
                          {"TONDREL_SIM_STATE", viaPpdev.string()},
                          {"TONDREL_SIM_COUNTS", (dir.Path / "counts").string()},
                          {"TONDREL_PRELOAD_JOB", job}},
                         dir.Path / "log"));

    auto parsed = sim::ParseBenchName(std::string("sim:") + c.Chip + c.Clock);
    ASSERT_TRUE(parsed.Ok()) << English(parsed);
    sim::BenchOptions options = *parsed;
    options.StateFile = (dir.Path / "inprocess.state").string();
    VirtualClock clock;
    sim::Bench bench(clock, options);
    sim::SimPort port(bench, &clock);
    const JobOutcome outcome = RunJob(c.Chip, c.Bytes, 16, port, clock);
    ASSERT_EQ(outcome.FailedWrite, -1);
    const Status saved = bench.SaveState();
    ASSERT_TRUE(saved.Ok()) << saved;

    const std::string a = ReadFile(viaPpdev);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == ReadFile(options.StateFile)) << "the two chips differ";
    const std::string log = ReadFile(dir.Path / "log");
    EXPECT_NE(log.find("signature " + outcome.Signature), std::string::npos) << log;
    EXPECT_NE(ReadFile(dir.Path / "counts").find("PPWDATA "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Families, PreloadedJob,
                         ::testing::Values(JobCase{"AT89S52", 512, ""},
                                           JobCase{"AT89S8252", 256, ""},
                                           JobCase{"ATmega16", 2048, "@16MHz"},
                                           JobCase{"PIC16F877A", 128, ""}));

}  // namespace
}  // namespace tondrel::preload
