// The programming operations of the session and its file commands.
#include "core/Programming.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "common/Text.h"
#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "config/ConfigLayouts.h"
#include "core/PicSteps.h"
#include "core/SerialStamp.h"
#include "data/FileLoad.h"
#include "data/FileSave.h"
#include "engines/SerialIsp.h"

namespace tondrel::core {

namespace {

// The message of a memory: Flash and EEPROM each have their own text.
const char* Key(Memory m, const char* flash, const char* eeprom) {
    return m == Memory::Flash ? flash : eeprom;
}

// Configuration-memory words a PIC keeps beside its program: the four IDs and the
// configuration word, word 0x2000 + n.
constexpr int kPicConfigWords[] = {0, 1, 2, 3, 7};

// The user's own choice, never a success and no error sound.
Status Stopped(SessionContext& s) {
    s.Say("CoreStopped");
    return Status::Error("CoreStopped");
}

}  // namespace

std::vector<uint8_t>& Programming::Buf(Memory m) {
    return m == Memory::Flash ? s_.Bufs.FlashBuffer : s_.Bufs.EEPROMBuffer;
}

const std::vector<uint8_t>& Programming::Buf(Memory m) const {
    return m == Memory::Flash ? s_.Bufs.FlashBuffer : s_.Bufs.EEPROMBuffer;
}

// ---- one door for the operations ----

Status Programming::Run(Operation op, Memory m) {
    // The long ones show their progress: the view holds its controls off meanwhile.
    const bool shown = op != Operation::CheckChip && op != Operation::Erase;
    OperationScope scope(s_, shown);
    if (!scope) return OperationScope::Refused();
    switch (op) {
        case Operation::CheckChip:
            return Preamble().GetStatus();
        case Operation::Erase:
            return DoErase(true);  // a lone erase checks the chip itself
        case Operation::Write:
            return DoWrite(m);
        case Operation::Read:
            return DoRead(m);
        case Operation::Verify:
            return DoVerify(m);
        case Operation::AutoProgram:
            return DoAutoProgram();
    }
    return Status::Error("Failed");
}

// ---- the chip check ----

Result<std::string> Programming::Preamble() {
    s_.SetBase();
    if (auto adapter = link_.Detect(); !adapter) return adapter.GetStatus();
    link_.SendModeCommand(kModeMcu);
    return CheckAnswer();
}

Result<std::string> Programming::CheckAnswer(bool lockedMayPass) {
    s_.SetBase();
    s_.ChipFound.reset();
    Status entered;
    std::string first, second;
    for (int slower = 0;; ++slower) {
        {
            ProgrammingMode mode(s_);
            entered = mode.Entered();
            // Twice: on a clock the chip only just follows, a read can come back garbled, and a
            // garbled answer must not pass for a chip.
            first = s_.ReadSignature().ValueOr({});
            second = s_.ReadSignature().ValueOr({});
        }
        // The enable's echo is one command; a speed that carried it can still be a little too
        // fast for the chip (a busy processor made the search's clock phases longer than the
        // ones that follow). Two reads that differ, or a signature no chip has, get a few more
        // chances, a step slower each.
        const int32_t working = s_.Engine().WorkingBitDelay();
        const std::string got(Trim(first));
        const bool garbled = got != Trim(second) || (Answered(got) && !Recognised(got));
        if (!garbled || slower == kSlowerSignatureReads || working < 0) break;
        s_.Engine().SetBitDelay(SerialIsp::NextSlower(working));
    }
    if (auto port = s_.PortStatus(); !port) return port;
    const std::string signature(Trim(first));
    if (signature.empty()) {
        // Nothing to read back: only the enable step can tell that a chip is there, never which
        // one, and some chips do not even echo.
        if (!entered) return s_.Fail(Status::Error("CoreNoChip"));
        SayUnchecked();
        return signature;
    }
    if (!Answered(signature)) {
        // An AT89S51/52 in lock mode 3 or 4 hides its signature but still answers programming
        // enable; picked by name, it may pass so that it can be erased.
        if (lockedMayPass && entered.Ok() && s_.ChosenByName &&
            s_.Chip.CurrentMethodCode == Method::At89s) {
            s_.Say("CoreSignatureLocked", s_.Chip.CurrentChipName);
            return signature;
        }
        return s_.Fail(Status::Error("CoreNoChip"));
    }
    if (Trim(second) != signature)
        return s_.Fail(
            Status::Error("CoreSignatureUnstable", signature, std::string(Trim(second))));
    return CheckIdentity(signature);
}

bool Programming::Answered(const std::string& signature) {
    auto all = [&signature](char c) {
        return std::all_of(signature.begin(), signature.end(), [c](char x) { return x == c; });
    };
    if (IsPic(s_.Chip.CurrentMethodCode) || &s_.Engine() == &s_.EngineFor(Method::Pic) ||
        &s_.Engine() == &s_.EngineFor(Method::PicA))
        // A PIC device ID keeps its five revision bits cleared: a floating line reads 3FE0.
        return !all('0') && signature != "3FE0";
    return !all('0') && !all('F');
}

bool Programming::IsChosen(const std::string& signature) const {
    const std::string& chosen = s_.Chip.Signature;
    return !chosen.empty() && Lower(chosen).find(Lower(signature)) != std::string::npos;
}

bool Programming::Recognised(const std::string& signature) {
    if (s_.Chip.Signature.empty() || IsChosen(signature)) return true;
    const auto found = s_.Db.FindChip(s_.Chip.CurrentMethodCode, signature);
    return found && *found;
}

// The chip in the socket must be the chosen one, or a catalogue twin that answers alike.
Result<std::string> Programming::CheckIdentity(const std::string& signature) {
    const std::string& chosen = s_.Chip.Signature;
    if (IsChosen(signature)) return signature;
    const auto found = s_.Db.FindChip(s_.Chip.CurrentMethodCode, signature);
    if (found && *found) {
        s_.ChipFound = **found;
        return s_.Fail(
            Status::Error("CoreWrongChip", (*found)->Name, signature, s_.Chip.CurrentChipName));
    }
    // A row of the user's own without a signature has nothing to compare with.
    if (chosen.empty()) {
        SayUnchecked();
        return signature;
    }
    return s_.Fail(Status::Error("CoreUnknownSignature", signature, s_.Chip.CurrentChipName));
}

void Programming::SayUnchecked() {
    if (s_.ToldUnchecked) return;
    s_.Say("CoreChipUnchecked");
    s_.ToldUnchecked = true;
}

Result<std::string> Programming::ReadSignature() {
    OperationScope scope(s_, false);
    if (!scope) return OperationScope::Refused();
    return Preamble();
}

// ---- erase ----

// Auto programming checks the chip once before its steps; a lone erase checks here.
Status Programming::DoErase(bool checkChip) {
    s_.Blank();
    s_.Say("CoreEraseBegin");
    if (checkChip) {
        if (auto answer = CheckAnswer(true); !answer) return answer.GetStatus();
    }
    s_.SetBase();
    if (IsPic(s_.Chip.CurrentMethodCode)) {
        if (auto erased = pic::Erase(s_); !erased && !SessionContext::IsPortFailure(erased))
            return erased;
    } else {
        ProgrammingMode mode(s_);
        (void)s_.EraseChip();
    }
    if (auto port = s_.PortStatus(); !port) return port;
    s_.Say("CoreEraseDone");
    return {};
}

// ---- data ends ----

int32_t Programming::LastAddress(Memory m) const {
    const auto& b = Buf(m);
    const auto size = static_cast<int32_t>(b.size());
    auto at = [&b](int32_t i) { return b[static_cast<size_t>(i)]; };
    if (m == Memory::EEPROM) {
        if (s_.Chip.EEPROMSize < 1 || size < 1) return -1;
        if (at(size - 1) != 0xFF) return size - 1;
        for (int32_t i = size - 2; i >= 0; --i)
            if (at(i + 1) == 0xFF && at(i) != 0xFF) return i;
        return -1;
    }
    // The whole buffer counts: a PIC buffer reaches into the configuration area, whose words
    // are written too when they are not blank.
    if (s_.Chip.FlashSize < 1 || size < 1) return -1;
    if (IsPic(s_.Chip.CurrentMethodCode)) {
        if (size < 2 || at(size - 1) != 0x3F || at(size - 2) != 0xFF) return size - 1;
        for (int32_t i = size - 1; i >= 3; --i) {
            if (at(i) == 0x3F && at(i - 1) == 0xFF && !(at(i - 2) == 0x3F && at(i - 3) == 0xFF))
                return i - 2;
        }
        return -1;
    }
    if (at(size - 1) != 0xFF) return size - 1;
    for (int32_t i = size - 2; i >= 0; --i) {
        // An even count of bytes: the word chips take whole words.
        if (at(i + 1) == 0xFF && at(i) != 0xFF) return (i % 2 != 0) ? i : i + 1;
    }
    return -1;
}

std::string Programming::AddressText(int32_t index, Memory m) const {
    const bool byteAddress = m == Memory::EEPROM || !IsWordAddressed(s_.Chip.CurrentMethodCode);
    return HexText(static_cast<uint64_t>(byteAddress ? index : index / 2), 2);
}

void Programming::ReadPicConfigWords(bool onlyWhereBlank) {
    auto& b = s_.Bufs.FlashBuffer;
    for (int n : kPicConfigWords) {
        const auto at = static_cast<size_t>(PicConfigAreaStart + 2 * n);
        if (at + 1 >= b.size()) continue;
        const uint16_t word = s_.ReadPicConfigWord(n).ValueOr(0) & 0x3FFF;
        if (onlyWhereBlank && !(b[at] == 0xFF && b[at + 1] == 0x3F)) continue;
        b[at] = static_cast<uint8_t>(word & 0xFF);
        b[at + 1] = static_cast<uint8_t>(word >> 8);
        s_.Bufs.MarkDefined(Memory::Flash, at, 2);
    }
}

// ---- write ----

Status Programming::DoWrite(Memory m) {
    if (!held_) {
        if (auto answer = Preamble(); !answer) return answer.GetStatus();
    }
    s_.Blank();
    const bool flash = m == Memory::Flash;
    // A PIC keeps its IDs and configuration word unless the buffer brings new ones.
    if (flash && IsPic(s_.Chip.CurrentMethodCode)) ReadPicConfigWords(true);
    const int32_t end = LastAddress(m);
    (flash ? s_.Chip.FlashDataEnd : s_.Chip.EEPROMDataEnd) = end;
    if (end == -1) {
        s_.Say(Key(m, "CoreNoFlashData", "CoreNoEEPROMData"));
        return {};
    }
    const bool pic = IsPic(s_.Chip.CurrentMethodCode);
    // A PIC's EEPROM behind CPD takes nothing: say so rather than time out on byte 0.
    if (!flash && pic && pic::Protected(s_, true))
        return s_.Fail(Status::Error("CorePicDataProtected"));
    s_.Say(Key(m, "CoreWriteFlashBegin", "CoreWriteEEPROMBegin"));
    const auto& buffer = Buf(m);
    // A PIC's configuration words come after the program memory and its verification.
    const int32_t runEnd = flash && pic ? std::min(end, s_.Chip.FlashSize - 1) : end;
    bool stopped = false;
    int32_t retriedFrom = -1;
    {
        ProgrammingMode mode(s_);
        s_.Out.SetProgressMax(end + 1, Msg(Key(m, "PhaseWriteFlash", "PhaseWriteEEPROM")));
        for (int32_t i = 0; i <= runEnd && !stopped; ++i) {
            if (const int32_t skip = Skippable(m, i, runEnd); skip > 0) {
                i += skip - 1;
                s_.Out.SetProgress(i + 1);
                continue;
            }
            const Status written = s_.WriteByte(m, i, buffer[static_cast<size_t>(i)]);
            if (SessionContext::IsPortFailure(written)) break;  // said below
            if (!written) {
                // Not "adjust the speed" when the chip shows why: old data never erased.
                const bool notErased = written.Key() == "EngineNotErased";
                if (!notErased && RetrySlower(m, i, retriedFrom)) continue;
                const char* key =
                    notErased ? Key(m, "CoreWriteFlashNotErased", "CoreWriteEEPROMNotErased")
                    : !flash  ? "CoreWriteEEPROMFail"
                    : IsWordAddressed(s_.Chip.CurrentMethodCode) ? "CoreWriteFlashFailWord"
                                                                 : "CoreWriteFlashFailByte";
                return s_.Fail(Status::Error(key, AddressText(i, m)));
            }
            stopped = s_.BreatheStopped();
            s_.Out.SetProgress(i + 1);
        }
    }
    if (auto port = s_.PortStatus(); !port) return port;
    if (stopped) return Stopped(s_);
    // A page-mode engine polls one byte per page: only reading everything back shows a byte
    // that did not take. Blank Flash bytes may be left alone (an erased cell holds them), but
    // every EEPROM byte is sent, 0xFF too, and an EEPROM kept through the erase shows old data
    // where one did not take: the EEPROM's blanks are compared.
    if (s_.Plan.VerifyAfter) {
        const bool skipBlank = flash && !s_.Miswrite0xff;
        if (auto same = Compare(m, runEnd, skipBlank, true); !same) return same;
    }
    if (flash && pic && end > runEnd && !deferPicConfig_) {
        ProgrammingMode mode(s_);
        if (auto config = pic::WriteConfiguration(s_, end); !config) return config;
    }
    s_.Say(Key(m, "CoreWriteFlashDone", "CoreWriteEEPROMDone"));
    if (flash) chips_.SpeedWrite();
    return {};
}

bool Programming::RetrySlower(Memory m, int32_t& i, int32_t& retriedFrom) {
    // A chip at the edge of the clock it follows misreads a bit now and then, long after
    // programming enable went through: a page or byte gets one more chance a step slower. The
    // chip's page buffer does not outlive programming mode, so a page is loaded again whole.
    const int32_t working = s_.Engine().WorkingBitDelay();
    if (working < 0) return false;  // an engine without a speed of its own
    // An EEPROM written a page at a time goes back to its page start as a Flash page does.
    const int32_t page = m == Memory::Flash ? s_.Chip.CurrentPageSize : s_.Chip.EEPROMPageSize;
    const int32_t from = page > 0 ? i / page * page : i;
    if (from == retriedFrom) return false;
    retriedFrom = from;
    s_.Leave();
    s_.Engine().SetBitDelay(SerialIsp::NextSlower(working));
    if (!s_.Enter()) return false;
    i = from - 1;  // the loop goes on at `from`
    return true;
}

int32_t Programming::Skippable(Memory m, int32_t i, int32_t runEnd) {
    if (!erased_ || IsPic(s_.Chip.CurrentMethodCode)) return 0;
    const bool flash = m == Memory::Flash;
    // Byte-mode Flash is sent whole: the engine itself skips its blank bytes.
    const int32_t page = flash ? s_.Chip.CurrentPageSize : std::max(s_.Chip.EEPROMPageSize, 1);
    if (page <= 0 || i % page != 0) return 0;
    const int32_t count = std::min(page, runEnd - i + 1);
    const auto first = static_cast<size_t>(i);
    const auto n = static_cast<size_t>(count);
    if (flash) return s_.Bufs.AnyDefined(m, first, n) ? 0 : count;
    const auto& buffer = Buf(m);
    if (!std::all_of(buffer.begin() + i, buffer.begin() + i + count,
                     [](uint8_t b) { return b == 0xFF; }))
        return 0;
    // A chip erase leaves the EEPROM alone when the chip is told to keep it (EESAVE): a blank
    // byte is skipped only once it reads blank.
    for (int32_t k = i; k < i + count; ++k)
        if (s_.ReadByte(m, k).ValueOr(0) != 0xFF) return 0;
    return count;
}

// ---- read ----

Status Programming::DoRead(Memory m) {
    if (auto answer = Preamble(); !answer) return answer.GetStatus();
    s_.Blank();
    s_.Say(Key(m, "CoreReadFlashBegin", "CoreReadEEPROMBegin"));
    const bool flash = m == Memory::Flash;
    // The buffer always covers the chip, so a read never stores past its end.
    const int32_t size = std::max<int32_t>(flash ? s_.Chip.FlashSize : s_.Chip.EEPROMSize, 0);
    auto& buffer = Buf(m);
    if (static_cast<int32_t>(buffer.size()) < size) {
        if (flash)
            s_.Bufs.BlankFillFlash();
        else
            s_.Bufs.BlankFillEEPROM();
    }
    // What the chip holds counts whole: written back, every byte goes.
    s_.Bufs.DefineAll(m);
    bool stopped = false;
    {
        ProgrammingMode mode(s_);
        s_.Out.SetProgressMax(size, Msg(Key(m, "PhaseReadFlash", "PhaseReadEEPROM")));
        for (int32_t i = 0; i < size && !stopped; ++i) {
            const auto byte = s_.ReadByte(m, i);
            if (SessionContext::IsPortFailure(byte.GetStatus())) break;  // said below
            buffer[static_cast<size_t>(i)] = byte.ValueOr(0);
            stopped = s_.BreatheStopped();
            s_.Out.SetProgress(i + 1);
        }
    }
    // So that saving what was read keeps the chip's IDs and configuration word.
    if (flash && size > 0 && IsPic(s_.Chip.CurrentMethodCode)) ReadPicConfigWords(false);
    if (auto port = s_.PortStatus(); !port) return port;
    if (stopped) {
        // What was read so far is in the buffer: show it.
        s_.Out.ShowBuffer(m, true);
        return Stopped(s_);
    }
    s_.Say(Key(m, "CoreReadFlashDone", "CoreReadEEPROMDone"));
    s_.Out.ShowBuffer(m, true);
    return {};
}

// ---- verify ----

Status Programming::DoVerify(Memory m) {
    if (auto answer = Preamble(); !answer) return answer.GetStatus();
    s_.Blank();
    // A protected PIC reads zeros: that is its protection, not a difference at 0x0000.
    if (IsPic(s_.Chip.CurrentMethodCode) && pic::Protected(s_, m == Memory::EEPROM))
        return s_.Fail(
            Status::Error(m == Memory::Flash ? "CorePicCodeProtected" : "CorePicDataProtected"));
    const int32_t end = LastAddress(m);
    if (end == -1) {
        // Nothing compared proves nothing: an empty or blank file is no verified chip.
        s_.Say(Key(m, "CoreVerifyFlashBegin", "CoreVerifyEEPROMBegin"));
        return s_.Fail(Status::Error("CoreNothingToCompare"));
    }
    return Compare(m, end);
}

Status Programming::Compare(Memory m, int32_t end, bool skipBlank, bool afterWrite) {
    s_.Say(Key(m, "CoreVerifyFlashBegin", "CoreVerifyEEPROMBegin"));
    const bool flash = m == Memory::Flash;
    const auto& buffer = Buf(m);
    const bool pic = flash && IsPic(s_.Chip.CurrentMethodCode);
    const bool words = flash && IsWordAddressed(s_.Chip.CurrentMethodCode);
    // A PIC reads its program memory only in sequence; the configuration words come apart.
    // The blank check of what the file left out reaches the end of the memory.
    const bool checkRest = afterWrite && s_.Plan.CheckRestBlank;
    const int32_t memoryEnd = std::min<int32_t>(static_cast<int32_t>(buffer.size()),
                                                flash ? s_.Chip.FlashSize : s_.Chip.EEPROMSize) -
                              1;
    const int32_t sequentialEnd = pic         ? std::min(end, s_.Chip.FlashSize - 1)
                                  : checkRest ? std::max(end, memoryEnd)
                                              : end;

    // Differences are counted and shown in the memory's own unit: bytes, or the words a word-
    // addressed Flash is addressed by, each shown whole.
    constexpr int kShown = 8;
    int differences = 0;
    // After a write that left blank bytes alone, the chip holds whatever it held there.
    auto blank = [&](int32_t i) {
        if (!pic) return buffer[static_cast<size_t>(i)] == 0xFF;
        const auto w = static_cast<size_t>(i & ~1);
        return buffer[w] == 0xFF && (buffer[w + 1] & 0x3F) == 0x3F;
    };
    // After a write, only the bytes the file defined count (a word counts whole), unless the
    // rest is to read blank too; a byte the file left out holds its blank in the buffer.
    auto counts = [&](int32_t i) {
        const auto a = static_cast<size_t>(i);
        return !afterWrite || s_.Bufs.Defined(m, a) || (words && s_.Bufs.Defined(m, a ^ 1u));
    };
    auto differs = [&](int32_t i, uint8_t got) {
        const bool defined = counts(i);
        if (!defined && !checkRest) return false;
        if (defined && skipBlank && blank(i)) return false;
        // A PIC word has 14 bits, and its configuration word fewer: the others are not stored.
        const uint8_t mask = pic ? pic::ConfigByteMask(s_, i) : 0xFF;
        return (got & mask) != (buffer[static_cast<size_t>(i)] & mask);
    };
    auto report = [&](int32_t i, unsigned got, unsigned want, int digits) {
        if (++differences > kShown) return;
        s_.Say("CoreVerifyDiffers", AddressText(i, m), HexText(got, digits), HexText(want, digits));
    };
    uint8_t low = 0;  // the low byte of the word being read
    auto compare = [&](int32_t i, uint8_t got) {
        if (!words) {
            if (differs(i, got)) report(i, got, buffer[static_cast<size_t>(i)], 2);
            return;
        }
        if (i % 2 == 0) {
            low = got;
            return;
        }
        if (!differs(i - 1, low) && !differs(i, got)) return;
        const unsigned mask =
            pic ? pic::ConfigByteMask(s_, i - 1) | pic::ConfigByteMask(s_, i) << 8 : 0xFFFF;
        const auto want = static_cast<unsigned>(buffer[static_cast<size_t>(i - 1)] |
                                                buffer[static_cast<size_t>(i)] << 8);
        report(i, (low | got << 8) & mask, want & mask, 4);
    };

    bool stopped = false;
    {
        ProgrammingMode mode(s_);
        s_.Out.SetProgressMax(std::max(end, sequentialEnd) + 1,
                              Msg(Key(m, "PhaseVerifyFlash", "PhaseVerifyEEPROM")));
        for (int32_t i = 0; i <= sequentialEnd && !stopped; ++i) {
            // What is not compared need not be read, where reads need not run in sequence.
            if (!pic && !checkRest && !counts(i)) continue;
            const auto byte = s_.ReadByte(m, i);
            if (SessionContext::IsPortFailure(byte.GetStatus())) break;  // said below
            compare(i, byte.ValueOr(0));
            stopped = s_.BreatheStopped();
            s_.Out.SetProgress(i + 1);
        }
    }
    if (stopped) {
        if (auto port = s_.PortStatus(); !port) return port;
        return Stopped(s_);
    }
    if (pic && end >= PicConfigAreaStart) {
        for (int n : kPicConfigWords) {
            const int32_t at = PicConfigAreaStart + 2 * n;
            if (at + 1 > end) continue;
            const uint16_t word = s_.ReadPicConfigWord(n).ValueOr(0) & 0x3FFF;
            compare(at, static_cast<uint8_t>(word & 0xFF));
            compare(at + 1, static_cast<uint8_t>(word >> 8));
        }
        s_.Out.SetProgress(end + 1);
    }
    if (differences > kShown) s_.Say("CoreVerifyMore", differences - kShown);
    if (auto port = s_.PortStatus(); !port) return port;
    if (differences == 0) {
        s_.Say(Key(m, "CoreVerifyFlashOk", "CoreVerifyEEPROMOk"));
        return {};
    }
    return s_.Fail(Status::Error(Key(m, "CoreVerifyFlashFail", "CoreVerifyEEPROMFail")));
}

// ---- auto programming ----

Status Programming::DoAutoProgram() {
    s_.Blank();
    s_.SetBase();
    if (auto adapter = link_.Detect(); !adapter) return adapter.GetStatus();
    link_.SendModeCommand(kModeMcu);
    // One programming session from the chip check to the last verify: each enter costs a reset
    // and the chip's start-up waits. A PIC's steps bring their own sessions (a bulk erase and
    // its configuration words need VPP cycled).
    std::optional<ProgrammingMode> session;
    if (!IsPic(s_.Chip.CurrentMethodCode)) session.emplace(s_);
    struct Held {
        bool& Flag;
        bool& Erased;
        ~Held() { Flag = Erased = false; }
    } held{held_, erased_};
    {
        ProgrammingMode mode(s_);
        if (!mode.Entered()) {
            s_.Say("CoreChipInitFail");
            return Status::Error("CoreChipInitFail");
        }
    }
    if (auto answer = CheckAnswer(); !answer) return answer.GetStatus();
    held_ = session.has_value();

    // Nothing is erased unless the data to write is there: a file that no longer loads, or
    // loads empty, stops the flow here.
    auto stop = [this](const char* key) { return s_.Fail(Status::Error(key)); };
    const AutoPlan& plan = s_.Plan;
    for (Memory m : {Memory::Flash, Memory::EEPROM}) {
        const bool flash = m == Memory::Flash;
        if (!(flash ? plan.UpdateFlashFile : plan.UpdateEEPROMFile)) continue;
        const std::string& file = flash ? s_.FlashFileName : s_.EEPROMFileName;
        if (!file.empty()) {
            const Status loaded = Load(m, file);
            if (!loaded) {
                s_.Out.ShowBuffer(m, false);
                return stop("CoreAutoStoppedLoad");
            }
            if (flash && s_.Bufs.FlashFileHadEEPROM) s_.Out.ShowBuffer(Memory::EEPROM, false);
            s_.Out.ShowBuffer(m, false);
        } else if (s_.Out.Ask(Msg(Key(m, "CoreAskNoFlashFile", "CoreAskNoEEPROMFile")),
                              QuestionKind::StopsOperation)) {
            // The user's own choice: no error sound.
            const char* key = Key(m, "CoreAutoStoppedFlash", "CoreAutoStoppedEEPROM");
            s_.Say(key);
            return Status::Error(key);
        }
    }
    // Every file the plan writes from is looked at before the erase, the EEPROM's as well.
    if (plan.WriteFlash && s_.Chip.FlashSize >= 1 && !s_.FlashFileName.empty() &&
        LastAddress(Memory::Flash) == -1)
        return stop("CoreAutoEmptyFlash");
    if (plan.WriteEEPROM && s_.Chip.EEPROMSize >= 1 && !s_.EEPROMFileName.empty() &&
        LastAddress(Memory::EEPROM) == -1)
        return stop("CoreAutoEmptyEEPROM");
    // The file's fuses are the last step, but a file for another chip is refused before the
    // erase: otherwise that chip would end up with a program that was never meant for it.
    if (plan.WriteFileFuses) {
        if (auto fits = CheckFileConfiguration(); !fits) return fits;
    }
    SerialStampScope serial(s_);
    if (auto stamped = serial.Apply(); !stamped) return stamped;
    if (plan.EraseAll) {
        if (auto erased = DoErase(false); !erased) return erased;
        if (s_.StopWanted()) return Stopped(s_);  // came during the erase
        erased_ = held_;
    }
    if (plan.WriteFlash && s_.Chip.FlashSize >= 1) {
        deferPicConfig_ = true;
        const Status written = DoWrite(Memory::Flash);
        deferPicConfig_ = false;
        if (!written) return written;
    }
    const bool pic = IsPic(s_.Chip.CurrentMethodCode);
    if (plan.WriteEEPROM && s_.Chip.EEPROMSize >= 1) {
        if (auto written = DoWrite(Memory::EEPROM); !written) return written;
    }
    if (pic && plan.WriteFlash && s_.Chip.FlashSize >= 1) {
        const int32_t end = LastAddress(Memory::Flash);
        if (end >= s_.Chip.FlashSize) {
            ProgrammingMode mode(s_);
            if (auto config = pic::WriteConfiguration(s_, end); !config) return config;
        }
    }
    // The last step, only when asked for: the file's own fuses and lock bits. A file without
    // them is said, not failed: the memories it asked for are written.
    if (plan.WriteFileFuses && s_.FileConfig) {
        if (auto written = DoWriteFileConfiguration(s_.Out, false); !written) return written;
    } else if (plan.WriteFileFuses) {
        s_.Say("CoreNoFileConfig");
    }
    s_.Say("CoreAutoDone");
    s_.Sound(SoundName::Done);
    return {};
}

// ---- files ----

Status Programming::Load(Memory m, const std::string& path) {
    const bool flash = m == Memory::Flash;
    s_.Blank();
    s_.Say(Key(m, "OpenFlashFile", "OpenEEPROMFile"));
    const auto loaded = tondrel::LoadFile(s_.Bufs, m, path);
    if (!loaded) {
        s_.Say(loaded.Error());
        if (const auto line = FailedLine(loaded.Error()))
            s_.Say("FileErrorAt", EscapeControls(path), *line);
        return loaded.GetStatus();
    }
    // The new readers, and a name the content overruled, are said: the user should know.
    if (loaded->KindByContent || loaded->Kind == FileKind::Elf || loaded->Kind == FileKind::SRecord)
        s_.Say("FileReadAs", FileKindName(loaded->Kind));
    s_.Say("FilePosition", EscapeControls(path));
    s_.Say("FileSize", loaded->Size);
    if (loaded->EEPROMFromFlash) s_.Say("EEPROMFromFlashFile", *loaded->EEPROMFromFlash);
    if (loaded->Config) {
        // The same file for the other memory shows them once.
        if (s_.FileConfig != loaded->Config) SayFileConfig(*loaded->Config);
        s_.FileConfig = loaded->Config;
    } else if (flash) {
        s_.FileConfig.reset();  // the program that came with them is gone
    }
    s_.Say("FileOpenTime", loaded->OpenTime);
    s_.Say(flash ? "FlashFileOpened" : "EEPROMFileOpened");
    return {};
}

namespace {
config::FileConfig ConfigOf(const FileConfigBytes& bytes) {
    return {bytes.Fuses, bytes.Lock, bytes.Device};
}
}  // namespace

void Programming::SayFileConfig(const FileConfigBytes& bytes) {
    const config::FileConfig file = ConfigOf(bytes);
    for (const Message& m : config::DescribeFileConfig(s_.Chip.CurrentChipName, file)) s_.Say(m);
    if (auto fits = config::FileConfigSettings(s_.Chip.CurrentChipName, file); !fits)
        s_.Say(fits.Error());
    else
        s_.Say("FileConfigAsked");
}

Result<std::unique_ptr<config::ConfigForm>> Programming::OpenForm(Prompts& prompts) {
    const config::LayoutDesc* layout = config::FindLayout(s_.Chip.CurrentChipName);
    if (!layout) return Status::Error("CoreNoConfiguration", s_.Chip.CurrentChipName);
    auto form = std::make_unique<config::ConfigForm>(*layout, s_.Engine(), s_.PortBase, prompts,
                                                     s_.Chip.CurrentChipName);
    form->Open();
    return form;
}

Status Programming::WriteFileConfiguration(Prompts& prompts, bool dryRun) {
    if (!s_.FileConfig) return s_.Fail(Status::Error("CoreNoFileConfig"));
    if (auto answered = Run(Operation::CheckChip); !answered) return answered;
    return DoWriteFileConfiguration(prompts, dryRun);
}

Status Programming::CheckFileConfiguration() {
    if (!s_.FileConfig) return {};
    const auto settings =
        config::FileConfigSettings(s_.Chip.CurrentChipName, ConfigOf(*s_.FileConfig));
    return settings ? Status() : s_.Fail(settings.GetStatus());
}

Status Programming::DoWriteFileConfiguration(Prompts& prompts, bool dryRun) {
    if (!s_.FileConfig) return s_.Fail(Status::Error("CoreNoFileConfig"));
    s_.Say("CoreWriteFileConfig", EscapeControls(s_.FileConfig->Path));
    // Refused before the form opens: nothing of another chip's configuration is sent.
    const auto settings =
        config::FileConfigSettings(s_.Chip.CurrentChipName, ConfigOf(*s_.FileConfig));
    if (!settings) return s_.Fail(settings.GetStatus());
    auto form = OpenForm(prompts);
    if (!form) return s_.Fail(form.GetStatus());
    (*form)->SetDryRun(dryRun);
    Status written = config::SetFields(**form, *settings);
    if (written) written = s_.TakePortFailure();
    if (!written) return s_.Fail(written);
    return {};
}

Status Programming::LoadFile(Memory m, const std::string& path) {
    OperationScope scope(s_, false);
    if (!scope) return OperationScope::Refused();
    if (auto loaded = Load(m, path); !loaded) {
        s_.Sound(SoundName::Error);
        return loaded;
    }
    (m == Memory::Flash ? s_.FlashFileName : s_.EEPROMFileName) = path;
    s_.Publish();
    if (m == Memory::Flash && s_.Bufs.FlashFileHadEEPROM) s_.Out.ShowBuffer(Memory::EEPROM, false);
    s_.Out.ShowBuffer(m, true);
    return {};
}

bool Programming::RefusesDatabase(const std::string& path) {
    struct stat target {
    }, database{};
    if (path == "-" || ::stat(SaveTarget(path).c_str(), &target) != 0 ||
        ::stat(s_.Db.Path().c_str(), &database) != 0)
        return false;
    return target.st_dev == database.st_dev && target.st_ino == database.st_ino;
}

Status Programming::SaveFile(Memory m, const std::string& path) {
    if (RefusesDatabase(path)) {
        s_.Blank();
        return s_.Fail(Status::Error("CoreSaveOverDatabase", EscapeControls(path)));
    }
    // The names a load reads by extension, so that a saved file loads again as it was.
    const FileKind kind = FileKindOf(path, m);
    if (kind == FileKind::Elf || kind == FileKind::SRecord) {
        s_.Blank();
        return s_.Fail(Status::Error("CoreSaveKindUnsupported", FileKindName(kind)));
    }
    const bool flash = m == Memory::Flash;
    const auto& buffer = Buf(m);
    Status saved;
    if (kind == FileKind::IntelHex)
        saved = SaveIntelHex(buffer, flash ? FlashBlankOf(s_.Bufs) : EEPROMBlank(), path);
    else if (kind == FileKind::Binary)
        saved = SaveBinary(buffer, path);
    else
        saved = SaveIdf(buffer, path);
    s_.Blank();
    s_.Say(saved ? Msg("SavedFileTo", EscapeControls(path)) : saved.Error());
    return saved;
}

std::string Programming::EditBuffer(Memory m, GridMode mode, int32_t position,
                                    std::string_view text) {
    // An edited byte counts as the file's own, a blank one included.
    const bool word = mode == GridMode::Word;
    s_.Bufs.MarkDefined(m, static_cast<size_t>(word ? 2 * position : position), word ? 2 : 1);
    return ApplyEdit(Buf(m), mode, position, text);
}

}  // namespace tondrel::core
