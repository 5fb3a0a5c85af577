#pragma once
// Working on the chip: the chip check, erase, write, read, verify and auto programming, and the
// buffer files those operations write from and read into.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/Status.h"
#include "core/AdapterLink.h"
#include "core/ChipSelection.h"
#include "core/SessionContext.h"
#include "data/GridText.h"

namespace tondrel::config {
class ConfigForm;
}

namespace tondrel::core {

class Programming {
  public:
    Programming(SessionContext& s, AdapterLink& link, ChipSelection& chips)
        : s_(s), link_(link), chips_(chips) {}

    enum class Operation : uint8_t { CheckChip, Erase, Write, Read, Verify, AutoProgram };
    // Runs one operation, refused while another runs; `memory` for those on one memory.
    Status Run(Operation op, Memory memory = Memory::Flash);
    Result<std::string> ReadSignature();

    Status LoadFile(Memory memory, const std::string& path);
    Status SaveFile(Memory memory, const std::string& path);
    std::string EditBuffer(Memory memory, GridMode mode, int32_t position, std::string_view text);
    int32_t LastAddress(Memory memory) const;

    // The current chip's configuration form, opened; the caller has checked the chip.
    Result<std::unique_ptr<config::ConfigForm>> OpenForm(Prompts& prompts);
    // Writes the fuse and lock bytes the loaded file carries through the configuration form
    // (its questions, the re-read); with dryRun says what would change and sends nothing.
    // Checks the chip first.
    Status WriteFileConfiguration(Prompts& prompts, bool dryRun);
    // Fails (and says why) when the loaded file carries fuses or lock bits for another chip
    // than the current one; fine without them.
    Status CheckFileConfiguration();

    // The adapter answers and so does a chip: what every operation checks first.
    Result<std::string> Preamble();

  private:
    // How many steps slower the chip check reads the signature again before it gives up.
    static constexpr int kSlowerSignatureReads = 3;
    // `lockedMayPass`: an AT89S51/52 picked by name that answers programming enable passes
    // without its signature, which lock modes 3 and 4 hide (so that it can be erased).
    Result<std::string> CheckAnswer(bool lockedMayPass = false);
    bool Answered(const std::string& signature);
    // The chosen chip's signature (the row may list its twins' too).
    bool IsChosen(const std::string& signature) const;
    // The chosen chip's signature, a catalogue chip's, or any where the row has none.
    bool Recognised(const std::string& signature);
    Result<std::string> CheckIdentity(const std::string& signature);
    void SayUnchecked();
    Status DoErase(bool checkChip);
    Status DoWrite(Memory memory);
    // After byte `i` failed to write: once per page (or byte), programming mode again a step
    // slower, and `i` back to where the page starts. False where that is not to be tried.
    bool RetrySlower(Memory memory, int32_t& i, int32_t& retriedFrom);
    Status DoRead(Memory memory);
    Status DoVerify(Memory memory);
    Status DoAutoProgram();
    Status DoWriteFileConfiguration(Prompts& prompts, bool dryRun);
    void SayFileConfig(const FileConfigBytes& bytes);
    // `afterWrite`: the read-back of a write, which compares the bytes the file defined (and,
    // with the plan's CheckRestBlank, that the others read blank).
    Status Compare(Memory memory, int32_t end, bool skipBlank = false, bool afterWrite = false);
    // How many bytes from `i` on the write need not send (0: send byte `i`).
    int32_t Skippable(Memory memory, int32_t i, int32_t runEnd);
    Status Load(Memory memory, const std::string& path);
    void ReadPicConfigWords(bool onlyWhereBlank);
    std::string AddressText(int32_t index, Memory memory) const;
    bool RefusesDatabase(const std::string& path);
    std::vector<uint8_t>& Buf(Memory memory);
    const std::vector<uint8_t>& Buf(Memory memory) const;

    SessionContext& s_;
    AdapterLink& link_;
    ChipSelection& chips_;
    // Auto programming writes a PIC's configuration word after the EEPROM, not with the Flash.
    bool deferPicConfig_ = false;
    // Auto programming holds programming mode through its steps and checked the chip once:
    // the steps do not check it again.
    bool held_ = false;
    // ... and erased the chip: what the file left undefined, and blank EEPROM, is there already.
    bool erased_ = false;
};

}  // namespace tondrel::core
