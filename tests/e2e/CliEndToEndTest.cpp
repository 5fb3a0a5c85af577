// tondrel-cli as a user runs it: separate processes sharing a database and a simulated chip's
// state file, images made by independent tools.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "common/Text.h"
#include "db/Database.h"
#include "tests/support/AvrGcc.h"

namespace {

namespace fs = std::filesystem;
using tondrel::IsPic;
using tondrel::Method;

struct Result {
    int Status = -1;
    std::string Output;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tondrel-e2e-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with the test's own database (and, for a bench, its own state file), as a
    // script does: no terminal on standard input. `env` goes before the command; standard
    // error joins the output unless `errFile` names where it goes.
    Result Run(const std::string& port, const std::string& args, const std::string& env = "",
               const std::string& errFile = "") {
        std::string command =
            env + " " + Quote(TONDREL_CLI) + " --database " + Quote(Path("chip.db")) + " --lang en";
        if (!port.empty())
            command += " --port " + port + " --sim-state " + Quote(Path("chip.state"));
        command += " " + args + (errFile.empty() ? " 2>&1" : " 2>" + Quote(errFile));
        command += " </dev/null";
        Result r;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return r;
        std::array<char, 4096> buffer{};
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            r.Output.append(buffer.data(), n);
        const int raw = ::pclose(pipe);
        r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return r;
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // The tool's standard output and standard error kept apart.
    Result RunSplit(const std::string& port, const std::string& args, std::string& err) {
        const std::string errFile = Path("stderr.txt");
        Result r = Run(port, args, "", errFile);
        err = ReadAll(errFile);
        return r;
    }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool Has(const Result& r, const std::string& text) {
        return r.Output.find(text) != std::string::npos;
    }

    // A random image converted to Intel HEX by objcopy; 14-bit words for the PIC chips.
    std::string MakeHex(const std::string& name, size_t size, bool picWords, unsigned seed) {
        std::mt19937 rng(seed);
        std::string bin(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            uint8_t b = static_cast<uint8_t>(rng());
            if (picWords && (i % 2 == 1)) b &= 0x3F;
            bin[i] = static_cast<char>(b);
        }
        const std::string binPath = Path(name + ".bin");
        std::ofstream(binPath, std::ios::binary) << bin;
        const std::string hexPath = Path(name + ".hex");
        const std::string command =
            "objcopy -I binary -O ihex " + Quote(binPath) + " " + Quote(hexPath);
        EXPECT_EQ(std::system(command.c_str()), 0);
        return hexPath;
    }

    fs::path dir_;
};

struct Chip {
    const char* Name;
    Method MethodCode;
    bool BySignature;   // found by the search; otherwise chosen with --chip
    const char* Flash;  // a sample, or nullptr for a generated image
    size_t FlashBytes;
    size_t EEPROMBytes;
};

const std::string kSamples = TONDREL_SOURCE_ROOT "/samples/";

}  // namespace

TEST_F(CliRun, AutoProgrammingThenVerifyForEveryMethodCode) {
    const Chip chips[] = {
        {"PIC16F84A", Method::Pic, true, nullptr, 256, 16},
        {"AT89S52", Method::At89s, true, "at89s52-blink.hex", 0, 0},
        {"AT89S53", Method::At89s53, false, nullptr, 300, 0},
        {"AT89S8252", Method::At89s8252, false, nullptr, 300, 40},
        {"AT89S8253", Method::At89s8253, false, nullptr, 300, 0},
        {"ATmega16", Method::Avr, true, "atmega16-blink.hex", 0, 0},
        {"PIC16F877A", Method::PicA, true, "pic16f877a-count.hex", 0, 0},
    };
    unsigned seed = 1;
    for (const Chip& c : chips) {
        SCOPED_TRACE(c.Name);
        fs::remove(Path("chip.state"));
        // The AVR on a crystal it can follow at any speed, so the speed given is the one stored.
        const std::string port =
            std::string("sim:") + c.Name + (c.MethodCode == Method::Avr ? "@16MHz" : "");
        const std::string chipOption = c.BySignature ? "" : std::string(" --chip ") + c.Name;
        const bool pic = IsPic(c.MethodCode);
        const std::string flash =
            c.Flash ? kSamples + c.Flash : MakeHex("flash", c.FlashBytes, pic, ++seed);
        std::string files = " --flash " + Quote(flash);
        std::string eeprom;
        if (c.EEPROMBytes) {
            eeprom = MakeHex("eeprom", c.EEPROMBytes, false, ++seed);
            files += " --eeprom " + Quote(eeprom);
        } else if (c.MethodCode == Method::Avr) {
            eeprom = kSamples + "atmega16-blink.eep";
            files += " --eeprom " + Quote(eeprom);
        }

        Result a = Run(port, "--speed 3" + chipOption + " auto" + files +
                                 " --no-update-flash --no-update-eeprom --erase --write-flash"
                                 " --write-eeprom");
        ASSERT_EQ(a.Status, 0) << a.Output;
        EXPECT_NE(a.Output.find(">>auto program completed！"), std::string::npos) << a.Output;
        if (c.BySignature) {
            EXPECT_NE(a.Output.find(std::string(">>chip detected:") + c.Name), std::string::npos);
        }

        // A second process sees the chip the first one wrote.
        Result v = Run(
            port, chipOption.substr(chipOption.empty() ? 0 : 1) + " verify-flash " + Quote(flash));
        EXPECT_EQ(v.Status, 0) << v.Output;
        EXPECT_NE(v.Output.find("FLASH verified successfully"), std::string::npos) << v.Output;
        if (!eeprom.empty()) {
            Result ve = Run(port, chipOption + " verify-eeprom " + Quote(eeprom));
            EXPECT_EQ(ve.Status, 0) << ve.Output;
        }

        // The speed of the good write was stored for this chip and is there for the next run.
        auto db = tondrel::db::Database::Open(Path("chip.db"));
        ASSERT_TRUE(db) << db.Error().Text(tondrel::Language::English);
        auto record = (*db)->ChipByName(c.Name);
        ASSERT_TRUE(record && *record);
        EXPECT_EQ((*db)->ReadSpeed((*record)->ChipId).ValueOr({}), std::optional<int>(3));
    }
}

// PIC files with gaps: with "write 0xFF" the gap words (0xFFFF in a buffer blank-filled with
// 0xFF, or written so in the file) are programmed as blank 14-bit words, and without verification
// every word still lands; a second process then verifies the chip clean.
TEST_F(CliRun, PicGapsAndUnverifiedWritesVerifyClean) {
    // A method-code-0 image whose every fifth word is 0xFFFF.
    std::string bin;
    for (int w = 0; w < 120; ++w) {
        const unsigned v = (w % 5 == 0) ? 0xFFFF : (w * 0x135u + 7) & 0x3FFF;
        bin += static_cast<char>(v & 0xFF);
        bin += static_cast<char>(v >> 8);
    }
    std::ofstream(Path("gaps.bin"), std::ios::binary) << bin;
    const std::string gaps = Path("gaps.hex");
    ASSERT_EQ(
        std::system(
            ("objcopy -I binary -O ihex " + Quote(Path("gaps.bin")) + " " + Quote(gaps)).c_str()),
        0);
    struct Case {
        const char* Chip;
        std::string Flash;
    };
    for (const Case& c : {Case{"PIC16F877A", kSamples + "pic16f877a-count.hex"},
                          Case{"PIC16F628", gaps}, Case{"PIC16F84A", gaps}}) {
        for (const char* options : {"--write-ff", "--no-verify", "--write-ff --no-verify"}) {
            SCOPED_TRACE(std::string(c.Chip) + " " + options);
            fs::remove(Path("chip.state"));
            const std::string port = std::string("sim:") + c.Chip;
            const std::string chip = std::string(" --chip ") + c.Chip;
            Result w = Run(port, options + chip + " write-flash " + Quote(c.Flash));
            ASSERT_EQ(w.Status, 0) << w.Output;
            Result v = Run(port, chip.substr(1) + " verify-flash " + Quote(c.Flash));
            EXPECT_EQ(v.Status, 0) << v.Output;
            EXPECT_NE(v.Output.find("FLASH verified successfully"), std::string::npos) << v.Output;
        }
    }
}

TEST_F(CliRun, AChangedChipFailsVerificationNamingTheAddress) {
    const std::string flash = kSamples + "atmega16-blink.hex";
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(flash)).Status, 0);
    const std::string other = MakeHex("other", 64, false, 99);
    Result v = Run("sim:ATmega16", "verify-flash " + Quote(other));
    EXPECT_EQ(v.Status, 1) << v.Output;
    EXPECT_NE(v.Output.find(">>address<0x"), std::string::npos) << v.Output;
}

TEST_F(CliRun, ReadBackSavesWhatWasWritten) {
    const std::string flash = kSamples + "at89s52-blink.hex";
    ASSERT_EQ(Run("sim:AT89S52", "write-flash " + Quote(flash)).Status, 0);
    ASSERT_EQ(Run("sim:AT89S52", "read-flash " + Quote(Path("back.hex"))).Status, 0);
    // The saved file verifies against the chip, and the chip against the saved file.
    Result v = Run("sim:AT89S52", "verify-flash " + Quote(Path("back.hex")));
    EXPECT_EQ(v.Status, 0) << v.Output;
}

TEST_F(CliRun, WithoutAStateFileTheChipIsKeptPerBenchName) {
    const std::string flash = kSamples + "at89s52-blink.hex";
    const std::string base = "XDG_STATE_HOME=" + Quote(Path("state")) + " " + Quote(TONDREL_CLI) +
                             " --database " + Quote(Path("chip.db")) +
                             " --lang en --port sim:AT89S52 ";
    ASSERT_EQ(std::system((base + "write-flash " + Quote(flash) + " >/dev/null").c_str()), 0);
    EXPECT_TRUE(fs::exists(Path("state/tondrel/AT89S52.state")));
    EXPECT_EQ(std::system((base + "verify-flash " + Quote(flash) + " >/dev/null").c_str()), 0);
    // The file is the chip's, whatever the spelling, adapter or clock of the bench name.
    const std::string env = "XDG_STATE_HOME=" + Quote(Path("state"));
    for (const char* bench : {"sim:at89s52", "sim:AT89S52@gen1@12MHz"}) {
        std::string err;
        Result r = Run("", "--port " + std::string(bench) + " verify-flash " + Quote(flash), env);
        EXPECT_EQ(r.Status, 0) << bench << "\n" << r.Output;
    }
    // A state folder that cannot be made fails the run before anything is written.
    std::ofstream(Path("afile")) << "x";
    Result lost = Run("", "--port sim:AT89S52 write-flash " + Quote(flash),
                      "XDG_STATE_HOME=" + Quote(Path("afile")));
    EXPECT_EQ(lost.Status, 1) << lost.Output;
    EXPECT_FALSE(Has(lost, "begin writing")) << lost.Output;
}

// A state file given as a link is written through it; a FIFO or a device is refused at once.
TEST_F(CliRun, TheStateFileIsWrittenThroughLinksAndNeverAPipe) {
    const std::string flash = kSamples + "at89s52-blink.hex";
    fs::create_directories(Path("real"));
    fs::create_symlink(Path("real/chip.state"), Path("chip.state"));
    ASSERT_EQ(Run("sim:AT89S52", "write-flash " + Quote(flash)).Status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("chip.state")));
    EXPECT_TRUE(fs::is_regular_file(Path("real/chip.state")));
    EXPECT_EQ(Run("sim:AT89S52", "verify-flash " + Quote(flash)).Status, 0);
    fs::remove(Path("chip.state"));
    ASSERT_EQ(::mkfifo(Path("chip.state").c_str(), 0600), 0);
    Result fifo = Run("sim:AT89S52", "signature", "timeout 30");
    EXPECT_EQ(fifo.Status, 1) << fifo.Output;
    EXPECT_TRUE(Has(fifo, "is not a regular file")) << fifo.Output;
}

TEST_F(CliRun, FailuresAndUsageErrorsHaveTheirExitStatus) {
    Result none = Run("sim:none", "search");
    EXPECT_EQ(none.Status, 1);
    EXPECT_NE(none.Output.find(">>hardware disconnected or no electricity !"), std::string::npos);

    Result empty = Run("sim:empty", "search");
    EXPECT_EQ(empty.Status, 1);
    EXPECT_NE(empty.Output.find(">>no supported chip found!"), std::string::npos);

    Result missing = Run("sim:ATmega16", "write-flash " + Quote(Path("nope.hex")));
    EXPECT_EQ(missing.Status, 1) << missing.Output;

    std::ofstream(Path("bad.hex")) << ":10000000ZZ\n";
    Result bad = Run("sim:ATmega16", "write-flash " + Quote(Path("bad.hex")));
    EXPECT_EQ(bad.Status, 1) << bad.Output;

    EXPECT_EQ(Run("sim:ATmega16", "frobnicate").Status, 2);
    EXPECT_EQ(Run("sim:ATmega16", "write-flash").Status, 2);
    EXPECT_EQ(Run("sim:ATmega16", "--speed fast search").Status, 2);
    EXPECT_EQ(Run("sim:ATmega16", "mode PLC").Status, 2);
    EXPECT_EQ(Run("", "--help").Status, 0);

    Result unknownChip = Run("sim:ATmega16", "--chip ATmega999 erase");
    EXPECT_EQ(unknownChip.Status, 1);
}

TEST_F(CliRun, ModesAndConfigurationFromTheShell) {
    Result mode = Run("sim:ATmega16", "mode XILINX");
    EXPECT_EQ(mode.Status, 0) << mode.Output;
    EXPECT_NE(mode.Output.find(">>progammer status: Xilinx！"), std::string::npos);
    // A command-line run leaves the stored mode alone at start (the window restores it); the
    // stored external tool is not started either.
    Result back = Run("sim:ATmega16", "mode MCU");
    EXPECT_EQ(back.Output.find(">>progammer status: Xilinx！"), std::string::npos) << back.Output;

    Result show = Run("sim:ATmega16", "config show");
    EXPECT_EQ(show.Status, 0) << show.Output;
    EXPECT_NE(show.Output.find("FL0"), std::string::npos) << show.Output;
    // BODEN on (FL6); CKSEL0 would switch to an external clock this board does not have.
    Result write = Run("sim:ATmega16", "config write GroupBox3 FL6=on");
    EXPECT_EQ(write.Status, 0) << write.Output;
    Result again = Run("sim:ATmega16", "config show");
    EXPECT_NE(again.Output, show.Output);
}

// A mode switch from the shell never starts the stored external tool, "run program" on or not;
// a generation-one adapter refuses Willem EPROM3, storing nothing.
TEST_F(CliRun, ModeSwitchesStartNoToolAndFitTheAdapter) {
    {
        auto db = tondrel::db::Database::Open(Path("chip.db"));
        ASSERT_TRUE(db);
        ASSERT_TRUE((*db)->SetRunProgram(true));
    }
    const std::string marker = Path("started");
    std::ofstream(Path("tool.sh")) << "#!/bin/sh\ntouch " << Quote(marker) << "\n";
    fs::permissions(Path("tool.sh"), fs::perms::owner_all);
    ASSERT_EQ(Run("sim:ATmega16", "tool-path ALTERA " + Quote(Path("tool.sh"))).Status, 0);
    Result altera = Run("sim:ATmega16", "mode ALTERA");
    EXPECT_EQ(altera.Status, 0) << altera.Output;
    ::usleep(200'000);
    EXPECT_FALSE(fs::exists(marker));

    Result eprom3 = Run("sim:ATmega16@gen1", "mode EPROM3");
    EXPECT_EQ(eprom3.Status, 1) << eprom3.Output;
    EXPECT_TRUE(Has(eprom3, "has no Willem EPROM3 mode")) << eprom3.Output;
    auto db = tondrel::db::Database::Open(Path("chip.db"));
    ASSERT_TRUE(db);
    EXPECT_EQ((*db)->ReadSettings()->Launch, 2);
}

// A PIC image as Intel HEX: `words` from address 0, and the configuration word at 0x2007.
std::string PicHex(const std::vector<uint16_t>& words, uint16_t config) {
    auto record = [](uint32_t address, const std::vector<uint8_t>& data) {
        char text[16];
        unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF);
        std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(data.size()),
                      static_cast<unsigned>(address));
        std::string line = text;
        for (uint8_t b : data) {
            std::snprintf(text, sizeof text, "%02X", b);
            line += text;
            sum += b;
        }
        std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        return line + text;
    };
    std::vector<uint8_t> program;
    for (uint16_t w : words) program.insert(program.end(), {uint8_t(w & 0xFF), uint8_t(w >> 8)});
    return record(0, program) +
           record(0x400E,
                  {static_cast<uint8_t>(config & 0xFF), static_cast<uint8_t>(config >> 8)}) +
           ":00000001FF\n";
}

// Configuration writes do on the bench what they do on a chip after its next reset, and the
// tool says so before it writes.
TEST_F(CliRun, ConfigurationWritesHaveTheirConsequences) {
    auto fresh = [this] { fs::remove(Path("chip.state")); };

    // The bytes and fields by name.
    fresh();
    Result show = Run("sim:ATmega328P", "config show");
    ASSERT_EQ(show.Status, 0) << show.Output;
    EXPECT_TRUE(Has(show, "low fuse 0x62")) << show.Output;
    EXPECT_TRUE(Has(show, "CKSEL=0010 (internal 8 MHz RC)")) << show.Output;

    // An external clock: the decoded change, and nothing written without its option.
    Result refused = Run("sim:ATmega328P", "--yes config set CKSEL=0000");
    EXPECT_EQ(refused.Status, 1) << refused.Output;
    EXPECT_TRUE(Has(refused, "CKSEL 0010 → 0000, internal 8 MHz RC → external clock on XTAL1"))
        << refused.Output;
    EXPECT_TRUE(Has(refused, "--yes-external-clock")) << refused.Output;
    Result dry =
        Run("sim:ATmega328P", "--yes --yes-external-clock config --dry-run set lfuse=0x60");
    EXPECT_EQ(dry.Status, 0) << dry.Output;
    EXPECT_TRUE(Has(dry, "dry run")) << dry.Output;
    EXPECT_TRUE(Has(Run("sim:ATmega328P", "config show"), "low fuse 0x62"));
    Result gone = Run("sim:ATmega328P", "--yes --yes-external-clock config set CKSEL=0000");
    EXPECT_EQ(gone.Status, 0) << gone.Output;
    EXPECT_EQ(Run("sim:ATmega328P", "search").Status, 1);  // no clock on this board

    // On a board with a 16 MHz crystal the chip starts on it, and can go back and forth.
    fresh();
    EXPECT_TRUE(Has(Run("sim:ATmega328P@16MHz", "config show"), "CKSEL=1111"));
    EXPECT_EQ(Run("sim:ATmega328P@16MHz", "--yes config set CKSEL=0010").Status, 0);
    Result crystal =
        Run("sim:ATmega328P@16MHz", "--yes --yes-external-clock config set CKSEL=1111");
    EXPECT_EQ(crystal.Status, 0) << crystal.Output;
    Result found = Run("sim:ATmega328P@16MHz", "search");
    EXPECT_EQ(found.Status, 0) << found.Output;

    // RSTDISBL needs its own option besides --yes; then the chip is silent.
    fresh();
    Result rst = Run("sim:ATtiny85", "--yes config set RSTDISBL=0");
    EXPECT_EQ(rst.Status, 1) << rst.Output;
    EXPECT_TRUE(Has(rst, "--yes-end-serial-programming")) << rst.Output;
    EXPECT_EQ(Run("sim:ATtiny85", "search").Status, 0);
    Result off = Run("sim:ATtiny85", "--yes --yes-end-serial-programming config set RSTDISBL=0");
    EXPECT_EQ(off.Status, 0) << off.Output;
    EXPECT_EQ(Run("sim:ATtiny85", "search").Status, 1);

    // A fuse write the chip refuses (LB1 programmed) fails, naming why.
    fresh();
    EXPECT_EQ(Run("sim:ATmega16", "--yes config set LB=10").Status, 1);  // --yes-lock missing
    EXPECT_EQ(Run("sim:ATmega16", "--yes --yes-lock config set LB=10").Status, 0);
    Result locked = Run("sim:ATmega16", "--yes config set BODEN=0");
    EXPECT_EQ(locked.Status, 1) << locked.Output;
    EXPECT_TRUE(Has(locked, "lock bits refuse fuse writes")) << locked.Output;

    // AT89S8253: a fuse write leaves the Flash as it was.
    fresh();
    const std::string image = MakeHex("s8253", 200, false, 7);
    ASSERT_EQ(Run("sim:AT89S8253", "--chip AT89S8253 write-flash " + Quote(image)).Status, 0);
    Result fuse = Run("sim:AT89S8253", "--chip AT89S8253 config write GroupBox2 f2=on");
    EXPECT_EQ(fuse.Status, 0) << fuse.Output;
    EXPECT_EQ(Run("sim:AT89S8253", "--chip AT89S8253 verify-flash " + Quote(image)).Status, 0);
    EXPECT_TRUE(Has(Run("sim:AT89S8253", "--chip AT89S8253 config show"), "f2  \"x2 Clock\"  on"));

    // A PIC16F877A image with code and data protection on programs and verifies; a later
    // verify says the chip is protected.
    fresh();
    const std::string cp = Path("cp.hex");
    std::ofstream(cp) << PicHex({0x3001, 0x0086, 0x2802}, 0x1E72);
    const std::string eep = MakeHex("cp-eeprom", 16, false, 3);
    const std::string autoCp = "auto --flash " + Quote(cp) + " --eeprom " + Quote(eep) +
                               " --no-update-flash --no-update-eeprom --erase --write-flash "
                               "--write-eeprom";
    // Without --yes-lock the protecting word is not written, and the chip stays readable.
    Result unasked = Run("sim:PIC16F877A", "--yes " + autoCp);
    EXPECT_EQ(unasked.Status, 1) << unasked.Output;
    EXPECT_TRUE(Has(unasked, "code protection (CP) on")) << unasked.Output;
    EXPECT_TRUE(Has(unasked, "configuration word not written")) << unasked.Output;
    Result cpAuto = Run("sim:PIC16F877A", "--yes --yes-lock " + autoCp);
    EXPECT_EQ(cpAuto.Status, 0) << cpAuto.Output;
    Result cpVerify = Run("sim:PIC16F877A", "verify-flash " + Quote(cp));
    EXPECT_EQ(cpVerify.Status, 1) << cpVerify.Output;
    EXPECT_TRUE(Has(cpVerify, "code-protected")) << cpVerify.Output;

    // A protected PIC16F84A is erased (protection and all) and programmed again.
    fresh();
    const std::string plain = Path("plain.hex");
    std::ofstream(plain) << PicHex({0x3001, 0x0086, 0x2802}, 0x3FF9);
    EXPECT_EQ(Run("sim:PIC16F84A", "--yes --yes-lock config word 000F").Status, 0);
    Result protectedErase = Run("sim:PIC16F84A", "--yes erase");
    EXPECT_EQ(protectedErase.Status, 0) << protectedErase.Output;
    EXPECT_TRUE(Has(protectedErase, "code-protected")) << protectedErase.Output;
    EXPECT_EQ(Run("sim:PIC16F84A", "write-flash " + Quote(plain)).Status, 0);
    EXPECT_EQ(Run("sim:PIC16F84A", "verify-flash " + Quote(plain)).Status, 0);

    // An AT89S52 in lock mode 3 hides its signature; picked by name, it can be erased.
    fresh();
    EXPECT_EQ(Run("sim:AT89S52", "--yes --yes-lock config mode 2").Status, 0);
    EXPECT_EQ(Run("sim:AT89S52", "search").Status, 1);
    Result unlock = Run("sim:AT89S52", "--chip AT89S52 --yes erase");
    EXPECT_EQ(unlock.Status, 0) << unlock.Output;
    EXPECT_TRUE(Has(unlock, "lock bits")) << unlock.Output;
    EXPECT_EQ(Run("sim:AT89S52", "search").Status, 0);
}

TEST_F(CliRun, AnEmptySocketFailsEveryOperation) {
    const std::string noChip = ">>no chip answered";
    const char* commands[] = {"erase",
                              "signature",
                              "reset",
                              "read-flash out.hex",
                              "read-eeprom out.eep",
                              "write-flash " TONDREL_SOURCE_ROOT "/samples/atmega16-blink.hex",
                              "verify-flash " TONDREL_SOURCE_ROOT "/samples/atmega16-blink.hex",
                              "config write GroupBox3 FL0=on",
                              "config show"};
    for (const char* command : commands) {
        Result r = Run("sim:empty", std::string("--chip ATmega16 ") + command);
        EXPECT_EQ(r.Status, 1) << command << "\n" << r.Output;
        EXPECT_TRUE(Has(r, noChip)) << command << "\n" << r.Output;
        EXPECT_FALSE(Has(r, "successfully")) << command << "\n" << r.Output;
    }
    EXPECT_FALSE(fs::exists(Path("out.hex")));
    // Quiet hides the board, never the reason a run failed.
    std::string err;
    Result quiet = RunSplit("sim:empty", "--quiet --chip ATmega16 erase", err);
    EXPECT_EQ(quiet.Status, 1);
    EXPECT_NE(err.find(noChip), std::string::npos) << err;

    // A PIC's device ID and an AT89S51's signature tell as well.
    for (const char* chip : {"PIC16F877A", "AT89S52"}) {
        Result r = Run("sim:empty", std::string("--chip ") + chip + " erase");
        EXPECT_EQ(r.Status, 1) << chip << "\n" << r.Output;
        EXPECT_TRUE(Has(r, noChip)) << chip;
    }
    // A chip without a signature cannot tell: it says so once, and the operation goes on.
    Result unchecked = Run("sim:AT89S8252", "--chip AT89S8252 erase");
    EXPECT_EQ(unchecked.Status, 0) << unchecked.Output;
    const std::string note = ">>not checked: this chip cannot be identified";
    ASSERT_TRUE(Has(unchecked, note)) << unchecked.Output;
    EXPECT_EQ(unchecked.Output.find(note), unchecked.Output.rfind(note));
}

TEST_F(CliRun, ExitStatusOfFailedCommandsAndUsageErrors) {
    struct Case {
        const char* Port;
        const char* Args;
        int Status;
    };
    const Case cases[] = {
        {"sim:none", "hardware", 1},
        {"sim:none", "--chip ATmega16 erase", 1},
        {"sim:none", "--chip ATmega16 reset", 1},
        {"sim:none", "--chip ATmega16 signature", 1},
        {"sim:none", "--chip ATmega16 config show", 1},
        {"sim:ATmega16", "config word ZZZZ", 2},
        {"sim:ATmega16", "config userid 9 1", 2},
        {"sim:ATmega16", "config userid 8192 1", 2},
        {"sim:ATmega16", "config userid +1 1", 2},
        {"sim:ATmega16", "config write GroupBox3 FL7=off FL7=off", 2},
        {"sim:ATmega16", "config set BODEN=0 FL6=on", 2},
        {"sim:ATmega16", "config mode x", 2},
        {"sim:bogus", "search", 2},
        {"direct:0x37A", "search", 2},
        {"sim:ATmega16", "--speed 0x10 search", 2},
        {"sim:ATmega16", "--speed 1e3 search", 2},
        {"sim:ATmega16", "--lpt 0x1 search", 2},
        {"sim:ATmega16", "-h", 0},
        {"sim:ATmega16", "signature", 0},
        {"sim:ATmega16", "hardware", 0},
    };
    for (const Case& c : cases) {
        Result r = Run(c.Port, c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Port << " " << c.Args << "\n" << r.Output;
    }
    EXPECT_TRUE(Has(Run("", "-h"), "Exit status"));
    Result signature = Run("sim:ATmega16", "signature");
    EXPECT_TRUE(Has(signature, "1E9403")) << signature.Output;
}

TEST_F(CliRun, AutoProgrammingStopsBeforeErasingWhenItHasNothingToWrite) {
    const std::string flash = kSamples + "atmega16-blink.hex";
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(flash)).Status, 0);
    struct Case {
        const char* What;
        std::string Args;
        const char* Says;
    };
    std::ofstream(Path("empty.hex")) << ":00000001FF\r\n";
    std::ofstream(Path("zero.hex")).flush();
    const Case cases[] = {
        // Nobody at the terminal to answer "terminate?": terminating destroys nothing.
        {"no file, nobody to answer", "auto --update-flash --erase --write-flash",
         ">>auto progrmming terminted！"},
        {"an empty HEX file", "auto --flash " + Quote(Path("empty.hex")) + " --erase --write-flash",
         ">>the Flash file holds no data"},
        {"a 0-byte file", "auto --flash " + Quote(Path("zero.hex")) + " --erase --write-flash",
         ">>the Flash file holds no data"},
    };
    for (const Case& c : cases) {
        Result r = Run("sim:ATmega16", c.Args + " --no-update-eeprom --no-write-eeprom");
        EXPECT_EQ(r.Status, 1) << c.What << "\n" << r.Output;
        EXPECT_TRUE(Has(r, c.Says)) << c.What << "\n" << r.Output;
        EXPECT_FALSE(Has(r, ">>begin erasing")) << c.What << "\n" << r.Output;
        EXPECT_FALSE(Has(r, "completed")) << c.What;
        EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(flash)).Status, 0) << c.What;
    }
    // An explicit --no goes on, as the question allows.
    Result on = Run("sim:ATmega16",
                    "--no auto --update-flash --no-erase --no-write-flash "
                    "--no-update-eeprom --no-write-eeprom");
    EXPECT_EQ(on.Status, 0) << on.Output;
}

// The hex bytes the simulated chip's state file holds after `tag` ("eeprom", "config").
std::string StateWords(const std::string& state, const std::string& tag) {
    const auto at = state.find("\n" + tag + " ");
    if (at == std::string::npos) return "";
    const auto end = state.find('\n', at + 1);
    return state.substr(at + tag.size() + 2, end - at - tag.size() - 2);
}

// The file's fuses name the chip they are for: on another chip the run stops before anything
// is erased or written, whichever command carries them.
TEST_F(CliRun, FileFusesForAnotherChipLeaveTheChipInTheSocketAlone) {
    TONDREL_NEED_TOOL("avr-gcc");
    std::ofstream(Path("prog.c")) << tondrel::testsupport::kFusedProgram;
    ASSERT_TRUE(tondrel::testsupport::CompileAvr(Path("prog.c"), "atmega16", Path("m16.elf")));
    const std::string elf = Quote(Path("m16.elf"));
    const std::string image = Quote(MakeHex("old", 600, false, 4));
    ASSERT_EQ(Run("sim:ATmega32", "write-flash " + image).Status, 0);
    ASSERT_EQ(Run("sim:ATmega32", "write-eeprom " + image).Status, 0);
    const std::string before = ReadAll(Path("chip.state"));
    const std::string runs[] = {
        "auto --flash " + elf + " --eeprom " + elf + " --write-fuses-from-file",
        "auto --flash " + elf + " --write-fuses-from-file --json",  // chip by chip
        "write-flash " + elf + " --write-fuses-from-file",
    };
    for (const std::string& args : runs) {
        Result r = Run("sim:ATmega32", "--yes --yes-lock " + args);
        EXPECT_EQ(r.Status, 1) << args << "\n" << r.Output;
        EXPECT_TRUE(Has(r, "the file's fuses are for the atmega16, not the ATmega32"))
            << args << "\n"
            << r.Output;
        EXPECT_TRUE(ReadAll(Path("chip.state")) == before) << args << "\n" << r.Output;
    }
}

// A dry run of the file's fuses writes nothing at all: not the fuses, and not the memories that
// would have come before them.
TEST_F(CliRun, DryRunOfTheFilesFusesLeavesTheChipAsItWas) {
    TONDREL_NEED_TOOL("avr-gcc");
    std::ofstream(Path("prog.c")) << tondrel::testsupport::kFusedProgram;
    ASSERT_TRUE(tondrel::testsupport::CompileAvr(Path("prog.c"), "atmega16", Path("m16.elf")));
    const std::string elf = Quote(Path("m16.elf"));
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(MakeHex("old", 600, false, 4))).Status, 0);
    const std::string before = ReadAll(Path("chip.state"));
    for (const std::string& args : {"auto --flash " + elf + " --eeprom " + elf, "write-flash " + elf,
                                   "write-eeprom " + elf}) {
        Result r =
            Run("sim:ATmega16", "--yes --yes-lock --dry-run --write-fuses-from-file " + args);
        EXPECT_EQ(r.Status, 0) << args << "\n" << r.Output;
        EXPECT_TRUE(Has(r, "(dry run, nothing written)")) << args << "\n" << r.Output;
        EXPECT_TRUE(ReadAll(Path("chip.state")) == before) << args << "\n" << r.Output;
    }
}

// A clock source the board may not have, or a lock, needs its own flag besides --yes; without
// it nothing of the file's configuration is written, the fuses before the lock included.
TEST_F(CliRun, HazardousFileFusesNeedTheirOwnYes) {
    TONDREL_NEED_TOOL("avr-gcc");
    struct Case {
        const char* Name;
        const char* Config;  // avr-libc's FUSES and LOCKBITS
        const char* Flag;
        const char* Written;  // the state file's configuration line after the write
    };
    const Case cases[] = {
        {"crystal", "FUSES = { .low = 0xEF, .high = 0x99 };", "--yes-external-clock",
         "EF 99 FF FF"},
        {"lock", "FUSES = { .low = 0xE4, .high = 0xD9 };\nLOCKBITS = 0xFE;", "--yes-lock",
         "E4 D9 FF FE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string elf = Path(std::string(c.Name) + ".elf");
        std::ofstream(Path("fuses.c")) << "#include <avr/io.h>\n"
                                       << c.Config << "\nint main(void) { for (;;) PORTB = 1; }\n";
        ASSERT_TRUE(tondrel::testsupport::CompileAvr(Path("fuses.c"), "atmega16", elf));
        fs::remove(Path("chip.state"));
        const std::string args = "auto --flash " + Quote(elf) + " --write-fuses-from-file";
        Result refused = Run("sim:ATmega16", "--yes " + args);
        EXPECT_EQ(refused.Status, 1) << refused.Output;
        EXPECT_TRUE(Has(refused, std::string("give --yes ") + c.Flag + " to answer yes"))
            << refused.Output;
        EXPECT_TRUE(Has(refused, "cancelled, nothing written")) << refused.Output;
        EXPECT_EQ(StateWords(ReadAll(Path("chip.state")), "config"), "E1 99 FF FF");
        Result written = Run("sim:ATmega16", std::string("--yes ") + c.Flag + " " + args);
        EXPECT_EQ(written.Status, 0) << written.Output;
        EXPECT_EQ(StateWords(ReadAll(Path("chip.state")), "config"), c.Written);
    }
}

// With EESAVE the erase keeps the EEPROM: the file's 0xFF bytes over old data are written, and
// the read-back checks them too, so a write that did not take fails even where the page's poll
// read a byte the chip already held.
TEST_F(CliRun, AnEepromKeptThroughTheEraseReadsBackAsTheFile) {
    auto hex = [this](const std::string& name, const std::string& bytes) {
        std::ofstream(Path(name + ".bin"), std::ios::binary) << bytes;
        const std::string command = "objcopy -I binary -O ihex " + Quote(Path(name + ".bin")) +
                                    " " + Quote(Path(name + ".hex"));
        EXPECT_EQ(std::system(command.c_str()), 0);
        return Quote(Path(name + ".hex"));
    };
    const std::string old = MakeHex("old", 64, false, 5);
    ASSERT_EQ(Run("sim:ATmega16", "write-eeprom " + Quote(old)).Status, 0);
    ASSERT_EQ(Run("sim:ATmega16", "--yes config set EESAVE=0").Status, 0);
    // 0xFF over old data at 0-7 and 12-39, new data at 8-11 and 40-47; 48-63 not in the file.
    std::string bin(48, '\xFF');
    for (int i : {8, 9, 10, 11, 40, 41, 42, 43, 44, 45, 46, 47})
        bin[static_cast<size_t>(i)] = static_cast<char>(0x40 + i);
    const std::string oldWords = StateWords(ReadAll(Path("chip.state")), "eeprom");
    Result r = Run("sim:ATmega16", "--yes auto --flash " + Quote(kSamples + "atmega16-blink.hex") +
                                       " --eeprom " + hex("new", bin));
    ASSERT_EQ(r.Status, 0) << r.Output;
    std::string want;
    for (char b : bin) want += tondrel::HexText(static_cast<uint8_t>(b));
    // "512 " and the hex digits of 48 bytes, then what the file left alone.
    const std::string words = StateWords(ReadAll(Path("chip.state")), "eeprom");
    EXPECT_EQ(words.substr(4, 96), want);
    EXPECT_EQ(words.substr(100, 32), oldWords.substr(100, 32));

    // LB1 programmed: the chip takes no more writes. The page at 8 is polled at 9, which still
    // holds 0x49; only the 0xFF bytes beside it show that nothing was written.
    ASSERT_EQ(Run("sim:ATmega16", "--yes --yes-lock config set lock=0xFE").Status, 0);
    Result held =
        Run("sim:ATmega16", "write-eeprom " + hex("held", bin.substr(0, 8) + "\xFF\x49\xFF\xFF"));
    EXPECT_EQ(held.Status, 1) << held.Output;
    EXPECT_TRUE(Has(held, "address<0x08> differs: chip 48, buffer FF")) << held.Output;
}

// The chip named on the command line must be the one in the socket, or a twin that answers
// alike; otherwise every operation fails naming both, with the chip untouched.
TEST_F(CliRun, TheChipInTheSocketMustBeTheChosenOne) {
    const std::string flash = kSamples + "atmega16-blink.hex";
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(flash)).Status, 0);
    const std::string wrong = ">>the socket holds ATmega16 (1E9403), not the chosen ATmega8";
    const std::string commands[] = {"auto --flash " + Quote(flash),
                                    "erase",
                                    "signature",
                                    "read-flash " + Quote(Path("out.hex")),
                                    "write-flash " + Quote(flash),
                                    "verify-flash " + Quote(flash),
                                    "write-eeprom " + Quote(flash),
                                    "config show"};
    for (const std::string& command : commands) {
        Result r = Run("sim:ATmega16", "--chip ATmega8 " + command);
        EXPECT_EQ(r.Status, 1) << command << "\n" << r.Output;
        EXPECT_TRUE(Has(r, wrong)) << command << "\n" << r.Output;
        EXPECT_FALSE(Has(r, "successfully")) << command << "\n" << r.Output;
    }
    EXPECT_FALSE(fs::exists(Path("out.hex")));
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(flash)).Status, 0);
    // The reason goes to standard error, quiet or not; the board stays on standard output.
    for (const char* quiet : {"", "--quiet "}) {
        std::string err;
        Result r = RunSplit("sim:ATmega16", std::string(quiet) + "--chip ATmega8 erase", err);
        EXPECT_EQ(r.Status, 1);
        EXPECT_NE(err.find(wrong), std::string::npos) << quiet << err;
        EXPECT_FALSE(Has(r, wrong)) << quiet << r.Output;
    }
    // A twin with the same signature is the same chip to the adapter.
    fs::remove(Path("chip.state"));
    Result twin = Run("sim:ATmega8", "--chip ATmega8A signature");
    EXPECT_EQ(twin.Status, 0) << twin.Output;
    // A named chip is only found when the socket answers as it.
    Result empty = Run("sim:empty", "--chip ATmega16 search");
    EXPECT_EQ(empty.Status, 1) << empty.Output;
    EXPECT_TRUE(Has(empty, ">>no chip answered")) << empty.Output;
    // Without a signature: the AT89S8253 echoes programming enable, and a write of the others
    // is read back, so an empty socket fails either way.
    for (const char* args : {"--chip AT89S8253 erase",
                             "--chip AT89S8252 --no-verify-after "
                             "write-flash " TONDREL_SOURCE_ROOT "/samples/at89s52-blink.hex"}) {
        Result r = Run("sim:empty", args);
        EXPECT_EQ(r.Status, 1) << args << "\n" << r.Output;
        EXPECT_FALSE(Has(r, "successfully")) << args << "\n" << r.Output;
    }
    Result unchecked = Run("sim:empty", "--chip AT89S53 erase");
    EXPECT_TRUE(Has(unchecked, ">>not checked: this chip cannot be identified"))
        << unchecked.Output;
}

// Nothing compared and nothing written are failures to a script, and an EEPROM file with no
// data stops auto programming before the erase as the Flash file's does.
TEST_F(CliRun, NothingToDoIsNoSuccess) {
    const std::string flash = kSamples + "atmega16-blink.hex";
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(flash)).Status, 0);
    std::ofstream(Path("empty.hex")) << ":00000001FF\r\n";
    std::ofstream(Path("blank.hex")) << ":02000000FFFF00\r\n:00000001FF\r\n";
    const std::string empty = Quote(Path("empty.hex")), blank = Quote(Path("blank.hex"));
    const struct {
        std::string Args;
        const char* Says;
    } cases[] = {
        {"verify-flash " + empty, ">>nothing to compare"},
        {"verify-flash " + blank, ">>nothing to compare"},
        {"verify-eeprom " + empty, ">>nothing to compare"},
        {"write-flash " + empty, "holds no data: nothing was written"},
        {"write-eeprom " + blank, "holds no data: nothing was written"},
        {"auto --eeprom " + empty + " --no-write-flash --write-eeprom",
         ">>the EEPROM file holds no data"},
    };
    for (const auto& c : cases) {
        Result r = Run("sim:ATmega16", c.Args);
        EXPECT_EQ(r.Status, 1) << c.Args << "\n" << r.Output;
        EXPECT_TRUE(Has(r, c.Says)) << c.Args << "\n" << r.Output;
        EXPECT_FALSE(Has(r, ">>begin erasing")) << c.Args << "\n" << r.Output;
    }
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(flash)).Status, 0);
    // A write onto data never erased says so, not "adjust the speed".
    Result over = Run("sim:ATmega16", "write-flash " + Quote(MakeHex("other", 256, false, 7)));
    EXPECT_EQ(over.Status, 1) << over.Output;
    EXPECT_TRUE(Has(over, "the chip was not erased there")) << over.Output;
}

TEST_F(CliRun, WritingReadsTheWrittenRangeBack) {
#ifndef TONDREL_PRELOAD_LIBRARY
    GTEST_SKIP() << "needs the preload library";
#else
    // A byte that never programs, on a page-mode chip reached through ppdev. The preloaded
    // bench runs in real time, so the chip gets a crystal: a 1 MHz factory clock would make the
    // outcome depend on how fast this machine happens to run.
    const std::string device = Path("parport");
    // In a sanitizer build the library comes before the sanitizer runtime; that is harmless.
    const std::string env =
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quote(TONDREL_PRELOAD_LIBRARY) +
        " TONDREL_SIM_DEVICE=" + Quote(device) +
        " TONDREL_SIM_BENCH=sim:ATmega16@16MHz TONDREL_SIM_STUCK=0x10"
        " TONDREL_SIM_STATE=" +
        Quote(Path("ppdev.state"));
    const std::string image = MakeHex("image", 256, false, 7);
    const std::string port = "--port ppdev:" + Quote(device) + " ";
    Result w = Run("", port + "write-flash " + Quote(image), env);
    EXPECT_EQ(w.Status, 1) << w.Output;
    EXPECT_TRUE(Has(w, ">>address<0x08> differs")) << w.Output;
    EXPECT_TRUE(Has(w, ">>FLASH verify failed")) << w.Output;
    EXPECT_FALSE(Has(w, ">>write FLASH successfully")) << w.Output;

    Result off = Run("", port + "--no-verify-after write-flash " + Quote(image), env);
    EXPECT_EQ(off.Status, 0) << off.Output;
    Result a = Run("",
                   port + "auto --flash " + Quote(image) +
                       " --erase --write-flash --no-update-flash --no-update-eeprom"
                       " --no-write-eeprom",
                   env);
    EXPECT_EQ(a.Status, 1) << a.Output;
    EXPECT_FALSE(Has(a, "completed")) << a.Output;
#endif
}

TEST_F(CliRun, SavedFilesGoWhereTheyAreMeantTo) {
    const std::string flash = kSamples + "atmega16-blink.hex";
    ASSERT_EQ(Run("sim:ATmega16", "write-flash " + Quote(flash)).Status, 0);

    // Through a symbolic link to its target; the link stays a link.
    std::ofstream(Path("target.hex")) << "old\n";
    fs::create_symlink(Path("target.hex"), Path("link.hex"));
    ASSERT_EQ(Run("sim:ATmega16", "read-flash " + Quote(Path("link.hex"))).Status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.hex")));
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(Path("target.hex"))).Status, 0);

    // A device is written in place, never replaced by a regular file.
    Result null = Run("sim:ATmega16", "read-flash /dev/null");
    EXPECT_EQ(null.Status, 0) << null.Output;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // "-" is standard output, with every report on standard error.
    std::string err;
    Result out = RunSplit("sim:ATmega16", "read-eeprom -", err);
    EXPECT_EQ(out.Status, 0) << err;
    std::string blank;
    for (int i = 0; i < 512; ++i) blank += "255\r\n";
    EXPECT_TRUE(out.Output == blank) << out.Output.substr(0, 200);
    EXPECT_NE(err.find(">>read EEPROM successfully"), std::string::npos) << err;

    // A name near the length limit saves (the temporary file has a short name of its own); a
    // path through a file names its cause.
    const std::string longName = Path(std::string(250, 'n') + ".hex");
    Result longSave = Run("sim:ATmega16", "read-flash " + Quote(longName));
    EXPECT_EQ(longSave.Status, 0) << longSave.Output;
    EXPECT_TRUE(fs::exists(longName));
    Result through = Run("sim:ATmega16", "read-flash " + Quote(Path("target.hex") + "/x.hex"));
    EXPECT_EQ(through.Status, 1);
    EXPECT_TRUE(Has(through, "Not a directory")) << through.Output;

    // The open database is not a place to save to, under any name.
    fs::create_symlink(Path("chip.db"), Path("db-link.hex"));
    const auto before = fs::file_size(Path("chip.db"));
    for (const std::string& name : {Path("chip.db"), Path("db-link.hex")}) {
        Result r = Run("sim:ATmega16", "read-flash " + Quote(name));
        EXPECT_EQ(r.Status, 1) << r.Output;
        EXPECT_TRUE(Has(r, "will not overwrite the chip database")) << r.Output;
    }
    EXPECT_EQ(fs::file_size(Path("chip.db")), before);
    EXPECT_EQ(Run("sim:ATmega16", "chips ATmega16").Status, 0);
}

TEST_F(CliRun, HostileInputFilesAreBoundedAndShownSafely) {
    // An endless device and a line without end are refused, not read until memory runs out.
    for (const std::string& file : {std::string("/dev/zero"), Path("long.hex")}) {
        if (file != "/dev/zero") std::ofstream(file) << ":" << std::string(1 << 20, '0');
        Result r = Run("sim:ATmega16", "write-flash " + Quote(file));
        EXPECT_EQ(r.Status, 1) << file;
        EXPECT_TRUE(Has(r, "too long")) << r.Output;
    }
    // A control sequence in a bad file reaches the terminal escaped.
    std::ofstream(Path("bad.idf")) << "12\n\x1b]2;owned\x07\n";
    Result bad = Run("sim:ATmega16", "write-eeprom " + Quote(Path("bad.idf")));
    EXPECT_EQ(bad.Status, 1);
    EXPECT_EQ(bad.Output.find('\x1b'), std::string::npos);
    EXPECT_TRUE(Has(bad, "\\x1B]2;owned\\x07")) << bad.Output;

    // CR-only line ends and blank lines after the end record load as other HEX tools read them.
    std::ofstream(Path("cr.hex")) << ":0400000001020304F2\r:00000001FF\r\n\r\n\n";
    Result cr = Run("sim:ATmega16", "write-flash " + Quote(Path("cr.hex")));
    EXPECT_EQ(cr.Status, 0) << cr.Output;
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(Path("cr.hex"))).Status, 0);
}

TEST_F(CliRun, CompilerOutputProgramsTheChipAndItsFusesOnlyWhenAsked) {
    TONDREL_NEED_TOOL("avr-gcc");
    TONDREL_NEED_TOOL("srec_cat");
    std::ofstream(Path("prog.c")) << tondrel::testsupport::kFusedProgram;
    // And a program too large for the ATmega16's 16 KiB.
    std::ofstream(Path("big.c")) << "#include <avr/pgmspace.h>\n"
                                    "const uint8_t big[20000] PROGMEM = {1};\n"
                                    "int main(void) { return pgm_read_byte(&big[7]); }\n";
    for (const char* name : {"atmega16", "atmega328p", "big"}) {
        const std::string mcu = name == std::string("big") ? "atmega328p" : name;
        const std::string source = name == std::string("big") ? "big.c" : "prog.c";
        ASSERT_TRUE(
            tondrel::testsupport::CompileAvr(Path(source), mcu, Path(std::string(name) + ".elf")));
    }
    const std::string elf = Quote(Path("atmega16.elf"));
    auto fuses = [&] {
        Result shown = Run("sim:ATmega16", "config show");
        std::string bytes;
        for (const char* name : {"low fuse 0x", "high fuse 0x", "lock byte 0x"}) {
            const auto at = shown.Output.find(name);
            bytes += at == std::string::npos ? "?" : shown.Output.substr(at + strlen(name), 2);
        }
        return bytes;
    };
    // Without the option the bytes are shown, not written.
    Result plain = Run("sim:ATmega16", "--yes auto --flash " + elf + " --eeprom " + elf);
    ASSERT_EQ(plain.Status, 0) << plain.Output;
    EXPECT_TRUE(Has(plain, "low fuse 0xE4: ")) << plain.Output;
    EXPECT_TRUE(Has(plain, "written only when asked")) << plain.Output;
    EXPECT_EQ(fuses(), "E199FF");

    // A program for another chip: its fuses are refused, nothing of them sent.
    Result other =
        Run("sim:ATmega16", "--yes --yes-lock auto --flash " + Quote(Path("atmega328p.elf")) +
                                " --write-fuses-from-file");
    EXPECT_EQ(other.Status, 1) << other.Output;
    EXPECT_TRUE(Has(other, "the file's fuses are for the atmega328p, not the ATmega16"))
        << other.Output;
    EXPECT_EQ(fuses(), "E199FF");

    Result dryAuto = Run("sim:ATmega16", "--yes --yes-lock auto --flash " + elf +
                                             " --write-fuses-from-file --dry-run");
    EXPECT_EQ(dryAuto.Status, 0) << dryAuto.Output;
    EXPECT_TRUE(Has(dryAuto, "low fuse 0xE1 → 0xE4")) << dryAuto.Output;
    EXPECT_EQ(fuses(), "E199FF");

    Result asked = Run("sim:ATmega16", "--yes --yes-lock auto --flash " + elf + " --eeprom " + elf +
                                           " --write-fuses-from-file");
    ASSERT_EQ(asked.Status, 0) << asked.Output;
    EXPECT_EQ(fuses(), "E4D9FE");
    // What was written is what avr-objcopy takes out of the program.
    ASSERT_EQ(std::system(("avr-objcopy -O ihex -j .text -j .data " + elf + " " +
                           Quote(Path("objcopy.hex")))
                              .c_str()),
              0);
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + Quote(Path("objcopy.hex"))).Status, 0);
    std::string err;
    Result eeprom = RunSplit("sim:ATmega16", "read-eeprom -", err);
    EXPECT_EQ(eeprom.Output.substr(0, 20), "1\r\n2\r\n3\r\n4\r\n5\r\n255\r\n") << err;

    // srec_cat's S-records of an image program and verify; broken ones are refused by line and
    // leave the chip as it was.
    const std::string hex = MakeHex("img", 4000, false, 9);
    const std::string srec = Quote(Path("img.s19"));
    ASSERT_EQ(std::system(("srec_cat " + Quote(hex) + " -intel -o " + srec + " -motorola").c_str()),
              0);
    Result erased = Run("sim:ATmega16", "erase");
    ASSERT_EQ(erased.Status, 0) << erased.Output;
    Result written = Run("sim:ATmega16", "write-flash " + srec);
    ASSERT_EQ(written.Status, 0) << written.Output;
    EXPECT_TRUE(Has(written, "read the file as Motorola S-record")) << written.Output;
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + srec).Status, 0);
    std::string text = ReadAll(Path("img.s19"));
    char& digit = text[text.find('\n') + 10];  // a data digit of line 2
    digit = digit == '0' ? '1' : '0';
    std::ofstream(Path("bad.srec")) << text;
    std::string cut = ReadAll(Path("atmega16.elf"));
    std::ofstream(Path("cut.elf")) << cut.substr(0, cut.size() / 2);
    const std::pair<std::string, std::string> bad[] = {
        {"bad.srec", "line 2: checksum error"},
        {"cut.elf", "cut short"},
        {"big.elf", "section .text"},
    };
    for (const auto& [name, words] : bad) {
        Result refused = Run("sim:ATmega16", "write-flash " + Quote(Path(name)));
        EXPECT_EQ(refused.Status, 1) << name;
        EXPECT_TRUE(Has(refused, words)) << refused.Output;
        EXPECT_FALSE(Has(refused, "begin writing")) << refused.Output;
    }
    EXPECT_EQ(Run("sim:ATmega16", "verify-flash " + srec).Status, 0);
}

TEST_F(CliRun, AOneOffLptIsNotStored) {
    ASSERT_EQ(Run("sim:ATmega16", "--lpt 2 hardware").Status, 0);
    auto db = tondrel::db::Database::Open(Path("chip.db"));
    ASSERT_TRUE(db) << db.Error().Text(tondrel::Language::English);
    EXPECT_EQ((*db)->ReadSettings()->Lpt, 1);
}

TEST_F(CliRun, TwoRunsOnOneSimulatedChipWaitForEachOther) {
    const std::string flash = MakeHex("flash", 2048, false, 11);
    const std::string eeprom = MakeHex("eeprom", 256, false, 12);
    const std::string base = Quote(TONDREL_CLI) + " --database " + Quote(Path("chip.db")) +
                             " --lang en --port sim:ATmega16 --sim-state " +
                             Quote(Path("chip.state"));
    // Both start at once; without the lock the later save drops the other run's write.
    const std::string both = "(" + base + " write-flash " + Quote(flash) + " >" +
                             Quote(Path("a.log")) + " 2>&1 & " + base + " write-eeprom " +
                             Quote(eeprom) + " >" + Quote(Path("b.log")) + " 2>&1; wait)";
    ASSERT_EQ(Run("sim:ATmega16", "hardware").Status, 0);  // the database exists first
    EXPECT_EQ(std::system(both.c_str()), 0);
    Result v = Run("sim:ATmega16", "verify-flash " + Quote(flash));
    EXPECT_EQ(v.Status, 0) << v.Output << ReadAll(Path("a.log")) << ReadAll(Path("b.log"));
    Result ve = Run("sim:ATmega16", "verify-eeprom " + Quote(eeprom));
    EXPECT_EQ(ve.Status, 0) << ve.Output;
}

TEST_F(CliRun, APortThatVanishesFailsTheOperationNamingTheDevice) {
#ifndef TONDREL_PRELOAD_LIBRARY
    GTEST_SKIP() << "needs the preload library";
#else
    const std::string device = Path("parport");
    // Enough requests to find the adapter and the chip; the card goes during the read.
    // In a sanitizer build the library comes before the sanitizer runtime; that is harmless.
    const std::string env =
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quote(TONDREL_PRELOAD_LIBRARY) +
        " TONDREL_SIM_DEVICE=" + Quote(device) +
        " TONDREL_SIM_BENCH=sim:ATmega16@16MHz TONDREL_SIM_VANISH_AFTER=4000";
    // A write too: its read-back poll meets the failure and names it, not a time-out.
    for (const std::string& command : {"read-flash " + Quote(Path("out.hex")),
                                       "write-flash " + Quote(MakeHex("f", 8192, false, 3))}) {
        Result r = Run("", "--port ppdev:" + Quote(device) + " --chip ATmega16 " + command, env);
        EXPECT_EQ(r.Status, 1) << r.Output;
        EXPECT_TRUE(Has(r, ">>the port failed: " + device + ": No such device")) << r.Output;
        EXPECT_FALSE(Has(r, "successfully")) << r.Output;
        EXPECT_FALSE(Has(r, "time out")) << r.Output;
    }
    EXPECT_FALSE(fs::exists(Path("out.hex")));
#endif
}

// A device the user names is the run's port whatever LPT is stored; with none named, the
// stored LPT chooses the device, before any is opened.
TEST_F(CliRun, TheNamedPortWinsAndTheStoredLptChoosesOtherwise) {
#ifndef TONDREL_PRELOAD_LIBRARY
    GTEST_SKIP() << "needs the preload library";
#else
    {
        auto db = tondrel::db::Database::Open(Path("chip.db"));
        ASSERT_TRUE(db);
        ASSERT_TRUE((*db)->Raw().Execute("update settings set lpt = 2"));
    }
    const std::string env =
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quote(TONDREL_PRELOAD_LIBRARY) +
        " TONDREL_SIM_BENCH=sim:ATmega16@16MHz";
    const std::string device = Path("parport");
    Result named = Run("", "--port ppdev:" + Quote(device) + " --chip ATmega16 signature",
                       env + " TONDREL_SIM_DEVICE=" + Quote(device));
    EXPECT_EQ(named.Status, 0) << named.Output;
    EXPECT_TRUE(Has(named, "1E9403")) << named.Output;
    Result stored = Run("", "--chip ATmega16 signature", env + " TONDREL_SIM_DEVICE=/dev/parport1");
    EXPECT_EQ(stored.Status, 0) << stored.Output;
    EXPECT_TRUE(Has(stored, "1E9403")) << stored.Output;
#endif
}

// Ctrl+C and SIGTERM stop a long read between bytes; the run still leaves programming mode,
// keeps the simulated chip and exits as a shell expects of a signal.
TEST_F(CliRun, StopSignalsEndTheRunThroughItsShutDown) {
    for (const auto& [signal, status] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
        fs::remove(Path("chip.state"));
        const std::string command =
            Quote(TONDREL_CLI) + " --database " + Quote(Path("chip.db")) +
            " --lang en --port sim:ATmega2560 --sim-state " + Quote(Path("chip.state")) +
            " read-flash " + Quote(Path("out.hex")) + " >" + Quote(Path("board.txt")) +
            " 2>&1 </dev/null & pid=$!; sleep 0.5; kill -" + signal + " $pid; wait $pid; exit $?";
        const int raw = std::system(("sh -c " + Quote(command)).c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), status) << signal;
        const std::string board = ReadAll(Path("board.txt"));
        EXPECT_NE(board.find(">>stopped: the chip has left programming mode"), std::string::npos)
            << board;
        EXPECT_TRUE(fs::exists(Path("chip.state"))) << signal;
        EXPECT_FALSE(fs::exists(Path("out.hex"))) << signal;
    }
}

namespace {

struct AvrCase {
    const char* Name;
    size_t FlashBytes;
};

}  // namespace

// One chip of each size group of the generated AVR rows, found by its signature: a random image
// of the whole Flash written, read back into a file (Intel HEX with type 04 records above
// 64 KiB), converted by objcopy and compared byte for byte, and that file verified by a third run.
class AvrByGroup : public CliRun {
  protected:
    void WriteAndReadBack(const AvrCase& c, unsigned seed) {
        SCOPED_TRACE(c.Name);
        fs::remove(Path("chip.state"));
        const std::string port = std::string("sim:") + c.Name;
        Result found = Run(port, "search");
        ASSERT_EQ(found.Status, 0) << found.Output;
        EXPECT_NE(found.Output.find(std::string(">>chip detected:") + c.Name + "\n"),
                  std::string::npos)
            << found.Output;

        const std::string image = MakeHex("image", c.FlashBytes, false, seed);
        Result w = Run(port, "write-flash " + Quote(image));
        ASSERT_EQ(w.Status, 0) << w.Output;
        Result r = Run(port, "read-flash " + Quote(Path("back.hex")));
        ASSERT_EQ(r.Status, 0) << r.Output;
        const std::string toBinary =
            "objcopy -I ihex -O binary " + Quote(Path("back.hex")) + " " + Quote(Path("back.bin"));
        ASSERT_EQ(std::system(toBinary.c_str()), 0);
        std::ifstream written(Path("image.bin"), std::ios::binary);
        std::ifstream back(Path("back.bin"), std::ios::binary);
        const std::string a((std::istreambuf_iterator<char>(written)), {});
        const std::string b((std::istreambuf_iterator<char>(back)), {});
        ASSERT_EQ(a.size(), c.FlashBytes);
        ASSERT_GE(b.size(), a.size());
        size_t firstDiff = 0;
        while (firstDiff < a.size() && a[firstDiff] == b[firstDiff]) ++firstDiff;
        EXPECT_EQ(firstDiff, a.size()) << "first difference at byte " << firstDiff;

        Result v = Run(port, "verify-flash " + Quote(Path("back.hex")));
        EXPECT_EQ(v.Status, 0) << v.Output;
    }
};

TEST_F(AvrByGroup, FoundBySignatureWrittenAndReadBack) {
    const AvrCase chips[] = {{"ATtiny85", 8192}, {"ATmega328P", 32768}, {"ATmega1284P", 131072}};
    unsigned seed = 40;
    for (const AvrCase& c : chips) WriteAndReadBack(c, ++seed);
}

// Flash beyond 64 K words: the "load extended address byte" command on the way in and out.
TEST_F(AvrByGroup, Flash256KiBFoundBySignatureWrittenAndReadBack) {
    WriteAndReadBack({"ATmega2560", 262144}, 50);
}

TEST_F(CliRun, GeneratedAvrsAreListedAndTheirVariantsShareTheOlderDetection) {
    Result list = Run("", "chips ATmega328P");
    EXPECT_EQ(list.Status, 0);
    EXPECT_NE(list.Output.find("ATmega328P "), std::string::npos) << list.Output;
    EXPECT_NE(list.Output.find("1E950F"), std::string::npos) << list.Output;

    // An ATmega8A answers with the ATmega8's signature and is found as that chip.
    Result search = Run("sim:ATmega8A", "search");
    EXPECT_EQ(search.Status, 0) << search.Output;
    EXPECT_NE(search.Output.find(">>chip detected:ATmega8\n"), std::string::npos) << search.Output;

    for (const char* name : {"ATmega32U4", "ATtiny4313"}) {
        fs::remove(Path("chip.state"));
        Result found = Run(std::string("sim:") + name, "search");
        EXPECT_EQ(found.Status, 0) << found.Output;
        EXPECT_NE(found.Output.find(std::string(">>chip detected:") + name + "\n"),
                  std::string::npos)
            << found.Output;
    }
}

// The first Ctrl-C stops a slow write at its next byte: "stopped", never success, and the
// chip answers the next run.
TEST_F(CliRun, InterruptStopsTheRunningWrite) {
    const std::string flash = MakeHex("flash", 16384, false, 21);
    ASSERT_EQ(Run("sim:ATmega16", "hardware").Status, 0);
    const std::string command =
        "(" + Quote(TONDREL_CLI) + " --database " + Quote(Path("chip.db")) +
        " --lang en --port sim:ATmega16 --sim-state " + Quote(Path("chip.state")) +
        " --speed 75000 write-flash " + Quote(flash) + " >" + Quote(Path("w.log")) +
        " 2>&1 & p=$!; sleep 1; kill -INT $p; wait $p; echo $? >" + Quote(Path("rc")) + ")";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string log = ReadAll(Path("w.log"));
    EXPECT_NE(log.find(">>stopped"), std::string::npos) << log;
    EXPECT_EQ(log.find("write FLASH successfully"), std::string::npos) << log;
    EXPECT_NE(ReadAll(Path("rc")), "0\n");
    EXPECT_EQ(Run("sim:ATmega16", "signature").Status, 0);
}
