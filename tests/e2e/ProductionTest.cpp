// The production bench end to end: tondrel-cli programming chip after chip as the bench swaps
// them, each chip with its own serial number, the log read back by Python's JSON reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/db/TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kSamples = TONDREL_SOURCE_ROOT "/samples/";

// One tondrel-cli run, its standard output read line by line while it runs.
class Child {
  public:
    Child(const std::vector<std::string>& args, const std::string& errFile) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        std::string exe = TONDREL_CLI;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        in_ = ::fdopen(out[0], "r");
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (in_) std::fclose(in_);
    }
    // The next line of standard output; "" at its end.
    std::string Line() {
        std::string line;
        for (int c; in_ && (c = std::fgetc(in_)) != EOF;) {
            line += static_cast<char>(c);
            if (c == '\n') break;
        }
        return line;
    }
    // Lines until `count` of them hold `text` (or the output ends).
    std::vector<std::string> LinesUntil(const std::string& text, int count) {
        std::vector<std::string> lines;
        for (int seen = 0; seen < count;) {
            const std::string line = Line();
            if (line.empty()) break;
            lines.push_back(line);
            if (line.find(text) != std::string::npos) ++seen;
        }
        return lines;
    }
    void Interrupt() { ::kill(pid_, SIGINT); }
    int Wait() {
        int raw = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &raw, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string Rest() {
        std::string rest;
        for (std::string line; !(line = Line()).empty();) rest += line;
        return rest;
    }

  private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
};

class Production : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    std::vector<std::string> Args(const std::string& bench, const std::string& state) const {
        return {"--database", Path("chip.db"), "--lang",      "en",
                "--port",     bench,           "--sim-state", Path(state)};
    }
    // A field from one JSON line, through Python's own parser.
    static std::string Field(const std::string& line, const std::string& key) {
        const std::string file =
            fs::temp_directory_path() / ("tondrel-line-" + std::to_string(::getpid()));
        std::ofstream(file) << line;
        const std::string command =
            "python3 -c 'import json,sys; v=json.load(open(sys.argv[1]))"
            ".get(sys.argv[2]); print(json.dumps(v, ensure_ascii=False))'"
            " " +
            file + " " + key;
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
            ::pclose(pipe);
        }
        fs::remove(file);
        if (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static int System(const std::string& command) {
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    tondrel::testing::TempDir dir_;
};

TEST_F(Production, RepeatGivesFiveSwappedChipsConsecutiveNumbersUntilCtrlC) {
    const std::string firmware = kSamples + "atmega16-blink.hex";
    auto args = Args("sim:ATmega16@swap4", "chip.state");
    for (const char* a : {"auto", "--flash", firmware.c_str(), "--serial", "eeprom:0x1F0:4:big",
                          "--serial-start", "1000", "--repeat", "--json", "--log"})
        args.emplace_back(a);
    args.push_back(Path("log.jsonl"));
    Child run(args, Path("stderr.txt"));
    std::vector<std::string> lines = run.LinesUntil("\"operation\"", 5);
    ASSERT_EQ(lines.size(), 5u) << ReadAll(Path("stderr.txt"));
    // No sixth chip is in the tray: the socket stays empty however long the loop waits, and the
    // fifth chip is not counted again.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    run.Interrupt();
    const std::string rest = run.Rest();
    EXPECT_EQ(run.Wait(), 130);
    for (int i = 0; i < 5; ++i) {
        const std::string& line = lines[static_cast<size_t>(i)];
        EXPECT_EQ(Field(line, "chip_number"), std::to_string(i + 1));
        EXPECT_EQ(Field(line, "serial"), std::to_string(1000 + i)) << line;
        EXPECT_EQ(Field(line, "result"), "\"pass\"");
        EXPECT_EQ(Field(line, "signature"), "\"1E9403\"");
    }
    EXPECT_EQ(Field(rest, "type"), "\"summary\"") << rest;
    EXPECT_EQ(Field(rest, "passed"), "5");
    EXPECT_EQ(Field(rest, "serials"), "[1000, 1001, 1002, 1003, 1004]");
    EXPECT_EQ(Field(rest, "exit_status"), "130");
    const std::string err = ReadAll(Path("stderr.txt"));
    EXPECT_NE(err.find("5 chips: 5 passed, 0 failed"), std::string::npos) << err;
    // The log holds the same lines, and a JSON-lines reader takes it whole.
    std::string all;
    for (const auto& l : lines) all += l;
    EXPECT_EQ(ReadAll(Path("log.jsonl")), all + rest);
    EXPECT_EQ(System("python3 -m json.tool --json-lines " + Path("log.jsonl") + " >/dev/null"), 0);
}

TEST_F(Production, TwoRunsAtOnceNeverShareANumber) {
    const std::string firmware = kSamples + "atmega16-blink.hex";
    std::vector<std::unique_ptr<Child>> runs;
    for (const char* state : {"a.state", "b.state"}) {
        auto args = Args("sim:ATmega16@swap2", state);
        for (const char* a : {"auto", "--flash", firmware.c_str(), "--serial", "eeprom:0x10:2",
                              "--repeat", "--json"})
            args.emplace_back(a);
        runs.push_back(std::make_unique<Child>(args, Path(std::string(state) + ".err")));
    }
    std::set<std::string> numbers;
    for (auto& run : runs) {
        for (const std::string& line : run->LinesUntil("\"operation\"", 3)) {
            ASSERT_EQ(Field(line, "result"), "\"pass\"") << line;
            EXPECT_TRUE(numbers.insert(Field(line, "serial")).second) << line;
        }
    }
    for (auto& run : runs) {
        run->Interrupt();
        EXPECT_EQ(run->Wait(), 130);
    }
    EXPECT_EQ(numbers, (std::set<std::string>{"0", "1", "2", "3", "4", "5"}));
}

TEST_F(Production, RefusedSerialsAndLogsSayWhyAndTouchNothing) {
    // A number too large for its field: nothing written, the number kept for the next chip.
    const std::string firmware = Path("fw \"引号\" 固件.hex");
    fs::copy_file(kSamples + "atmega16-blink.hex", firmware);
    auto args = Args("sim:ATmega16", "chip.state");
    for (const char* a : {"auto", "--flash", firmware.c_str(), "--serial", "eeprom:0:1",
                          "--serial-start", "256", "--json"})
        args.emplace_back(a);
    {
        Child run(args, Path("stderr.txt"));
        const std::string line = run.Line();
        EXPECT_EQ(run.Wait(), 1);
        EXPECT_EQ(Field(line, "result"), "\"fail\"") << line;
        EXPECT_EQ(Field(line, "error"), "\"SerialTooLarge\"");
        EXPECT_EQ(Field(line, "serial"), "null");
        EXPECT_NE(Field(line, "files").find("fw \\\"引号\\\" 固件.hex"), std::string::npos)
            << Field(line, "files");
        EXPECT_NE(ReadAll(Path("stderr.txt")).find("serial number 256 does not fit in 1 bytes"),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(Path("chip.state.tmp")));
    }
    EXPECT_FALSE(ReadAll(Path("chip.state")).empty());
    const std::string blank = ReadAll(Path("chip.state"));
    // A log that cannot be appended to stops the run before the chip is looked at.
    auto logged = Args("sim:ATmega16", "chip.state");
    for (const char* a : {"auto", "--flash", firmware.c_str(), "--log", "/nonexistent/x.log"})
        logged.emplace_back(a);
    Child run(logged, Path("stderr2.txt"));
    EXPECT_EQ(run.Rest(), "");
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(ReadAll(Path("stderr2.txt")).find("cannot open the log /nonexistent/x.log"),
              std::string::npos);
    EXPECT_EQ(ReadAll(Path("chip.state")), blank);
    // Without the read-back no number could be kept: refused before the chip is written.
    auto unread = Args("sim:ATmega16", "chip.state");
    for (const char* a :
         {"--no-verify-after", "auto", "--flash", firmware.c_str(), "--serial", "eeprom:0:2"})
        unread.emplace_back(a);
    Child off(unread, Path("stderr4.txt"));
    EXPECT_EQ(off.Wait(), 1);
    EXPECT_NE(ReadAll(Path("stderr4.txt")).find("this run has the read-back off"),
              std::string::npos);
    EXPECT_EQ(ReadAll(Path("chip.state")), blank);
    // A field that fits: the number refused above was given back, so this chip gets it.
    args[args.size() - 4] = "eeprom:0:2:big";
    {
        Child good(args, Path("stderr3.txt"));
        EXPECT_EQ(Field(good.Line(), "serial"), "256");
        EXPECT_EQ(good.Wait(), 0) << ReadAll(Path("stderr3.txt"));
    }
    ASSERT_EQ(System(std::string(TONDREL_CLI) + " --database " + Path("chip.db") +
                     " --port sim:ATmega16 --sim-state " + Path("chip.state") + " read-eeprom " +
                     Path("e.hex") + " >/dev/null 2>&1"),
              0);
    EXPECT_EQ(ReadAll(Path("e.hex")).rfind(":100000000100FFFF", 0), 0u) << ReadAll(Path("e.hex"));
}

}  // namespace
