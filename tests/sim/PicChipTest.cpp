#include <gtest/gtest.h>

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
    void ProgramWord(uint16_t word) {
        Load(2, word);
        Command(8);
        Wait(5'000'000);
    }
    void WriteConfigWord(uint16_t word) {
        Load(0, word);
        Steps(7);
        Load(2, word);
        Command(8);
        Wait(5'000'000);
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

TEST(PicChip, ProgramCycleIsTimedAndReadsShowOldWordUntilItEnds) {
    auto chip = Make("PIC16F877");
    Driver d(*chip);
    d.Enter();
    d.Steps(3);
    d.Load(2, 0x1234);
    d.Command(8);
    EXPECT_EQ(d.Read(), 0x3FFF);
    d.Wait(2'000'000);
    EXPECT_EQ(d.Read(), 0x3FFF);
    d.Wait(2'000'000);
    EXPECT_EQ(d.Read(), 0x1234);
    EXPECT_EQ(chip->ProgramCell(3), 0x1234);

    // Dropping the supply in the middle of a cycle loses the word.
    d.Command(6);
    d.Load(2, 0x0555);
    d.Command(8);
    d.Leave();
    d.Wait(10'000'000);
    EXPECT_EQ(chip->ProgramCell(4), 0x3FFF);
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
    d.Wait(5'000'000);
    d.Leave();
    d.Enter();
    d.Load(0, 0x0001);  // user ID 0
    d.Command(8);
    d.Wait(5'000'000);
    d.WriteConfigWord(0x0ECF);  // CP1:CP0 = 00, CPD = 0
    d.Leave();

    d.Enter();
    EXPECT_EQ(d.Read(), 0x0000);
    EXPECT_EQ(d.Read(5), 0x00);
    d.Load(2, 0x1111);  // writes are refused while protected
    d.Command(8);
    d.Wait(5'000'000);
    EXPECT_EQ(chip->ProgramCell(0), 0x2ACE);
    // A plain rewrite of the configuration word cannot lift the protection.
    d.WriteConfigWord(0x3FFF);
    EXPECT_EQ(d.Read() & 0x3030, 0x0000);
    // Nor does the bulk erase of program memory with the counter at 0.
    d.Leave();
    d.Enter();
    d.Load(2, 0x3FFF);
    d.Command(1);
    d.Command(7);
    d.Command(8);
    d.Wait(10'000'000);
    d.Command(1);
    d.Command(7);
    EXPECT_EQ(chip->ProgramCell(0), 0x2ACE);
    d.Leave();

    // User IDs and device ID stay readable.
    d.Enter();
    d.Load(0, 0x3FFF);
    EXPECT_EQ(d.Read(), 0x0001);

    // With the counter on the configuration word the sequence wipes everything.
    d.Steps(7);
    d.Command(1);
    d.Command(7);
    d.Command(8);
    d.Wait(10'000'000);
    d.Command(1);
    d.Command(7);
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
    d.Wait(5'000'000);
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
    d.Command(31);
    d.Wait(10'000'000);
    EXPECT_EQ(d.Read(), 0x3FFF);
    EXPECT_EQ(chip->ConfigCell(7), 0x3FFF);
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
    d.Wait(5'000'000);
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
