// The configuration layouts on a recording engine: exact commands, bracketing, prompts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"

namespace tondrel::config {
namespace {

// One log for engine calls and prompts, so a test can see their order.
using Log = std::vector<std::string>;

std::string Cmd(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "R %02X %02X %02X %02X", b1, b2, b3, b4);
    return buf;
}

EngineEnv& NoEnv() {
    static EngineEnv env;  // the recording engine never touches a port
    return env;
}

class RecordingEngine : public Tpro {
  public:
    explicit RecordingEngine(Log& log) : Tpro(NoEnv()), log_(log) {}
    Status EnterProgramming() override {
        log_.push_back("E");
        return {};
    }
    Status LeaveProgramming() override {
        log_.push_back("L");
        return {};
    }
    void InitPinMap() override { log_.push_back("I"); }
    Result<uint16_t> RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override {
        log_.push_back(Cmd(b1, b2, b3, b4));
        const auto it = replies.find({b1, b2, b3});
        return it == replies.end() ? fallback : it->second;
    }
    // The PIC configuration words, logged as the engines' raw operations number them (a read
    // of word n is operation n; writes are 10 + n for the IDs and 0x11 for the word; 0x14 wipes).
    Result<uint16_t> ReadConfigWord(int index) override {
        return RawCommand(static_cast<uint8_t>(index), 0, 0, 0);
    }
    Status WriteConfigWord(int index, uint16_t word) override {
        // A PIC holds the word written: the re-read that follows sees it.
        replies[{static_cast<uint8_t>(index), 0, 0}] = word;
        const auto op = static_cast<uint8_t>(index == 7 ? 0x11 : 10 + index);
        return RawCommand(op, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0)
            .GetStatus();
    }
    Status EraseEverything() override { return RawCommand(0x14, 0, 0, 0).GetStatus(); }
    // Replies by the first three bytes; anything else gets `fallback`.
    std::map<std::vector<uint8_t>, uint16_t> replies;
    uint16_t fallback = 0xFF;

  private:
    Log& log_;
};

// A message as the log shows it: its key, and its arguments in brackets.
std::string Logged(const Message& m) {
    std::string out = m.Key;
    if (m.Args.empty()) return out;
    out += "(";
    for (size_t i = 0; i < m.Args.size(); ++i) out += (i ? "," : "") + m.Args[i];
    return out + ")";
}

class RecordingPrompts : public Prompts {
  public:
    explicit RecordingPrompts(Log& log) : log_(log) {}
    bool Ask(const Message& question, QuestionKind kind) override {
        log_.push_back("ask " + Logged(question));
        questions.push_back(question);
        kinds.push_back(kind);
        if (answers.empty()) return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void Inform(const Message& text) override { log_.push_back("info " + Logged(text)); }
    void Say(const Message& line) override { log_.push_back("msg " + Logged(line)); }
    std::deque<bool> answers;
    std::vector<Message> questions;
    std::vector<QuestionKind> kinds;

  private:
    Log& log_;
};

struct Bench {
    Log log;
    RecordingEngine engine{log};
    RecordingPrompts prompts{log};
    std::unique_ptr<ConfigForm> form;

    ConfigForm& Open(std::string_view chip) {
        form = OpenConfigForm(chip, engine, 0x378, prompts);
        return *form;
    }
    Log Take() {
        Log out;
        out.swap(log);
        return out;
    }
};

// The chips of the first catalogue, every one with a designed dialog but two PICs.
const char* const kFirstCatalogue[] = {
    "AT90S1200",  "ATmega16",  "PIC16F877",  "PIC16F84A",  "AT90S2313",  "AT90S2323",  "AT90S2343",
    "AT90S2333",  "AT90S4433", "AT90S4414",  "AT90S8515",  "AT90S4434",  "AT90S8535",  "ATmega161",
    "ATmega64",   "ATmega103", "AT90CAN128", "ATmega162",  "ATmega163",  "ATmega48",   "ATmega88",
    "ATmega168",  "ATmega169", "ATmega32",   "ATmega128",  "ATmega8515", "ATmega8535", "ATmega323",
    "ATtiny12",   "ATtiny13",  "ATtiny15",   "ATtiny2313", "ATtiny26",   "AT89S51",    "AT89S52",
    "AT89S53",    "AT89S8252", "AT89S8253",  "PIC16F870",  "PIC16F871",  "PIC16F872",  "PIC16F873",
    "PIC16F874",  "PIC16F628", "PIC16F876",  "ATtiny22",   "PIC16F873A", "PIC16F874A", "PIC16F876A",
    "PIC16F877A", "ATmega8"};

Log Bracket(const std::string& cmd) {
    return {"E", cmd, "L"};
}
Log Cat(std::initializer_list<Log> parts) {
    Log out;
    for (const Log& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(ConfigDispatch, EveryKeyHasItsLayoutAndTheGapsOpenNothing) {
    std::set<std::string> classes;
    for (const char* chip : kFirstCatalogue) {
        const LayoutDesc* l = FindLayout(chip);
        ASSERT_NE(l, nullptr) << chip;
        classes.insert(l->ClassName);
    }
    // The designed 27, the ATmega8515's, the ATmega169's (no M161C), the 16F84A's and 16F628's.
    EXPECT_EQ(classes.size(), 31u);
    EXPECT_EQ(AllLayouts().size(), 31u);
    EXPECT_EQ(FindLayout("ATmega16")->ClassName, "Tmega16otherFrm");
    EXPECT_EQ(FindLayout("atmega16"), FindLayout("ATmega16"));  // names in any case
    // The ATmega8515's fuse high byte is not the ATmega16's (S8515C and WDTON in bits 7, 6).
    EXPECT_EQ(FindLayout("ATmega8515")->ClassName, "Tmega8515otherFrm");
    EXPECT_EQ(FindLayout("AT89S8252")->ClassName, "Tat89s53otherFrm");
    EXPECT_EQ(FindLayout("ATtiny22")->ClassName, "TTiny22otherFrm");

    for (const char* chip : {"", "AT89S5", "ATmega16x"}) {
        Bench b;
        EXPECT_EQ(OpenConfigForm(chip, b.engine, 0x378, b.prompts), nullptr);
        EXPECT_TRUE(b.log.empty()) << chip;
    }
}

TEST(ConfigDispatch, BoxNamesAreUniqueAndReadGroupsExist) {
    for (const LayoutDesc& l : AllLayouts()) {
        std::set<std::string> names;
        for (const GroupDesc& g : l.Groups)
            for (const BoxDesc& b : g.Boxes) {
                EXPECT_TRUE(names.insert(b.Name).second) << l.ClassName << " " << b.Name;
                EXPECT_LT(static_cast<size_t>(b.Read), g.Reads.size()) << b.Name;
            }
        for (const std::string& name : l.OpenOrder) {
            bool found = false;
            for (const GroupDesc& g : l.Groups) found = found || g.Name == name;
            EXPECT_TRUE(found) << l.ClassName << " " << name;
        }
    }
}

TEST(ConfigMega16, OpeningSetsThePortAndReadsLockHighLowInOrder) {
    Bench b;
    b.engine.replies[{0x58, 0x08, 0x00}] = 0x99;
    b.engine.replies[{0x50, 0x00, 0x00}] = 0xE1;
    ConfigForm& f = b.Open("ATmega16");
    EXPECT_EQ(b.engine.DataPort, 0x378);
    EXPECT_EQ(b.Take(), Cat({{"I"},
                             Bracket(Cmd(0x58, 0, 0, 0)),
                             Bracket(Cmd(0x58, 8, 0, 0)),
                             Bracket(Cmd(0x50, 0, 0, 0))}));
    // 0x99 = 1001 1001: bits 6, 5, 2, 1 programmed.
    for (const char* on : {"fh6", "fh5", "fh2", "fh1", "FL4", "FL3", "FL2", "FL1"})
        EXPECT_TRUE(f.Box(on).Ticked) << on;
    for (const char* off : {"fh7", "fh4", "fh3", "fh0", "FL7", "FL6", "FL5", "FL0"})
        EXPECT_FALSE(f.Box(off).Ticked) << off;
}

TEST(ConfigMega16, LockWriteIsConfirmedAndNoSendsNothing) {
    Bench b;
    ConfigForm& f = b.Open("ATmega16");  // lock reads 0xFF: nothing programmed
    b.Take();
    b.prompts.answers = {false};
    EXPECT_EQ(f.Write("GroupBox2").Key(), "CfgCancelled");
    const std::string ask = "ask " + std::string(kMsgLockConfirm) + "(lock byte 0xFF → 0xFF)";
    EXPECT_EQ(b.Take(), Log{ask});
    // Nothing newly programmed: the designed question, routine.
    EXPECT_EQ(b.prompts.kinds.back(), QuestionKind::Routine);

    // The chip is read back before the write is reported done.
    EXPECT_TRUE(f.Press("Button2"));
    EXPECT_EQ(b.Take(), Cat({{ask},
                             Bracket(Cmd(0xAC, 0xFF, 0x00, 0xFF)),
                             Bracket(Cmd(0x58, 0, 0, 0)),
                             {"info CfgDone"}}));
}

TEST(ConfigMega16, ProgrammedLockBitStaysTickedDisabledAndIsWrittenAsZero) {
    Bench b;
    b.engine.replies[{0x58, 0x00, 0x00}] = 0x3E;  // LB1 programmed; bits 7, 6 have no box
    ConfigForm& f = b.Open("ATmega16");
    EXPECT_TRUE(f.Box("LBN0").Ticked);
    EXPECT_FALSE(f.Box("LBN0").Enabled);
    EXPECT_FALSE(f.Box("LBN1").Ticked);
    EXPECT_TRUE(f.Box("LBN1").Enabled);
    EXPECT_FALSE(f.Click("LBN0"));
    EXPECT_TRUE(f.Box("LBN0").Ticked);

    ASSERT_TRUE(f.Click("LBN1"));
    b.Take();
    (void)f.Write("GroupBox2");
    const Log log = b.Take();
    EXPECT_EQ(log[2], Cmd(0xAC, 0xFF, 0x00, 0xFC));
    // A refresh first enables and ticks every box, so the re-read decides alone.
    b.engine.replies[{0x58, 0x00, 0x00}] = 0xFF;
    f.Refresh("GroupBox2");
    EXPECT_FALSE(f.Box("LBN0").Ticked);
    EXPECT_TRUE(f.Box("LBN0").Enabled);
}

TEST(ConfigMega16, FuseWriteAfterRefreshSendsTheByteReadAndSpienAsRead) {
    Bench b;
    b.engine.replies[{0x58, 0x08, 0x00}] = 0x99;
    ConfigForm& f = b.Open("ATmega16");
    EXPECT_FALSE(f.Click("fh5"));  // SPIEN: fixed by the layout
    EXPECT_TRUE(f.Box("fh5").Ticked);
    b.Take();
    (void)f.Write("GroupBox1");
    EXPECT_EQ(b.Take(), Cat({Bracket(Cmd(0xAC, 0xA8, 0x00, 0x99)),
                             Bracket(Cmd(0x58, 0x08, 0, 0)),
                             {"info CfgDone"}}));

    // ATmega163: bits 7..3 of its high fuse have no box; they go out as 1.
    Bench c;
    c.engine.replies[{0x58, 0x08, 0x00}] = 0x02;
    ConfigForm& g = c.Open("ATmega163");
    c.Take();
    (void)g.Write("GroupBox1");
    EXPECT_EQ(c.Take()[1], Cmd(0xAC, 0xA8, 0x00, 0xFA));
}

TEST(ConfigMega16, UserTicksClearBitsInTheFuseLowWrite) {
    Bench b;
    ConfigForm& f = b.Open("ATmega16");  // fuse low reads 0xFF
    f.Click("FL7");
    f.Click("FL0");
    b.Take();
    f.Press("Button6");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xA0, 0x00, 0x7E));
}

TEST(ConfigCalibration, OneTwoAndFourByteTexts) {
    Bench b;
    b.engine.replies[{0x38, 0x00, 0x00}] = 0x5A;
    b.engine.replies[{0x38, 0x00, 0x01}] = 0xA7;
    b.engine.replies[{0x38, 0x00, 0x02}] = 0x03;
    b.engine.replies[{0x38, 0x00, 0x03}] = 0xB0;

    b.Open("ATmega163");  // one byte
    b.Take();
    const Message one = b.form->ReadCalibration();
    EXPECT_EQ(one, Msg("CfgCalibration1", "5A"));
    EXPECT_EQ(one.Text(Language::Chinese), "校准字节(Calibration Byte)值为：: 0x5A");
    EXPECT_EQ(b.Take(), Cat({Bracket(Cmd(0x38, 0, 0, 0)), {"info CfgCalibration1(5A)"}}));

    b.Open("ATtiny2313");  // two bytes
    b.Take();
    const Message two = b.form->ReadCalibration();
    EXPECT_EQ(two.Text(Language::Chinese),
              "地址0的校准字节(Calibration Byte)值为：0x5A\n"
              "地址1的校准字节(Calibration Byte)值为：0xA7\n");

    for (const char* chip : {"ATmega16", "ATmega8535", "ATmega64", "ATtiny26", "ATmega8"}) {
        b.Open(chip);
        b.Take();
        const Message four = b.form->ReadCalibration();
        EXPECT_EQ(four, Msg("CfgCalibration4", "5A", "A7", "03", "B0")) << chip;
        EXPECT_EQ(four.Text(Language::Chinese),
                  "0x000校准字节(Calibration Byte)值为：: 0x5A\n"
                  "0x001校准字节(Calibration Byte)值为：: 0xA7\n"
                  "0x002校准字节(Calibration Byte)值为：: 0x03\n"
                  "0x003校准字节(Calibration Byte)值为：: 0xB0\n")
            << chip;
        EXPECT_EQ(b.Take().size(), 13u);  // four bracketed reads and one box
    }

    b.Open("ATmega161");  // no button, no read
    b.Take();
    EXPECT_TRUE(b.form->ReadCalibration().Empty());
    EXPECT_TRUE(b.log.empty());
    EXPECT_FALSE(b.form->HasGroup("GroupBox1"));
}

TEST(ConfigAvrLayouts, ExtendedWritesKeepBoxlessBitsAtOne) {
    Bench b;
    ConfigForm& m162 = b.Open("ATmega162");
    for (const char* n : {"LEF3", "LEF2", "LEF1"}) m162.Click(n);
    b.Take();
    (void)m162.Write("groupbox4");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xA4, 0x00, 0xF1));

    ConfigForm& m64 = b.Open("ATmega64");
    m64.Click("Lm103c");
    m64.Click("Lwdton");
    b.Take();
    (void)m64.Write("groupbox4");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xA4, 0x00, 0xFC));
}

TEST(ConfigTiny12, LockBitsTravelInTheSecondByte) {
    Bench b;
    ConfigForm& f = b.Open("ATtiny12");
    // Fuse first, then the lock bits.
    EXPECT_EQ(b.Take(), Cat({{"I"}, Bracket(Cmd(0x50, 0, 0, 0)), Bracket(Cmd(0x58, 0, 0, 0))}));
    (void)f.Write("GroupBox2");
    EXPECT_EQ(b.Take()[2], Cmd(0xAC, 0xFF, 0x00, 0x00));
    f.Click("LB2");
    f.Click("LB1");
    (void)f.Write("GroupBox2");
    const Log log = b.Take();
    EXPECT_EQ(log[0], "ask " + std::string(kMsgLockConfirm) + "(lock byte 0xFF → 0xF9)");
    EXPECT_EQ(log[2], Cmd(0xAC, 0xF9, 0x00, 0x00));
}

// A write that changes what the chip does after its next reset asks in words, one question of
// its own kind per consequence; No sends nothing. The consequence comes from the chip's data:
// the AT90USB162's RSTDSBL spelling, the AT89S8253's SerialPrg, the PIC's CP all count.
TEST(ConfigConsequences, HazardousWritesAskByKindAndNoSendsNothing) {
    struct Case {
        const char* Chip;
        const char* Group;
        const char* Box;
        Command Read;
        uint16_t Value;  // what the read answers
        const char* Key;
        QuestionKind Kind;
    };
    const Case cases[] = {
        {"ATmega88", "GroupBox1", "fh7", kReadFuseHigh, 0xDF, "CfgEndsSerial",
         QuestionKind::EndsSerialProgramming},
        {"ATmega88", "GroupBox1", "fh6", kReadFuseHigh, 0xDF, "CfgEndsSerial",
         QuestionKind::EndsSerialProgramming},
        {"AT90USB162", "GroupBox1", "fh6", kReadFuseHigh, 0xD9, "CfgEndsSerial",
         QuestionKind::EndsSerialProgramming},
        {"ATmega16", "GroupBox3", "FL0", kReadFuseLow, 0xE1, "CfgNeedsClock",
         QuestionKind::ExternalClock},
        {"ATmega88", "GroupBox3", "FL7", kReadFuseLow, 0xE2, "CfgSlows", QuestionKind::SlowsChip},
        {"ATmega16", "GroupBox2", "LBN0", kReadLock, 0xFF, kMsgLockConfirm, QuestionKind::Locks},
        {"AT89S8253",
         "GroupBox2",
         "f1",
         {0x21, 0, 0, 0},
         0xFF,
         "CfgEndsSerial",
         QuestionKind::EndsSerialProgramming},
        {"PIC16F877A", "GroupBox2", "cfg13", {7, 0, 0, 0}, 0x3FFF, "CfgLocks", QuestionKind::Locks},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Chip) + " " + c.Box);
        Bench b;
        b.engine.replies[{c.Read.B1, c.Read.B2, c.Read.B3}] = c.Value;
        ConfigForm& f = b.Open(c.Chip);
        ASSERT_TRUE(f.Click(c.Box));
        b.Take();
        b.prompts.answers = {false};
        EXPECT_EQ(f.Write(c.Group).Key(), "CfgCancelled");
        ASSERT_EQ(b.prompts.questions.size(), 1u);
        EXPECT_EQ(b.prompts.questions[0].Key, c.Key);
        EXPECT_EQ(b.prompts.kinds[0], c.Kind);
        for (const std::string& line : b.Take())
            EXPECT_EQ(line.rfind("R AC", 0), std::string::npos) << line;
    }

    // The question says what changes, in the datasheet's words.
    Bench b;
    b.engine.replies[{0x50, 0x00, 0x00}] = 0x62;
    ConfigForm& f = b.Open("ATmega328P");
    ASSERT_TRUE(f.Click("FL1"));
    b.prompts.answers = {false};
    (void)f.Write("GroupBox3");
    ASSERT_EQ(b.prompts.questions.size(), 1u);
    EXPECT_EQ(b.prompts.questions[0].Args.at(0),
              "low fuse 0x62 → 0x60: CKSEL 0010 → 0000, internal 8 MHz RC → external clock on "
              "XTAL1");

    // An ordinary fuse bit asks nothing.
    Bench m;
    ConfigForm& m16 = m.Open("ATmega16");
    m16.Click("fh0");
    (void)m16.Write("GroupBox1");
    EXPECT_TRUE(m.prompts.questions.empty());
}

TEST(ConfigLockMode, At90s2333AndMega103FuseWritesStartFrom0xBF) {
    Bench b;
    ConfigForm& f = b.Open("AT90S2333");
    EXPECT_EQ(b.Take(), Cat({{"I"}, Bracket(Cmd(0x50, 0, 0, 0)), Bracket(Cmd(0x58, 0, 0, 0))}));
    f.Press("BitBtn3");
    EXPECT_EQ(b.Take(), Cat({Bracket(Cmd(0xAC, 0xBF, 0, 0)), Bracket(Cmd(0x50, 0, 0, 0)),
                             Bracket(Cmd(0x58, 0, 0, 0))}));  // no message
    for (const char* n : {"fb7", "fb6", "fb5", "fb4", "fb3"}) ASSERT_TRUE(f.Click(n));
    EXPECT_FALSE(f.Click("fb8"));
    (void)f.Write("GroupBox2");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xA0, 0, 0));

    b.engine.fallback = 0x00;  // everything programmed, SPIEN included: bit 5 still goes out as 1
    ConfigForm& m103 = b.Open("ATmega103");
    EXPECT_TRUE(m103.Box("FB5").Ticked);
    EXPECT_TRUE(m103.Box("LB2").Ticked);
    b.Take();
    (void)m103.Write("GroupBox2");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xB4, 0, 0));
}

TEST(ConfigLockMode, At90s1200Mode2IsOneSessionAndNothingIsRead) {
    Bench b;
    ConfigForm& f = b.Open("AT90S1200");
    EXPECT_EQ(b.Take(), Log{"I"});
    ASSERT_TRUE(f.SelectMode(1));
    EXPECT_FALSE(f.SelectMode(2));
    f.Press("BitBtn1");
    // Locking is asked, with No as its default, even where the dialog asked nothing.
    EXPECT_EQ(b.Take(), (Log{"ask CfgLocks(lock mode 2," + f.Layout().Modes->Modes[1].Caption + ")",
                             "E", Cmd(0xAC, 0xF9, 0, 0), "L", "info CfgModeDone"}));
    EXPECT_EQ(b.prompts.kinds.back(), QuestionKind::Locks);

    // The AT90S2343 and ATtiny22 re-read their status after the lock write.
    ConfigForm& t22 = b.Open("ATtiny22");
    b.Take();
    (void)t22.ApplyMode();
    const Log t22log = b.Take();
    EXPECT_EQ(
        Log(t22log.begin() + 1, t22log.end()),
        (Log{"E", Cmd(0xAC, 0xFD, 0, 0), "L", "E", Cmd(0x58, 0, 0, 0), "L", "info CfgModeDone"}));
}

TEST(ConfigLockMode, At90s2323StatusAndTheImmediateFstrtWrite) {
    Bench b;
    b.engine.replies[{0x58, 0x00, 0x00}] = 0xDF;
    ConfigForm& f = b.Open("AT90S2323");
    EXPECT_FALSE(f.Box("Lb1").Ticked);
    EXPECT_FALSE(f.Box("LB2").Ticked);
    EXPECT_TRUE(f.Box("spien").Ticked);
    EXPECT_FALSE(f.Box("Fstrt").Ticked);

    b.engine.replies[{0x58, 0x00, 0x00}] = 0x1E;
    f.Refresh("GroupBox2");
    for (const char* n : {"Lb1", "LB2", "spien", "Fstrt"}) EXPECT_TRUE(f.Box(n).Ticked) << n;
    EXPECT_FALSE(f.Click("spien"));

    b.Take();
    b.engine.replies[{0x58, 0x00, 0x00}] = 0x1F;
    ASSERT_TRUE(f.Click("Fstrt"));  // unticking a programmed FSTRT
    EXPECT_EQ(b.Take(), Cat({Bracket(Cmd(0xAC, 0xBF, 0, 0)), Bracket(Cmd(0x58, 0, 0, 0))}));
    EXPECT_FALSE(f.Box("Fstrt").Ticked);
    ASSERT_TRUE(f.Click("Fstrt"));
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xBE, 0, 0));
}

TEST(ConfigAt89, S51Mode3SendsFourCommandsThenOneRead) {
    Bench b;
    b.engine.replies[{0x24, 0x00, 0x00}] = 0x1C;
    ConfigForm& f = b.Open("AT89S52");
    for (const char* n : {"lb3", "lb2", "lb1"}) {
        EXPECT_TRUE(f.Box(n).Ticked) << n;
        EXPECT_FALSE(f.Box(n).Enabled) << n;
    }
    b.engine.replies[{0x24, 0x00, 0x00}] = 0x00;
    f.Refresh("GroupBox1");
    EXPECT_FALSE(f.Box("lb1").Ticked);

    b.Take();
    f.SelectMode(2);
    b.engine.replies[{0x24, 0x00, 0x00}] = 0x1C;  // the chip takes the mode: LB3..LB1 read 1
    f.Press("BitBtn3");
    const std::string caption = f.Layout().Modes->Modes[2].Caption;
    EXPECT_EQ(b.Take(), Cat({{"msg ", "ask CfgModeConfirm(" + caption + ")", "I"},
                             Bracket(Cmd(0xAC, 0xE0, 0, 0)),
                             Bracket(Cmd(0xAC, 0xE1, 0, 0)),
                             Bracket(Cmd(0xAC, 0xE2, 0, 0)),
                             Bracket(Cmd(0xAC, 0xE3, 0, 0)),
                             Bracket(Cmd(0x24, 0, 0, 0)),
                             {"info CfgLockDone"}}));

    // A chip that kept LB2 unprogrammed fails the mode, naming the bit.
    b.engine.replies[{0x24, 0x00, 0x00}] = 0x14;
    const Status refused = f.ApplyMode();
    EXPECT_EQ(refused.Key(), "CfgWriteRefused");
    EXPECT_EQ(refused.Error().Args.back(), "LB2");
    b.Take();

    f.SelectMode(1);
    b.prompts.answers = {false};
    EXPECT_FALSE(f.ApplyMode());
    EXPECT_EQ(b.Take().size(), 2u);  // the empty line and the question, nothing sent
    (void)f.ApplyMode();
    const Log mode2 = b.Take();
    EXPECT_EQ(std::count_if(mode2.begin(), mode2.end(),
                            [](const std::string& s) { return s.rfind("R AC", 0) == 0; }),
              2);
}

TEST(ConfigAt89, S53Mode1IsOneCommandAndOpeningReadsNothing) {
    Bench b;
    ConfigForm& f = b.Open("AT89S53");
    EXPECT_EQ(b.Take(), Log{"I"});
    EXPECT_EQ(f.SelectedMode(), 0u);
    (void)f.ApplyMode();
    const Log log = b.Take();
    EXPECT_EQ(std::count(log.begin(), log.end(), "E"), 1);
    EXPECT_EQ(log[3], Cmd(0xAC, 0x7F, 0, 0));
    // Nothing can read the lock bits back: the form must not say they are set.
    EXPECT_EQ(log.back(), "info CfgLockSentUnchecked");
}

// The AT89S8253 datasheet: fuses read by 0x21 as xxxx ffff and written by 0xAC 0001 ffff (0xAC
// 100x xxxx is Chip Erase), lock bits read by 0x24 as xxxx xLLL; in both a 0 is a cleared fuse
// or a programmed lock bit, which is what a ticked box shows.
TEST(ConfigAt89, S8253FusesAndLocksAsItsDatasheetSays) {
    Bench b;
    b.engine.replies[{0x21, 0x00, 0x00}] = 0x0F;  // as it leaves the factory
    b.engine.replies[{0x24, 0x00, 0x00}] = 0xFF;
    ConfigForm& f = b.Open("AT89S8253");
    EXPECT_EQ(b.Take(), Cat({{"I"}, Bracket(Cmd(0x24, 0, 0, 0)), Bracket(Cmd(0x21, 0, 0, 0))}));
    for (const char* n : {"f3", "f2", "f1", "lb3", "lb2", "lb1"}) EXPECT_FALSE(f.Box(n).Ticked);
    EXPECT_EQ(f.Write("GroupBox2").Key(), "");
    EXPECT_EQ(b.Take(),
              Cat({Bracket(Cmd(0xAC, 0x1F, 0, 0)), Bracket(Cmd(0x21, 0, 0, 0)), {"info CfgDone"}}));

    // x2 Clock cleared: no question; the chip's answer confirms it.
    f.Click("f2");
    b.engine.replies[{0x21, 0x00, 0x00}] = 0x0D;
    EXPECT_EQ(f.Write("GroupBox2").Key(), "");
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0x1D, 0, 0));
    EXPECT_TRUE(b.prompts.questions.empty());

    // SerialPrg cleared ends serial programming: asked, and No sends nothing.
    f.Click("f1");
    b.prompts.answers = {false};
    EXPECT_EQ(f.Write("GroupBox2").Key(), "CfgCancelled");
    ASSERT_EQ(b.prompts.questions.size(), 1u);
    EXPECT_EQ(b.prompts.kinds.back(), QuestionKind::EndsSerialProgramming);
    EXPECT_EQ(b.Take().size(), 1u);  // the question alone
    f.Click("f1");

    // The lock write takes its bits from the lock boxes and asks before locking.
    f.Click("lb2");
    b.engine.replies[{0x24, 0x00, 0x00}] = 0xFD;
    EXPECT_EQ(f.Write("GroupBox1").Key(), "");
    EXPECT_EQ(b.prompts.kinds.back(), QuestionKind::Locks);
    const Log lock = b.Take();
    EXPECT_EQ(Log(lock.begin() + 1, lock.end()),
              Cat({Bracket(Cmd(0xAC, 0xE5, 0, 0)), Bracket(Cmd(0x24, 0, 0, 0)), {"info CfgDone"}}));
}

TEST(ConfigPic, UserIdsArePaddedHexPairsAndNeverBracketed) {
    Bench b;
    b.engine.replies[{0x00, 0x00, 0x00}] = 0x007F;
    b.engine.replies[{0x07, 0x00, 0x00}] = 0x3FFF;
    ConfigForm& f = b.Open("PIC16F877");
    EXPECT_EQ(b.Take(), (Log{"I", Cmd(0, 0, 0, 0), Cmd(1, 0, 0, 0), Cmd(2, 0, 0, 0),
                             Cmd(3, 0, 0, 0), Cmd(7, 0, 0, 0)}));
    EXPECT_EQ(f.EditText(0), "007F");
    EXPECT_EQ(f.EditText(1), "00FF");

    f.SetEditText(0, "");
    f.SetEditText(1, "3F");
    f.SetEditText(2, "abcd");
    f.SetEditText(3, "ABCD");
    f.Press("Button3");
    const Log log = b.Take();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0], Cmd(10, 0x00, 0x00, 0));
    EXPECT_EQ(log[1], Cmd(11, 0x00, 0x3F, 0));
    EXPECT_EQ(log[2], Cmd(12, 0xAB, 0xCD, 0));
    EXPECT_EQ(log[3], Cmd(13, 0xAB, 0xCD, 0));
    EXPECT_EQ(log[4], Cmd(0, 0, 0, 0));  // re-read before the box
    EXPECT_EQ(log[8], "info CfgDone");

    // The boxes take hexadecimal digits only, four at most.
    EXPECT_EQ(f.SetEditText(0, " 1g2-34z56"), "1234");
}

TEST(ConfigPic, ConfigurationWords) {
    struct Case {
        const char* Chip;
        std::vector<std::string> Ticks;
        uint16_t Word;
    };
    for (const Case& c : std::vector<Case>{{"PIC16F877", {"cfg13"}, 0x1FDF},
                                           {"PIC16F877", {"cfg13", "cfg12"}, 0x0FCF},
                                           {"PIC16F870", {}, 0x3FFF},
                                           {"PIC16F877A", {"cfg13"}, 0x1FFF},
                                           {"PIC16F873A", {"cfg11"}, 0x37FF}}) {
        Bench b;
        b.engine.fallback = 0x3FFF;  // an erased chip
        ConfigForm& f = b.Open(c.Chip);
        for (const std::string& n : c.Ticks) f.Click(n);
        b.Take();
        f.Press("Button4");
        Log log = b.Take();
        // Code protection is asked first (answered Yes here).
        const bool protects = (c.Word & 0x3030) != 0x3030 || !(c.Word & 0x2000);
        EXPECT_EQ(!log.empty() && log[0].rfind("ask CfgLocks(", 0) == 0, protects) << c.Chip;
        if (protects) log.erase(log.begin());
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], Cmd(0x11, c.Word >> 8, c.Word & 0xFF, 0)) << c.Chip;
        EXPECT_EQ(log[1], Cmd(7, 0, 0, 0));
        EXPECT_EQ(log[2], "info CfgDone");
    }

    Bench b;
    b.engine.fallback = 0x0000;
    ConfigForm& f = b.Open("PIC16F873A");
    for (const BoxDesc& box : f.Layout().Groups[1].Boxes) EXPECT_TRUE(f.Box(box.Name).Ticked);
    b.engine.fallback = 0x3FFF;
    f.Refresh("GroupBox2");
    for (const BoxDesc& box : f.Layout().Groups[1].Boxes) EXPECT_FALSE(f.Box(box.Name).Ticked);
}

TEST(ConfigPic, FullEraseAsksFirstAndDoesNotRefresh) {
    Bench b;
    ConfigForm& f = b.Open("PIC16F876A");
    b.Take();
    b.prompts.answers = {false};
    EXPECT_FALSE(f.FullErase());
    EXPECT_EQ(b.Take(), Log{"ask " + f.Layout().EraseConfirm});
    EXPECT_NE(Tr(f.Layout().EraseConfirm, Language::Chinese).find("测试区"), std::string::npos);
    f.Press("Button5");
    EXPECT_EQ(b.Take(),
              (Log{"ask " + f.Layout().EraseConfirm, Cmd(0x14, 0, 0, 0), "info CfgDone"}));
}

// ---- command-line operations ----

TEST(ConfigCommands, ShowListsGroupsAndBoxesInOrder) {
    Bench b;
    b.engine.replies[{0x58, 0x08, 0x00}] = 0x99;
    ConfigForm& f = b.Open("ATmega16");
    const std::string text = DescribeForm(f);
    const auto lock = text.find("GroupBox2");
    const auto high = text.find("GroupBox1");
    const auto low = text.find("GroupBox3");
    EXPECT_LT(lock, high);
    EXPECT_LT(high, low);
    EXPECT_NE(text.find("  fh5  \"SPIEN\"  on  (disabled)\n"), std::string::npos);
    EXPECT_NE(text.find("  fh7  \"OCDEN\"  off\n"), std::string::npos);
    EXPECT_NE(text.find("write value 0x99"), std::string::npos);
}

TEST(ConfigCommands, WriteSettingsActAsClicksAndRejectBeforeSending) {
    Bench b;
    b.engine.replies[{0x58, 0x08, 0x00}] = 0x99;
    ConfigForm& f = b.Open("ATmega16");
    b.Take();
    EXPECT_FALSE(WriteGroupSettings(f, "GroupBox1", {"fh7=on", "fh5=off"}).Ok());
    EXPECT_FALSE(WriteGroupSettings(f, "GroupBox1", {"fh9=on"}).Ok());
    EXPECT_FALSE(WriteGroupSettings(f, "GroupBox1", {"fh7=maybe"}).Ok());
    EXPECT_FALSE(WriteGroupSettings(f, "GroupBox7", {}).Ok());
    EXPECT_TRUE(b.log.empty());
    EXPECT_FALSE(f.Box("fh7").Ticked);

    // A box named twice is refused whatever the values: FL7=off twice used to toggle it back.
    EXPECT_EQ(WriteGroupSettings(f, "GroupBox1", {"fh7=on", "fh7=on"}).Key(), "CfgBoxTwice");
    EXPECT_TRUE(b.log.empty());

    // 0x99 = 1001 1001: OCDEN programmed clears bit 7, JTAGEN unprogrammed sets bit 6.
    b.engine.replies[{0x58, 0x08, 0x00}] = 0x59;  // what the chip then holds
    ASSERT_TRUE(WriteGroupSettings(f, "GroupBox1", {"fh7=on", "fh6=off", "fh5=on"}).Ok());
    EXPECT_EQ(b.Take()[1], Cmd(0xAC, 0xA8, 0x00, 0x59));

    b.prompts.answers = {false};
    const Status no = WriteGroupSettings(f, "groupbox2", {"LBN0=on"});
    EXPECT_FALSE(no.Ok());
    EXPECT_EQ(b.Take().size(), 1u);  // the question only
}

TEST(ConfigCommands, ModesCalibrationUserIdsWordAndErase) {
    Bench b;
    ConfigForm& s53 = b.Open("AT89S53");
    b.Take();
    EXPECT_FALSE(ApplyLockMode(s53, 4).Ok());
    ASSERT_TRUE(ApplyLockMode(s53, 3).Ok());
    EXPECT_EQ(b.Take()[3], Cmd(0xAC, 0x1F, 0, 0));
    Message text;
    EXPECT_FALSE(ReadCalibrationBytes(s53, text).Ok());
    EXPECT_FALSE(EraseAll(s53).Ok());

    b.engine.replies[{7, 0, 0}] = 0x3FFF;  // the configuration word of an erased chip
    ConfigForm& pic = b.Open("PIC16F877");
    b.Take();
    EXPECT_FALSE(WriteUserId(pic, "4", "12").Ok());
    // The parser's forms only: 8192 is no 0x2000, and a sign is no digit.
    EXPECT_FALSE(WriteUserId(pic, "8192", "12").Ok());
    EXPECT_FALSE(WriteUserId(pic, "+1", "12").Ok());
    EXPECT_FALSE(WriteUserId(pic, "1", "12345").Ok());
    EXPECT_FALSE(WriteUserId(pic, "1", "12G").Ok());
    EXPECT_TRUE(b.log.empty());
    ASSERT_TRUE(WriteUserId(pic, "0x2002", "3f").Ok());
    const Log ids = b.Take();
    EXPECT_EQ(ids[1], Cmd(11, 0x00, 0xFF, 0));  // the others go back as read
    EXPECT_EQ(ids[2], Cmd(12, 0x00, 0x3F, 0));

    EXPECT_FALSE(WriteConfigWord(pic, "0x3BFF").Ok());  // bit 10 has no box here
    EXPECT_FALSE(WriteConfigWord(pic, "0x1FFF").Ok());  // CP1 without its copy at bit 5
    EXPECT_TRUE(b.log.empty());
    ASSERT_TRUE(WriteConfigWord(pic, "0FCF").Ok());
    const Log word = b.Take();
    EXPECT_EQ(word[0].rfind("ask CfgLocks(", 0), 0u);  // code protection is asked first
    EXPECT_EQ(word[1], Cmd(0x11, 0x0F, 0xCF, 0));

    ASSERT_TRUE(EraseAll(pic).Ok());
    EXPECT_EQ(b.Take()[1], Cmd(0x14, 0, 0, 0));
}

}  // namespace
}  // namespace tondrel::config
