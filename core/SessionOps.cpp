// The programming operations of the session and its file commands.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/Text.h"
#include "core/Session.h"
#include "core/SessionScope.h"
#include "data/FileLoad.h"
#include "data/FileSave.h"

namespace tondrel::core {

namespace {

std::string Hex2(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%02llX", static_cast<unsigned long long>(value));
    return text;
}

std::string LowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(path.substr(dot));
}

// Configuration-memory words a PIC keeps beside its program: the four IDs and the
// configuration word, as RawCommand numbers them (word 0x2000 + n).
constexpr int kPicConfigWords[] = {0, 1, 2, 3, 7};

}  // namespace

bool Session::Preamble(std::string* signature) {
    SetBase();
    if (!DetectHardware()) return false;
    SendModeCommand(1);
    return DoCheckChip(signature);
}

bool Session::PortFailed() {
    const Status error = Ports.TakeError();
    if (error.Ok()) return false;
    Line("");
    Line(TrFormat("CorePortFailed", CurrentLanguage(), error.Text(CurrentLanguage())));
    Sound("err");
    return true;
}

bool Session::CheckChip() {
    Scope scope(*this, false);
    if (!scope) return false;
    return Preamble();
}

bool Session::ReadSignature(std::string& signature) {
    Scope scope(*this, false);
    if (!scope) return false;
    return Preamble(&signature);
}

bool Session::DoCheckChip(std::string* out) {
    SetBase();
    const bool entered = current_->EnterProgramming();
    std::string read;
    current_->ReadSignature(read);
    current_->LeaveProgramming();
    if (PortFailed()) return false;
    const std::string signature(Trim(read));
    auto all = [&signature](char c) {
        return std::all_of(signature.begin(), signature.end(), [c](char x) { return x == c; });
    };
    bool answered = false;
    if (signature.empty()) {
        // Nothing to read back: only the enable step can tell, and some chips do not echo.
        answered = entered;
        if (answered && !toldUnchecked_) {
            Say("CoreChipUnchecked");
            toldUnchecked_ = true;
        }
    } else if (IsPic(Chip.CurrentMethodCode) || current_ == EngineFor(Method::Pic) ||
               current_ == EngineFor(Method::PicA)) {
        // A PIC device ID keeps its five revision bits cleared: a floating line reads 3FE0.
        answered = !all('0') && signature != "3FE0";
    } else {
        answered = !all('0') && !all('F');
    }
    if (!answered) {
        Line("");
        Say("CoreNoChip");
        Sound("err");
        return false;
    }
    if (out) *out = signature;
    return true;
}

bool Session::EraseTarget() {
    Scope scope(*this, false);
    if (!scope) return false;
    return DoEraseTarget(true);
}

// Auto programming checks the chip once before its steps; a lone erase checks here.
bool Session::DoEraseTarget(bool checkChip) {
    Line("");
    Say("CoreEraseBegin");
    if (checkChip && !DoCheckChip(nullptr)) return false;
    SetBase();
    current_->EnterProgramming();
    current_->EraseChip();
    current_->LeaveProgramming();
    if (PortFailed()) return false;
    Say("CoreEraseDone");
    return true;
}

int32_t Session::LastFlashAddress() const {
    // The whole buffer counts: a PIC buffer reaches into the configuration area, whose words
    // are written too when they are not blank.
    if (Chip.FlashSize < 1) return -1;
    const auto& b = Bufs.FlashBuffer;
    const auto s = static_cast<int32_t>(b.size());
    if (s < 1) return -1;
    auto at = [&b](int32_t i) { return b[static_cast<size_t>(i)]; };
    if (IsPic(Chip.CurrentMethodCode)) {
        if (s < 2 || at(s - 1) != 0x3F || at(s - 2) != 0xFF) return s - 1;
        for (int32_t i = s - 1; i >= 3; --i) {
            if (at(i) == 0x3F && at(i - 1) == 0xFF && !(at(i - 2) == 0x3F && at(i - 3) == 0xFF))
                return i - 2;
        }
        return -1;
    }
    if (at(s - 1) != 0xFF) return s - 1;
    for (int32_t i = s - 2; i >= 0; --i) {
        // An even count of bytes: the word chips take whole words.
        if (at(i + 1) == 0xFF && at(i) != 0xFF) return (i % 2 != 0) ? i : i + 1;
    }
    return -1;
}

int32_t Session::LastEEPROMAddress() const {
    if (Chip.EEPROMSize < 1) return -1;
    const auto& b = Bufs.EEPROMBuffer;
    const auto e = static_cast<int32_t>(b.size());
    if (e < 1) return -1;
    if (b[static_cast<size_t>(e - 1)] != 0xFF) return e - 1;
    for (int32_t i = e - 2; i >= 0; --i) {
        if (b[static_cast<size_t>(i + 1)] == 0xFF && b[static_cast<size_t>(i)] != 0xFF) return i;
    }
    return -1;
}

std::string Session::AddressText(int32_t index, bool flash) const {
    const bool byteAddress = !flash || !IsWordAddressed(Chip.CurrentMethodCode);
    return Hex2(byteAddress ? index : index / 2);
}

void Session::ReadPicConfigWords(bool onlyWhereBlank) {
    auto& b = Bufs.FlashBuffer;
    for (int n : kPicConfigWords) {
        const auto at = static_cast<size_t>(PicConfigAreaStart + 2 * n);
        if (at + 1 >= b.size()) continue;
        const uint16_t word = current_->RawCommand(static_cast<uint8_t>(n), 0, 0, 0) & 0x3FFF;
        if (onlyWhereBlank && !(b[at] == 0xFF && b[at + 1] == 0x3F)) continue;
        b[at] = static_cast<uint8_t>(word & 0xFF);
        b[at + 1] = static_cast<uint8_t>(word >> 8);
    }
}

bool Session::WriteFlash() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoWriteFlash();
}

bool Session::DoWriteFlash() {
    if (!Preamble()) return false;
    Line("");
    // A PIC keeps its IDs and configuration word unless the buffer brings new ones.
    if (IsPic(Chip.CurrentMethodCode)) ReadPicConfigWords(true);
    Chip.FlashDataEnd = LastFlashAddress();
    if (Chip.FlashDataEnd == -1) {
        Say("CoreNoFlashData");
        current_->LeaveProgramming();
        return true;
    }
    Say("CoreWriteFlashBegin");
    current_->EnterProgramming();
    view_.SetProgressMax(Chip.FlashDataEnd);
    for (int32_t i = 0; i <= Chip.FlashDataEnd; ++i) {
        if (!current_->WriteFlashByte(i, Bufs.FlashBuffer[static_cast<size_t>(i)])) {
            const bool byteForm = !IsWordAddressed(Chip.CurrentMethodCode);
            Line(TrFormat(byteForm ? "CoreWriteFlashFailByte" : "CoreWriteFlashFailWord",
                          CurrentLanguage(), AddressText(i, true)));
            Sound("err");
            return false;
        }
        view_.Breathe();
        view_.SetProgress(i + 1);
    }
    current_->LeaveProgramming();
    if (PortFailed()) return false;
    // A page-mode engine polls one byte per page: only reading everything back shows a byte
    // that did not take.
    if (isVerifyAfter && !CompareWithChip(true, Chip.FlashDataEnd, !Miswrite0xff)) return false;
    Say("CoreWriteFlashDone");
    SpeedWrite();
    current_->LeaveProgramming();
    return true;
}

bool Session::WriteEEPROM() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoWriteEEPROM();
}

bool Session::DoWriteEEPROM() {
    if (!Preamble()) return false;
    Line("");
    Chip.EEPROMDataEnd = LastEEPROMAddress();
    if (Chip.EEPROMDataEnd == -1) {
        Say("CoreNoEEPROMData");
        current_->LeaveProgramming();
        return true;
    }
    Say("CoreWriteEEPROMBegin");
    current_->EnterProgramming();
    view_.SetProgressMax(Chip.EEPROMDataEnd);
    for (int32_t i = 0; i <= Chip.EEPROMDataEnd; ++i) {
        if (!current_->WriteEepromByte(i, Bufs.EEPROMBuffer[static_cast<size_t>(i)])) {
            Line(TrFormat("CoreWriteEEPROMFail", CurrentLanguage(), AddressText(i, false)));
            Sound("err");
            return false;
        }
        view_.Breathe();
        view_.SetProgress(i + 1);
    }
    current_->LeaveProgramming();
    if (PortFailed()) return false;
    if (isVerifyAfter && !CompareWithChip(false, Chip.EEPROMDataEnd, !Miswrite0xff)) return false;
    Say("CoreWriteEEPROMDone");
    current_->LeaveProgramming();
    return true;
}

bool Session::ReadFlash() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoReadFlash();
}

bool Session::DoReadFlash() {
    if (!Preamble()) return false;
    Line("");
    Say("CoreReadFlashBegin");
    // The buffer always covers the chip, so a read never stores past its end.
    const int32_t size = std::max<int32_t>(Chip.FlashSize, 0);
    if (static_cast<int32_t>(Bufs.FlashBuffer.size()) < size) Bufs.BlankFillFlash();
    current_->EnterProgramming();
    view_.SetProgressMax(size);
    for (int32_t i = 0; i < size; ++i) {
        Bufs.FlashBuffer[static_cast<size_t>(i)] = current_->ReadFlashByte(i);
        view_.Breathe();
        view_.SetProgress(i + 1);
    }
    current_->LeaveProgramming();
    // So that saving what was read keeps the chip's IDs and configuration word.
    if (size > 0 && IsPic(Chip.CurrentMethodCode)) ReadPicConfigWords(false);
    if (PortFailed()) return false;
    Say("CoreReadFlashDone");
    view_.ShowFlashBuffer();
    view_.ShowTab("sheetFlash");
    return true;
}

bool Session::ReadEEPROM() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoReadEEPROM();
}

bool Session::DoReadEEPROM() {
    if (!Preamble()) return false;
    Line("");
    Say("CoreReadEEPROMBegin");
    const int32_t size = std::max<int32_t>(Chip.EEPROMSize, 0);
    if (static_cast<int32_t>(Bufs.EEPROMBuffer.size()) < size) Bufs.BlankFillEEPROM();
    current_->EnterProgramming();
    view_.SetProgressMax(size);
    for (int32_t i = 0; i < size; ++i) {
        Bufs.EEPROMBuffer[static_cast<size_t>(i)] = current_->ReadEepromByte(i);
        view_.Breathe();
        view_.SetProgress(i + 1);
    }
    current_->LeaveProgramming();
    if (PortFailed()) return false;
    Say("CoreReadEEPROMDone");
    view_.ShowEEPROMBuffer();
    view_.ShowTab("sheetEEPROM");
    return true;
}

bool Session::AutoProgram() {
    Scope scope(*this, true);
    if (!scope) return false;
    Line("");
    SetBase();
    if (!DetectHardware()) return false;
    SendModeCommand(1);
    if (!current_->EnterProgramming()) {
        Say("CoreChipInitFail");
        current_->LeaveProgramming();
        return false;
    }
    current_->LeaveProgramming();
    if (!DoCheckChip(nullptr)) return false;

    // Nothing is erased unless the data to write is there: a file that no longer loads, or
    // loads empty, stops the flow here.
    auto stop = [this](std::string_view key) {
        Say(key);
        Sound("err");
        return false;
    };
    auto sink = [this](const std::string& line) { Line(line); };
    if (isUpdateFlashFile) {
        if (!FlashFileName.empty()) {
            if (!tondrel::LoadFlashFile(Bufs, FlashFileName, CurrentLanguage(), sink)) {
                view_.ShowFlashBuffer();
                return stop("CoreAutoStoppedLoad");
            }
            view_.ShowFlashBuffer();
            if (Bufs.FlashFileHadEEPROM) view_.ShowEEPROMBuffer();
        } else if (view_.Ask(T("CoreAskNoFlashFile"), QuestionKind::StopsOperation)) {
            Say("CoreAutoStoppedFlash");  // the user's own choice: no error sound
            return false;
        }
    }
    if (isUpdateEEPROMfile) {
        if (!EEPROMFileName.empty()) {
            if (!tondrel::LoadEEPROMFile(Bufs, EEPROMFileName, CurrentLanguage(), sink)) {
                view_.ShowEEPROMBuffer();
                return stop("CoreAutoStoppedLoad");
            }
            view_.ShowEEPROMBuffer();
        } else if (view_.Ask(T("CoreAskNoEEPROMFile"), QuestionKind::StopsOperation)) {
            Say("CoreAutoStoppedEEPROM");
            return false;
        }
    }
    if (isWriteFlash && Chip.FlashSize >= 1 && !FlashFileName.empty() && LastFlashAddress() == -1)
        return stop("CoreAutoEmptyFlash");
    if (isEraseAll && !DoEraseTarget(false)) return false;
    if (isWriteFlash && Chip.FlashSize >= 1 && !DoWriteFlash()) return false;
    if (isWriteEEPROM && Chip.EEPROMSize >= 1 && !DoWriteEEPROM()) return false;
    Say("CoreAutoDone");
    Sound("ok");
    current_->LeaveProgramming();
    return true;
}

bool Session::VerifyFlash() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoVerify(true);
}

bool Session::VerifyEEPROM() {
    Scope scope(*this, true);
    if (!scope) return false;
    return DoVerify(false);
}

bool Session::DoVerify(bool flash) {
    if (!Preamble()) return false;
    Line("");
    const int32_t end = flash ? LastFlashAddress() : LastEEPROMAddress();
    if (end == -1) {
        Say(flash ? "CoreVerifyFlashBegin" : "CoreVerifyEEPROMBegin");
        Say(flash ? "CoreNoFlashData" : "CoreNoEEPROMData");
        return true;
    }
    return CompareWithChip(flash, end);
}

bool Session::CompareWithChip(bool flash, int32_t end, bool skipBlank) {
    Say(flash ? "CoreVerifyFlashBegin" : "CoreVerifyEEPROMBegin");
    const auto& buffer = flash ? Bufs.FlashBuffer : Bufs.EEPROMBuffer;
    const bool pic = flash && IsPic(Chip.CurrentMethodCode);
    const bool words = flash && IsWordAddressed(Chip.CurrentMethodCode);
    // A PIC reads its program memory only in sequence; the configuration words come apart.
    const int32_t sequentialEnd = pic ? std::min(end, Chip.FlashSize - 1) : end;

    constexpr int kShown = 8;
    int differences = 0;
    std::string lastShown;
    // After a write that left blank bytes alone, the chip holds whatever it held there.
    auto blank = [&](int32_t i) {
        if (!pic) return buffer[static_cast<size_t>(i)] == 0xFF;
        const auto w = static_cast<size_t>(i & ~1);
        return buffer[w] == 0xFF && (buffer[w + 1] & 0x3F) == 0x3F;
    };
    auto compare = [&](int32_t i, uint8_t got) {
        if (skipBlank && blank(i)) return;
        uint8_t want = buffer[static_cast<size_t>(i)];
        // A PIC word has 14 bits: the high byte's top two bits are not stored by the chip.
        if (pic && (i % 2) == 1) {
            want &= 0x3F;
            got &= 0x3F;
        }
        if (got == want) return;
        ++differences;
        const std::string address = AddressText(i, flash);
        if (differences > kShown || (words && address == lastShown)) return;
        lastShown = address;
        Line(TrFormat("CoreVerifyDiffers", CurrentLanguage(), address, Hex2(got), Hex2(want)));
    };

    current_->EnterProgramming();
    view_.SetProgressMax(end);
    for (int32_t i = 0; i <= sequentialEnd; ++i) {
        compare(i, flash ? current_->ReadFlashByte(i) : current_->ReadEepromByte(i));
        view_.Breathe();
        view_.SetProgress(i + 1);
    }
    current_->LeaveProgramming();
    if (pic && end >= PicConfigAreaStart) {
        for (int n : kPicConfigWords) {
            const int32_t at = PicConfigAreaStart + 2 * n;
            if (at + 1 > end) continue;
            const uint16_t word = current_->RawCommand(static_cast<uint8_t>(n), 0, 0, 0) & 0x3FFF;
            compare(at, static_cast<uint8_t>(word & 0xFF));
            compare(at + 1, static_cast<uint8_t>(word >> 8));
        }
        view_.SetProgress(end);
    }
    if (differences > kShown)
        Line(TrFormat("CoreVerifyMore", CurrentLanguage(), differences - kShown));
    if (PortFailed()) return false;
    if (differences == 0) {
        Say(flash ? "CoreVerifyFlashOk" : "CoreVerifyEEPROMOk");
        return true;
    }
    Say(flash ? "CoreVerifyFlashFail" : "CoreVerifyEEPROMFail");
    Sound("err");
    return false;
}

// ---- files ----

bool Session::LoadFlashFile(const std::string& path) {
    Scope scope(*this, false);
    if (!scope) return false;
    auto sink = [this](const std::string& line) { Line(line); };
    if (!tondrel::LoadFlashFile(Bufs, path, CurrentLanguage(), sink)) {
        Sound("err");
        return false;
    }
    FlashFileName = path;
    view_.ShowFlashBuffer();
    if (Bufs.FlashFileHadEEPROM) view_.ShowEEPROMBuffer();
    view_.ShowTab("sheetFlash");
    view_.SetLabel(kStatusFlashFile, TrFormat("CoreStatusFlashFile", CurrentLanguage(), path));
    return true;
}

bool Session::LoadEEPROMFile(const std::string& path) {
    Scope scope(*this, false);
    if (!scope) return false;
    auto sink = [this](const std::string& line) { Line(line); };
    if (!tondrel::LoadEEPROMFile(Bufs, path, CurrentLanguage(), sink)) {
        Sound("err");
        return false;
    }
    EEPROMFileName = path;
    view_.ShowEEPROMBuffer();
    view_.ShowTab("sheetEEPROM");
    view_.SetLabel(kStatusEEPROMFile, TrFormat("CoreStatusEEPROMFile", CurrentLanguage(), path));
    return true;
}

bool Session::RefusesDatabase(const std::string& path) {
    struct stat target {
    }, database{};
    if (path == "-" || ::stat(SaveTarget(path).c_str(), &target) != 0 ||
        ::stat(Db.Path().c_str(), &database) != 0)
        return false;
    if (target.st_dev != database.st_dev || target.st_ino != database.st_ino) return false;
    Line("");
    Line(TrFormat("CoreSaveOverDatabase", CurrentLanguage(), EscapeControls(path)));
    Sound("err");
    return true;
}

bool Session::SaveFlashFile(const std::string& path) {
    if (RefusesDatabase(path)) return false;
    auto sink = [this](const std::string& line) { Line(line); };
    const std::string ext = LowerExtension(path);
    if (ext == ".hex")
        return SaveIntelHex(Bufs.FlashBuffer, FlashBlankOf(Bufs), path, CurrentLanguage(), sink);
    if (ext == ".bin") return SaveBinary(Bufs.FlashBuffer, path, CurrentLanguage(), sink);
    return SaveIdf(Bufs.FlashBuffer, path, CurrentLanguage(), sink);
}

bool Session::SaveEEPROMFile(const std::string& path) {
    if (RefusesDatabase(path)) return false;
    auto sink = [this](const std::string& line) { Line(line); };
    const std::string ext = LowerExtension(path);
    if (ext == ".hex" || ext == ".eep")
        return SaveIntelHex(Bufs.EEPROMBuffer, EEPROMBlank(), path, CurrentLanguage(), sink);
    if (ext == ".bin") return SaveBinary(Bufs.EEPROMBuffer, path, CurrentLanguage(), sink);
    return SaveIdf(Bufs.EEPROMBuffer, path, CurrentLanguage(), sink);
}

}  // namespace tondrel::core
