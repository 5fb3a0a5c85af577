#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "sim/PicChip.h"

namespace tondrel::sim {
namespace {

// Drives a chip the way a programmer's pins would, one line change per microsecond.
class Driver {
  public:
    explicit Driver(PicChip& chip) : chip_(chip) { lines_.Connected = true; }

    void Apply() {
        now_ += 1000;
        chip_.SetLines(lines_, now_);
    }
    void Enter() {
        lines_ = TargetLines{true, false, false, false, false};
        Apply();
        lines_.Mode = true;
        Apply();
        lines_.Rst = true;
        Apply();
    }
    void Leave() {
        lines_.Mode = false;
        lines_.Rst = false;
        Apply();
    }
    bool Clock(bool bit) {
        lines_.Sck = true;
        Apply();
        lines_.Mosi = bit;
        Apply();
        lines_.Sck = false;
        Apply();
        return chip_.DataOut(now_);
    }
    void Command(uint8_t code) {
        for (int i = 0; i < 6; ++i) Clock(((code >> i) & 1) != 0);
    }
    uint16_t Frame(uint16_t word) {
        const uint32_t frame = (uint32_t{word} << 1) & 0x7FFE;
        uint32_t in = 0;
        for (int i = 0; i < 16; ++i) in |= uint32_t{Clock(((frame >> i) & 1) != 0)} << i;
        return static_cast<uint16_t>((in >> 1) & 0x3FFF);
    }
    void Load(uint8_t command, uint16_t word) {
        Command(command);
        Frame(word);
    }
    uint16_t Read(uint8_t command = 4) {
        Command(command);
        return Frame(0);
    }
    void Steps(int n) {
        for (int i = 0; i < n; ++i) Command(6);
    }
    void Wait(uint64_t ns) {
        now_ += ns;
        chip_.DataOut(now_);
    }
    // The whole of the chip's erase/program cycle, or of an erase.
    void Cycle() { Wait(chip_.Timing().EraseProgramNs); }
    void EraseWait() { Wait(chip_.Timing().EraseNs); }
    // The older sheets' erase: the 1/7 setup pair, Begin Erase/Programming, the wait, and the
    // pair again to end it.
    void SetupPairErase() {
        Command(1);
        Command(7);
        Command(8);
        EraseWait();
        Command(1);
        Command(7);
    }
    void ProgramWord(uint16_t word) {
        Load(2, word);
        Command(8);
        Cycle();
    }
    void WriteConfigWord(uint16_t word) {
        Load(0, word);
        Steps(7);
        Load(2, word);
        Command(8);
        Cycle();
    }
    TargetLines lines_;
    uint64_t now_ = 0;

  private:
    PicChip& chip_;
};

std::unique_ptr<PicChip> Make(const std::string& name) {
    auto chip = CreatePicChip(name);
    EXPECT_NE(chip, nullptr) << name;
    return std::unique_ptr<PicChip>(static_cast<PicChip*>(chip.release()));
}

TEST(PicChip, FactoryKnowsBothFamiliesByCatalogueName) {
    for (const char* name : {"PIC16F84A", "PIC16F627", "PIC16F628", "PIC16F870", "PIC16F873",
                             "PIC16F877", "PIC16F873A", "PIC16F877A"}) {
        auto chip = CreateChip(name);
        ASSERT_NE(chip, nullptr) << name;
        EXPECT_EQ(chip->Name(), name);
    }
    EXPECT_EQ(CreateChip("pic16f876a")->Name(), "PIC16F876A");
    EXPECT_EQ(CreatePicChip("PIC16F88"), nullptr);
}

// The configuration word of each model against gputils' header for the chip: the bits that any
// setting clears are the implemented ones, _CP_ALL / _CP_ON clear the code-protection bits and
// _CPD_ON the data-protection bit.
TEST(PicChip, ConfigurationWordBitsAgreeWithGputils) {
    for (const char* name : {"PIC16F84A", "PIC16F627", "PIC16F628", "PIC16F870", "PIC16F871",
                             "PIC16F872", "PIC16F873", "PIC16F874", "PIC16F876", "PIC16F877",
                             "PIC16F873A", "PIC16F874A", "PIC16F876A", "PIC16F877A"}) {
        SCOPED_TRACE(name);
        std::string file = std::string("/usr/share/gputils/header/p") + (name + 3) + ".inc";
        for (char& ch : file) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        std::ifstream in(file);
        ASSERT_TRUE(in) << file;
        std::map<std::string, uint16_t> values;
        const std::regex line(R"(^(_[A-Za-z0-9_]+)\s+EQU\s+H'([0-9A-Fa-f]+)')");
        std::string text;
        while (std::getline(in, text)) {
            std::smatch m;
            if (std::regex_search(text, m, line))
                values[m[1]] = static_cast<uint16_t>(std::stoul(m[2], nullptr, 16));
        }
        uint16_t implemented = 0;
        for (const auto& [key, value] : values) {
            if (key == "_CONFIG" || key.rfind("_DEVID", 0) == 0 || key.rfind("_IDLOC", 0) == 0)
                continue;
            implemented = static_cast<uint16_t>(implemented | (~value & 0x3FFF));
        }
        const uint16_t cp = values.count("_CP_ALL") ? values["_CP_ALL"] : values.at("_CP_ON");
        const uint16_t cpd = values.count("_CPD_ON") ? (~values["_CPD_ON"] & 0x3FFF) : 0;

        auto chip = Make(name);
        EXPECT_EQ(chip->Facts().ConfigMask, implemented);
        EXPECT_EQ(chip->Facts().CodeProtectBits, ~cp & 0x3FFF);
        EXPECT_EQ(chip->Facts().DataProtectBit, cpd);
    }
}

TEST(PicChip, EntersOnlyWithSupplyBeforeVppAndQuietLines) {
    auto chip = Make("PIC16F877");
    Driver d(*chip);
    d.Enter();
    EXPECT_TRUE(chip->InProgramMode());
    d.lines_.Connected = false;  // adapter drivers off: no supply, no VPP
    d.Apply();
    EXPECT_FALSE(chip->InProgramMode());

    // VPP before supply: the chip just runs.
    d.lines_ = TargetLines{true, true, false, false, false};
    d.Apply();
    d.lines_.Mode = true;
    d.Apply();
    EXPECT_FALSE(chip->InProgramMode());

    // Clock high while VPP rises: no entry either.
    d.lines_ = TargetLines{true, false, true, false, true};
    d.Apply();
    d.lines_.Rst = true;
    d.Apply();
    EXPECT_FALSE(chip->InProgramMode());
}

// Erase/program cycles as long as each programming sheet quotes them; a command clocked in before
// the end is lost, and a read then sees only the host's own data line.
TEST(PicChip, CommandsInsideTheCycleAreLost) {
    struct Case {
        const char* Name;
        uint64_t CycleNs;
    };
    for (const Case c : {Case{"PIC16F84A", 10'000'000}, Case{"PIC16F628", 13'000'000},
                         Case{"PIC16F877", 8'000'000}, Case{"PIC16F877A", 10'000'000}}) {
        SCOPED_TRACE(c.Name);
        auto chip = Make(c.Name);
        Driver d(*chip);
        d.Enter();
        d.Steps(3);
        d.Load(2, 0x1234);
        d.Command(8);
        const uint64_t start = d.now_;
        d.Command(6);                 // lost
        EXPECT_EQ(d.Read(), 0x0000);  // lost: the chip does not drive the line
        d.Wait(c.CycleNs - 500'000 - (d.now_ - start));
        EXPECT_EQ(chip->ProgramCell(3), 0x3FFF);
        EXPECT_EQ(chip->Counter(), 3);
        d.Wait(500'000);
        EXPECT_EQ(d.Read(), 0x1234);
        EXPECT_EQ(chip->Counter(), 3);

        // Dropping the supply in the middle of a cycle loses the word.
        d.Command(6);
        d.Load(2, 0x0555);
        d.Command(8);
        d.Leave();
        d.Wait(20'000'000);
        EXPECT_EQ(chip->ProgramCell(4), 0x3FFF);
    }
}

// Which commands each family knows: a code it does not know is ignored, with no data frame after
// it, so the next six clocks are a command again.
TEST(PicChip, EachFamilyTakesOnlyItsOwnCommands) {
    struct Case {
        const char* Name;
        bool BulkErase;  // 9 + Begin Programming
        bool SetupPair;  // 1, 7, Begin Programming, 1, 7
        bool ChipErase;  // 0x1F
    };
    for (const Case c :
         {Case{"PIC16F84A", true, true, false}, Case{"PIC16F627", true, true, false},
          Case{"PIC16F870", false, true, false}, Case{"PIC16F874A", true, false, true}}) {
        SCOPED_TRACE(c.Name);
        auto chip = Make(c.Name);
        Driver d(*chip);
        auto programmed = [&] {
            d.Enter();
            d.ProgramWord(0x0ABC);
            EXPECT_EQ(chip->ProgramCell(0), 0x0ABC);
        };
        programmed();
        d.Command(9);
        d.Command(8);
        d.Wait(20'000'000);
        EXPECT_EQ(chip->ProgramCell(0) == 0x3FFF, c.BulkErase);
        d.Leave();

        programmed();
        d.Load(2, 0x0123);  // the chips that ignore 1 and 7 program it
        d.Command(1);
        d.Command(7);
        d.Command(8);
        d.Wait(20'000'000);
        d.Command(1);
        d.Command(7);
        EXPECT_EQ(chip->ProgramCell(0), c.SetupPair ? 0x3FFF : 0x0123);
        d.Leave();

        programmed();
        d.Command(0x1F);  // from program memory: no effect on the 87xA either
        d.Wait(20'000'000);
        EXPECT_EQ(chip->ProgramCell(0), 0x0ABC);
        d.Load(0, 0x3FFF);  // Load Configuration: the counter in configuration memory
        d.Command(0x1F);
        d.Wait(20'000'000);
        EXPECT_EQ(chip->ProgramCell(0) == 0x3FFF, c.ChipErase);
        d.Leave();
        d.Enter();

        d.Command(0x2A);  // no such command anywhere
        d.Steps(2);
        EXPECT_EQ(chip->Counter(), 2);
        d.Leave();
    }
}

// Begin Programming Only on the older chips: internally timed, it programs without erasing, so it
// can only clear bits.
TEST(PicChip, ClassicProgrammingOnlyClearsBits) {
    auto chip = Make("PIC16F628");
    Driver d(*chip);
    d.Enter();
    d.ProgramWord(0x0F0F);
    d.Load(2, 0x33CC);
    d.Command(0x18);
    d.Wait(chip->Timing().ProgramOnlyNs);
    EXPECT_EQ(chip->ProgramCell(0), 0x030C);
    d.ProgramWord(0x33CC);  // erase, then program
    EXPECT_EQ(chip->ProgramCell(0), 0x33CC);
}

// The 87xA loads program words into eight latches picked by the counter's low three bits. Begin
// Programming Only writes them into the counter's 8-word block until End Programming, at least
// 1 ms; Begin Erase/Programming erases the whole block first, so words programmed one by one with
// it wipe their neighbours.
TEST(PicChip, AFamilyProgramsEightWordBlocksThroughLatches) {
    auto chip = Make("PIC16F877A");
    Driver d(*chip);
    d.Enter();
    for (int i = 0; i < 8; ++i) {
        d.Load(2, static_cast<uint16_t>(0x100 + i));
        if (i < 7) d.Command(6);
    }
    d.Command(0x18);
    d.Command(6);  // lost: the chip waits for End Programming
    d.Wait(1'000'000);
    d.Command(0x17);
    EXPECT_EQ(chip->Counter(), 7);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(chip->ProgramCell(i), 0x100 + i) << i;

    // One word at a time: the other latches are blank again and programming only leaves the
    // block's other words alone.
    d.Wait(PicChip::kDischargeNs);
    d.Steps(2);  // word 9
    d.Load(2, 0x0999);
    d.Command(0x18);
    d.Wait(1'000'000);
    d.Command(0x17);
    d.Wait(PicChip::kDischargeNs);
    d.Command(6);
    d.Load(2, 0x0AAA);
    d.Command(0x18);
    d.Wait(1'000'000);
    d.Command(0x17);
    d.Wait(PicChip::kDischargeNs);
    EXPECT_EQ(chip->ProgramCell(9), 0x0999);
    EXPECT_EQ(chip->ProgramCell(10), 0x0AAA);

    // Ended before TPROG1: nothing sticks.
    d.Command(6);
    d.Load(2, 0x0BBB);
    d.Command(0x18);
    d.Wait(500'000);
    d.Command(0x17);
    d.Wait(PicChip::kDischargeNs);
    EXPECT_EQ(chip->ProgramCell(11), 0x3FFF);

    // Erase/program, word by word: each cycle rewrites the block with one loaded latch.
    d.Steps(5);  // word 16, a fresh block
    d.ProgramWord(0x1111);
    d.Command(6);
    d.ProgramWord(0x2222);
    EXPECT_EQ(chip->ProgramCell(16), 0x3FFF);
    EXPECT_EQ(chip->ProgramCell(17), 0x2222);
    // And the same cycle over a block whose eight latches are all loaded replaces it whole.
    d.Leave();
    d.Enter();
    d.Steps(8);
    for (int i = 0; i < 8; ++i) {
        d.Load(2, static_cast<uint16_t>(0x200 + i));
        if (i < 7) d.Command(6);
    }
    d.Command(8);
    d.Cycle();
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(chip->ProgramCell(8 + i), 0x200 + i) << i;
}

// Where the 87xA's latches go: the block is the one the counter is in at Begin Programming, so
// words loaded at 5 to 7 and committed from 8 land at 13 to 15. Programming only clears bits of a
// word not erased, a command inside the discharge after End Programming is lost, and data memory
// takes the same externally timed cycle.
TEST(PicChip, AFamilyRowFollowsTheCounterAndProgramsOnlyClearBits) {
    auto chip = Make("PIC16F877A");
    Driver d(*chip);
    d.Enter();
    auto programOnly = [&d] {
        d.Command(0x18);
        d.Wait(1'000'000);
        d.Command(0x17);
    };
    d.Steps(5);
    for (int i = 5; i < 8; ++i) {
        d.Load(2, static_cast<uint16_t>(0x0500 + i));
        d.Command(6);
    }
    programOnly();
    d.Command(6);  // inside the discharge: lost
    EXPECT_EQ(chip->Counter(), 8);
    d.Wait(PicChip::kDischargeNs);
    for (uint32_t w = 5; w < 16; ++w)
        EXPECT_EQ(chip->ProgramCell(w), w >= 13 ? 0x0500 + w - 8 : 0x3FFF) << w;

    d.Steps(5);  // word 13 again, not erased
    d.Load(2, 0x00FF);
    programOnly();
    d.Wait(PicChip::kDischargeNs);
    EXPECT_EQ(chip->ProgramCell(13), 0x0505 & 0x00FF);

    d.Leave();
    d.Enter();
    d.Steps(3);
    d.Load(3, 0x5A);
    programOnly();
    d.Wait(PicChip::kDischargeNs);
    EXPECT_EQ(chip->DataCell(3), 0x5A);
    d.Load(3, 0xA5);
    programOnly();
    EXPECT_EQ(chip->DataCell(3), 0x5A & 0xA5);
}

TEST(PicChip, CounterWrapsAtTheEndOfProgramMemory) {
    auto chip = Make("PIC16F84A");  // 1K words
    Driver d(*chip);
    d.Enter();
    d.ProgramWord(0x0ABC);
    d.Steps(1024);
    EXPECT_EQ(chip->Counter(), 0);
    EXPECT_EQ(d.Read(), 0x0ABC);
    d.Steps(1023);
    d.ProgramWord(0x0111);  // word 0x3FF, the last one
    d.Command(6);
    d.ProgramWord(0x0222);  // wrapped: overwrites word 0
    EXPECT_EQ(chip->ProgramCell(0x3FF), 0x0111);
    EXPECT_EQ(chip->ProgramCell(0), 0x0222);
}

TEST(PicChip, ClassicCodeProtectionHidesMemoryUntilTheDisableSequence) {
    auto chip = Make("PIC16F877");
    Driver d(*chip);
    d.Enter();
    d.ProgramWord(0x2ACE);
    d.Load(3, 0x42);
    d.Command(8);
    d.Cycle();
    d.Leave();
    d.Enter();
    d.Load(0, 0x0001);  // user ID 0
    d.Command(8);
    d.Cycle();
    d.WriteConfigWord(0x0ECF);  // CP1:CP0 = 00, CPD = 0
    d.Leave();

    d.Enter();
    EXPECT_EQ(d.Read(), 0x0000);
    EXPECT_EQ(d.Read(5), 0x00);
    d.Load(2, 0x1111);  // writes are refused while protected
    d.Command(8);
    d.Cycle();
    EXPECT_EQ(chip->ProgramCell(0), 0x2ACE);
    // A plain rewrite of the configuration word cannot lift the protection.
    d.WriteConfigWord(0x3FFF);
    EXPECT_EQ(d.Read() & 0x3030, 0x0000);
    // Nor does the bulk erase of program memory with the counter at 0.
    d.Leave();
    d.Enter();
    d.Load(2, 0x3FFF);
    d.SetupPairErase();
    EXPECT_EQ(chip->ProgramCell(0), 0x2ACE);
    d.Leave();

    // User IDs and device ID stay readable.
    d.Enter();
    d.Load(0, 0x3FFF);
    EXPECT_EQ(d.Read(), 0x0001);

    // With the counter on the configuration word the sequence wipes everything.
    d.Steps(7);
    d.SetupPairErase();
    EXPECT_EQ(d.Read(), 0x3FFF);
    d.Leave();
    EXPECT_EQ(chip->ProgramCell(0), 0x3FFF);
    EXPECT_EQ(chip->DataCell(0), 0xFF);
    EXPECT_EQ(chip->ConfigCell(0), 0x3FFF);
    EXPECT_EQ(chip->ConfigCell(7), 0x3FFF);
}

TEST(PicChip, AFamilyBulkAndChipErase) {
    auto chip = Make("PIC16F877A");
    Driver d(*chip);
    d.Enter();
    d.ProgramWord(0x0321);
    d.Load(3, 0x12);
    d.Command(8);
    d.Cycle();
    d.Command(9);
    d.Command(8);
    d.Wait(10'000'000);
    EXPECT_EQ(chip->ProgramCell(0), 0x3FFF);
    EXPECT_EQ(chip->DataCell(0), 0x12);
    d.Command(11);
    d.Command(8);
    d.Wait(10'000'000);
    EXPECT_EQ(chip->DataCell(0), 0xFF);

    // Protected (CP, bit 13): bulk erase refused, chip erase wipes everything.
    d.ProgramWord(0x0321);
    d.WriteConfigWord(0x1FFF);
    d.Leave();
    d.Enter();
    EXPECT_EQ(d.Read(), 0x0000);
    d.Command(9);
    d.Command(8);
    d.Wait(10'000'000);
    EXPECT_EQ(chip->ProgramCell(0), 0x0321);
    d.Load(0, 0x3FFF);  // Chip Erase acts from configuration memory
    d.Command(31);
    d.Wait(10'000'000);
    EXPECT_EQ(chip->ConfigCell(7), 0x3FFF);
    d.Leave();
    d.Enter();
    EXPECT_EQ(d.Read(), 0x3FFF);
}

TEST(PicChip, FaultsShortClockPhaseAndStuckWord) {
    auto chip = Make("PIC16F84A");
    chip->Faults.MinPhaseNs = 5000;  // the driver's phases last 1-2 us
    Driver d(*chip);
    d.Enter();
    d.Load(0, 0x3FFF);
    d.Steps(6);
    EXPECT_NE(d.Read(), 0x0567);

    auto stuck = Make("PIC16F84A");
    stuck->Faults.StuckAddress = 1;
    Driver s(*stuck);
    s.Enter();
    s.ProgramWord(0x0001);
    s.Command(6);
    s.ProgramWord(0x0002);
    EXPECT_EQ(stuck->ProgramCell(0), 0x0001);
    EXPECT_EQ(stuck->ProgramCell(1), 0x3FFF);
}

TEST(PicChip, StateRoundTripAndRefusesAnotherChip) {
    auto chip = Make("PIC16F628");
    Driver d(*chip);
    d.Enter();
    d.Steps(0x7FF);
    d.ProgramWord(0x1357);
    d.Load(3, 0x9C);
    d.Command(8);
    d.Cycle();
    d.Leave();
    d.Enter();
    d.WriteConfigWord(0x3F10);
    d.Leave();

    std::stringstream state;
    chip->SaveState(state);
    auto copy = Make("PIC16F628");
    ASSERT_TRUE(copy->LoadState(state));
    EXPECT_EQ(copy->ProgramCell(0x7FF), 0x1357);
    EXPECT_EQ(copy->DataCell(0x7FF % 128), 0x9C);
    EXPECT_EQ(copy->ConfigCell(7), chip->ConfigCell(7));

    std::stringstream again;
    chip->SaveState(again);
    auto other = Make("PIC16F627");
    EXPECT_FALSE(other->LoadState(again));
    EXPECT_EQ(other->ConfigCell(7), 0x3FFF);

    std::string text = state.str();
    std::stringstream truncated(text.substr(0, text.size() / 2));
    auto partial = Make("PIC16F628");
    EXPECT_FALSE(partial->LoadState(truncated));
    EXPECT_EQ(partial->ProgramCell(0x7FF), 0x3FFF);
}

}  // namespace
}  // namespace tondrel::sim
