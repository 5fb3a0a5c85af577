// tondrel-cli as a user runs it: separate processes sharing a database and a simulated chip's
// state file, images made by independent tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "db/Database.h"

namespace {

namespace fs = std::filesystem;

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

    // Runs the tool with the test's own database (and, for a bench, its own state file).
    Result Run(const std::string& port, const std::string& args) {
        std::string command =
            Quote(TONDREL_CLI) + " --database " + Quote(Path("chip.db")) + " --lang en";
        if (!port.empty())
            command += " --port " + port + " --sim-state " + Quote(Path("chip.state"));
        command += " " + args + " 2>&1";
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
    int MethodCode;
    bool BySignature;   // found by the search; otherwise chosen with --chip
    const char* Flash;  // a sample, or nullptr for a generated image
    size_t FlashBytes;
    size_t EEPROMBytes;
};

const std::string kSamples = TONDREL_SOURCE_ROOT "/samples/";

}  // namespace

TEST_F(CliRun, AutoProgrammingThenVerifyForEveryMethodCode) {
    const Chip chips[] = {
        {"PIC16F84A", 0, true, nullptr, 256, 16},
        {"AT89S52", 1, true, "at89s52-blink.hex", 0, 0},
        {"AT89S53", 2, false, nullptr, 300, 0},
        {"AT89S8252", 3, false, nullptr, 300, 40},
        {"AT89S8253", 4, false, nullptr, 300, 0},
        {"ATmega16", 5, true, "atmega16-blink.hex", 0, 0},
        {"PIC16F877A", 6, true, "pic16f877a-count.hex", 0, 0},
    };
    unsigned seed = 1;
    for (const Chip& c : chips) {
        SCOPED_TRACE(c.Name);
        fs::remove(Path("chip.state"));
        // The AVR on a crystal it can follow at any speed, so the speed given is the one stored.
        const std::string port = std::string("sim:") + c.Name + (c.MethodCode == 5 ? "@16MHz" : "");
        const std::string chipOption = c.BySignature ? "" : std::string(" --chip ") + c.Name;
        const bool pic = c.MethodCode == 0 || c.MethodCode == 6;
        const std::string flash =
            c.Flash ? kSamples + c.Flash : MakeHex("flash", c.FlashBytes, pic, ++seed);
        std::string files = " --flash " + Quote(flash);
        std::string eeprom;
        if (c.EEPROMBytes) {
            eeprom = MakeHex("eeprom", c.EEPROMBytes, false, ++seed);
            files += " --eeprom " + Quote(eeprom);
        } else if (c.MethodCode == 5) {
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
        std::string error;
        auto db = tondrel::db::Database::Open(Path("chip.db"), error);
        ASSERT_TRUE(db) << error;
        auto record = db->ChipByName(c.Name);
        ASSERT_TRUE(record);
        EXPECT_EQ(db->ReadSpeed(record->ChipId), std::optional<int>(3));
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
    // The next run starts in the stored mode, then a chip command switches back itself.
    Result back = Run("sim:ATmega16", "mode MCU");
    EXPECT_NE(back.Output.find(">>progammer status: Xilinx！"), std::string::npos);

    Result show = Run("sim:ATmega16", "config show");
    EXPECT_EQ(show.Status, 0) << show.Output;
    EXPECT_NE(show.Output.find("FL0"), std::string::npos) << show.Output;
    Result write = Run("sim:ATmega16", "config write GroupBox3 FL0=on");
    EXPECT_EQ(write.Status, 0) << write.Output;
    Result again = Run("sim:ATmega16", "config show");
    EXPECT_NE(again.Output, show.Output);
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

// Flash beyond 64 K words needs the "load extended address byte" command in the engine.
TEST_F(AvrByGroup, DISABLED_Flash256KiBFoundBySignatureWrittenAndReadBack) {
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
