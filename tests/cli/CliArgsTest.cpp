#include <gtest/gtest.h>

#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/TerminalView.h"

namespace tondrel::cli {
namespace {

bool Parse(std::vector<std::string> argv, CliArgs& out, std::string& error) {
    out = CliArgs{};
    return ParseArgs(argv, out, error);
}

TEST(CliArgs, OptionsCommandsAndTheAutoFlags) {
    CliArgs a;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "sim:ATmega16", "--lpt=2", "--speed", "16", "--lang", "zh", "auto",
                       "--flash", "f.hex", "--no-erase", "--write-eeprom"},
                      a, error))
        << error;
    EXPECT_EQ(a.Port, "sim:ATmega16");
    EXPECT_EQ(a.Lpt, 2);
    EXPECT_EQ(a.Speed, 16);
    EXPECT_EQ(a.Language, 2);
    EXPECT_EQ(a.Command, "auto");
    EXPECT_EQ(a.AutoFlash, "f.hex");
    EXPECT_EQ(a.Erase, false);
    EXPECT_EQ(a.WriteEEPROM, true);
    EXPECT_FALSE(a.WriteFlash.has_value());  // not given: the stored choice

    ASSERT_TRUE(Parse({"config", "write", "GroupBox3", "FL0=on", "FL1=off"}, a, error));
    EXPECT_EQ(a.Args.size(), 4u);
    ASSERT_TRUE(Parse({"--yes", "config", "userid", "0", "1A2B"}, a, error));
    EXPECT_EQ(a.Answer, true);
}

TEST(CliArgs, UsageErrorsSayWhat) {
    CliArgs a;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"write-flash"},
        {"write-flash", "a", "b"},
        {"--speed", "300001", "erase"},
        {"--speed", "-1", "erase"},
        {"--speed", "12x", "erase"},
        {"--speed", "0x10", "erase"},  // a delay count is decimal
        {"--speed", " 5", "erase"},
        {"--speed", "+-5", "erase"},
        {"--lpt", "01x", "search"},
        {"-x", "search"},
        {"config", "word", "ZZZZ"},
        {"config", "word", "12345"},
        {"config", "word", "4000"},  // beyond 14 bits
        {"config", "userid", "9", "1"},
        {"config", "userid", "0", "G"},
        {"config", "userid", "8192", "1"},  // 0x2000 is written as such, not in decimal
        {"config", "userid", "+1", "1"},
        {"config", "write", "GroupBox3", "FL7=off", "FL7=off"},  // repeated, or contradictory:
        {"config", "set", "CKSEL=0010", "cksel=0000"},           // either is a usage error
        {"config", "mode", "one"},
        {"--lpt", "4", "search"},
        {"--lang", "fr", "search"},
        {"--port"},
        {"--no-erase", "search"},  // a flow option outside auto
        {"--quiet=yes", "search"},
        {"config", "launch"},
        {"config", "mode"},
        {"config", "userid", "0"},
        {"erase", "--write-fuses-from-file"},   // only after writing memories
        {"write-flash", "f.elf", "--dry-run"},  // a dry run of what?
        {"--write-fuses-from-file=yes", "auto"},
        {"auto", "--flash", "f.hex", "--serial", "0:9"},
        {"auto", "--serial", "eeprom:0:2"},  // no project file for the counter
        {"auto", "--flash", "f.hex", "--serial", "0:2", "--serial-step", "0"},
        {"--repeat", "search"},
        {"--json", "read-flash", "-"},
        {"auto", "--flash", "f.elf", "--write-fuses-from-file", "--dry-run", "--repeat"},  // the data and the log lines on one stream
    };
    for (const auto& argv : bad) {
        EXPECT_FALSE(Parse(argv, a, error)) << (argv.empty() ? "(nothing)" : argv[0]);
        EXPECT_FALSE(error.empty());
    }
    ASSERT_TRUE(Parse({"--help"}, a, error));
    EXPECT_TRUE(a.Help);
    // --version needs no command, and takes no value.
    CliArgs v;
    ASSERT_TRUE(Parse({"--version"}, v, error)) << error;
    EXPECT_TRUE(v.Version);
    EXPECT_FALSE(Parse({"--version=1"}, v, error));
    ASSERT_TRUE(Parse({"-h"}, a, error));
    EXPECT_TRUE(a.Help);
    ASSERT_TRUE(Parse({"config", "userid", "0x2003", "0x3FFF"}, a, error)) << error;
    ASSERT_TRUE(Parse({"--no-verify-after", "write-flash", "f.hex"}, a, error)) << error;
    EXPECT_EQ(a.VerifyAfter, false);
    EXPECT_NE(UsageText().find("verify-eeprom FILE"), std::string::npos);
}

TEST(TerminalView, QuietKeepsResultsAndQuestionsFollowTheAnswerGiven) {
    char* outText = nullptr;
    size_t outSize = 0;
    FILE* out = open_memstream(&outText, &outSize);
    FILE* err = std::tmpfile();
    TerminalOptions options;
    options.Quiet = true;
    {
        TerminalView view(options, out, err, nullptr);
        view.Say(Msg("CoreWriteFlashBegin"));
        view.Result("ATmega16");
        // Nobody to ask: the cautious answer.
        EXPECT_FALSE(view.Ask(Verbatim("continue?"), QuestionKind::Routine));
        EXPECT_FALSE(view.Ask(Verbatim("erase?"), QuestionKind::Destructive));
        // "terminate?": stopping is what destroys nothing
        EXPECT_TRUE(view.Ask(Verbatim("terminate?"), QuestionKind::StopsOperation));
        EXPECT_EQ(view.ChooseLanguage(), 1);
    }
    std::fflush(out);
    EXPECT_EQ(std::string(outText, outSize), "ATmega16\n");
    std::fclose(out);
    std::free(outText);
    std::fclose(err);

    options.Answer = true;
    options.Language = 2;
    TerminalView yes(options, stdout, stderr, nullptr);
    EXPECT_TRUE(yes.Ask(Verbatim("continue?"), QuestionKind::Routine));
    options.Answer = false;  // an explicit --no wins even where nobody would be asked
    TerminalView no(options, stdout, stderr, nullptr);
    EXPECT_FALSE(no.Ask(Verbatim("terminate?"), QuestionKind::StopsOperation));
    EXPECT_EQ(yes.ChooseLanguage(), 2);
}

// At a terminal, Enter and the end of the input give the answer that destroys nothing.
TEST(TerminalView, EnterAndEndOfInputGiveTheHarmlessAnswer) {
    const struct {
        const char* Typed;
        bool Stop, Erase;  // the answers to "terminate?" and to "erase?"
    } cases[] = {{"\n", true, false},
                 {"", true, false},
                 {"n\n", false, false},
                 {"y\n", true, true},
                 {"x\n", true, false}};
    for (const auto& c : cases) {
        for (const bool stop : {true, false}) {
            FILE* in = std::tmpfile();
            std::fputs(c.Typed, in);
            std::rewind(in);
            FILE* err = std::tmpfile();
            TerminalOptions options;
            options.AskOnTerminal = true;
            TerminalView view(options, err, err, in);
            const bool answer = view.Ask(
                Verbatim("?"), stop ? QuestionKind::StopsOperation : QuestionKind::Destructive);
            EXPECT_EQ(answer, stop ? c.Stop : c.Erase) << '"' << c.Typed << "\" " << stop;
            std::fclose(in);
            std::fclose(err);
        }
    }
}

// A configuration hazard is answered Yes only by --yes together with the option of its class;
// the option alone, or --yes alone, answers No when nobody can be asked.
TEST(TerminalView, ConfigurationHazardsNeedYesAndTheirOwnOption) {
    CliArgs a;
    std::string error;
    ASSERT_TRUE(Parse({"--yes", "--yes-external-clock", "--yes-lock",
                       "--yes-end-serial-programming", "config", "--dry-run", "set", "CKSEL=0000"},
                      a, error))
        << error;
    EXPECT_TRUE(a.YesEndSerial && a.YesExternalClock && a.YesLock && a.DryRun);
    EXPECT_FALSE(Parse({"erase", "--dry-run"}, a, error));  // a config option only

    struct Case {
        QuestionKind Kind;
        bool TerminalOptions::*Flag;
    };
    const Case cases[] = {
        {QuestionKind::EndsSerialProgramming, &TerminalOptions::YesEndSerial},
        {QuestionKind::ExternalClock, &TerminalOptions::YesExternalClock},
        {QuestionKind::Locks, &TerminalOptions::YesLock},
    };
    FILE* err = std::tmpfile();
    for (const Case& c : cases) {
        for (int yes = 0; yes < 2; ++yes)
            for (int flag = 0; flag < 2; ++flag) {
                TerminalOptions options;
                options.Quiet = true;
                if (yes) options.Answer = true;
                options.*c.Flag = flag != 0;
                TerminalView view(options, stdout, err, nullptr);
                EXPECT_EQ(view.Ask(Verbatim("?"), c.Kind), yes && flag)
                    << static_cast<int>(c.Kind) << " yes " << yes << " flag " << flag;
                // Another class's option does not answer this one.
                if (!yes || !flag) continue;
                for (const Case& other : cases) {
                    if (other.Kind != c.Kind) {
                        EXPECT_FALSE(view.Ask(Verbatim("?"), other.Kind));
                    }
                }
            }
    }
    TerminalOptions options;
    options.Answer = true;
    TerminalView plain(options, stdout, err, nullptr);
    EXPECT_TRUE(plain.Ask(Verbatim("erase?"), QuestionKind::Destructive));
    EXPECT_TRUE(plain.Ask(Verbatim("slower?"), QuestionKind::SlowsChip));
    std::fclose(err);
}

}  // namespace
}  // namespace tondrel::cli
