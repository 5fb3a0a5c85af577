#include "data/ElfLoad.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/Text.h"

namespace tondrel {

namespace {

using ElfPtr = std::unique_ptr<Elf, int (*)(Elf*)>;

std::string LibElfError() {
    const char* text = elf_errmsg(-1);
    return text ? text : "unknown error";
}

std::string MachineName(unsigned machine) {
    static constexpr std::pair<unsigned, const char*> kNames[] = {
        {EM_386, "Intel 80386"}, {EM_ARM, "ARM"},      {EM_X86_64, "x86-64"},
        {EM_AVR, "AVR"},         {165, "Intel 8051"},  {EM_AARCH64, "AArch64"},
        {EM_MIPS, "MIPS"},       {EM_RISCV, "RISC-V"}, {EM_MSP430, "MSP430"},
    };
    for (const auto& [id, name] : kNames)
        if (id == machine) return name;
    return "machine " + std::to_string(machine);
}

uint32_t Le32(std::string_view bytes, size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<uint8_t>(bytes[at + k]);
    return v;
}

// avr-gcc's device note: a note "AVR" whose description holds the memory sizes, the length of
// an offset table and the offset of the device name in the string table after it. "" when the
// note is not of that shape.
std::string DeviceOfNote(std::string_view note) {
    if (note.size() < 12) return {};
    const uint32_t nameSize = Le32(note, 0);
    const uint32_t descSize = Le32(note, 4);
    const uint64_t descAt = 12 + ((uint64_t{nameSize} + 3) & ~uint64_t{3});
    if (nameSize != 4 || note.substr(12, 4) != std::string_view("AVR\0", 4) ||
        descAt + descSize > note.size() || descSize < 32)
        return {};
    const std::string_view desc = note.substr(descAt, descSize);
    const uint64_t strings = 24 + uint64_t{Le32(desc, 24)};
    const uint64_t at = strings + Le32(desc, 28);
    if (at >= desc.size()) return {};
    const std::string_view rest = desc.substr(at);
    const std::string name(rest.substr(0, rest.find('\0')));
    return Lower(name);
}

// Where a section is loaded: the program header that holds it maps its run address onto its
// load address (.data runs in RAM and is loaded after .text); without one, its own address.
uint64_t LoadAddress(Elf* elf, const GElf_Shdr& shdr) {
    size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0) return shdr.sh_addr;
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr ph;
        if (!gelf_getphdr(elf, static_cast<int>(i), &ph) || ph.p_type != PT_LOAD) continue;
        if (shdr.sh_addr >= ph.p_vaddr && shdr.sh_addr + shdr.sh_size <= ph.p_vaddr + ph.p_filesz &&
            shdr.sh_offset >= ph.p_offset && shdr.sh_offset < ph.p_offset + ph.p_filesz)
            return ph.p_paddr + (shdr.sh_addr - ph.p_vaddr);
    }
    return shdr.sh_addr;
}

}  // namespace

Status ReadElf(std::string_view file, const CurrentChip& chip, Memory side, HexLineParser& parser,
               std::optional<FileConfigBytes>& config) {
    if (elf_version(EV_CURRENT) == EV_NONE) return Status::Error("ElfMalformed", LibElfError());
    // libelf takes a writable image; it only reads it here.
    std::vector<char> image(file.begin(), file.end());
    ElfPtr elf(elf_memory(image.data(), image.size()), elf_end);
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF) return Status::Error("ElfNotElf");
    GElf_Ehdr ehdr;
    if (!gelf_getehdr(elf.get(), &ehdr)) return Status::Error("ElfMalformed", LibElfError());
    if (const int cls = gelf_getclass(elf.get()); cls != ELFCLASS32)
        return Status::Error("ElfWrongClass", cls == ELFCLASS64 ? 64 : 0);
    if (ehdr.e_machine != EM_AVR || chip.CurrentMethodCode != Method::Avr)
        return Status::Error(
            "ElfWrongMachine", MachineName(ehdr.e_machine),
            chip.CurrentChipName.empty() ? std::string("?") : chip.CurrentChipName);
    if (ehdr.e_type != ET_EXEC) return Status::Error("ElfNotProgram", ehdr.e_type);
    // libelf reads a file whose tables were cut off as one without sections: that would load
    // as an empty program.
    size_t sections = 0;
    size_t segments = 0;
    if (elf_getshdrnum(elf.get(), &sections) != 0 || elf_getphdrnum(elf.get(), &segments) != 0)
        return Status::Error("ElfMalformed", LibElfError());
    // Both tables inside the file, written so that no sum can wrap round.
    const auto inside = [&](uint64_t offset, uint64_t count, uint64_t size) {
        return offset <= file.size() && (size == 0 || count <= (file.size() - offset) / size);
    };
    if (sections == 0 || ehdr.e_shoff == 0 || !inside(ehdr.e_shoff, sections, ehdr.e_shentsize) ||
        !inside(ehdr.e_phoff, segments, ehdr.e_phentsize))
        return Status::Error("ElfCut");
    size_t names = 0;
    if (elf_getshdrstrndx(elf.get(), &names) != 0)
        return Status::Error("ElfMalformed", LibElfError());

    const bool flash = side == Memory::Flash;
    FileConfigBytes bytes;
    bool any = false;
    for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn; scn = elf_nextscn(elf.get(), scn)) {
        GElf_Shdr shdr;
        if (!gelf_getshdr(scn, &shdr)) return Status::Error("ElfMalformed", LibElfError());
        const char* rawName = elf_strptr(elf.get(), names, shdr.sh_name);
        const std::string name = EscapeControls(rawName ? rawName : "?");
        if (shdr.sh_type != SHT_NOBITS && shdr.sh_size > 0 &&
            (shdr.sh_offset > file.size() || shdr.sh_size > file.size() - shdr.sh_offset))
            return Status::Error("ElfSectionCut", name);
        const std::string_view content = shdr.sh_type == SHT_NOBITS
                                             ? std::string_view()
                                             : file.substr(shdr.sh_offset, shdr.sh_size);
        if (shdr.sh_type == SHT_NOTE && name == ".note.gnu.avr.deviceinfo") {
            bytes.Device = DeviceOfNote(content);
            continue;
        }
        // Only what a program loads: no debugging data, no zeroed RAM.
        if ((shdr.sh_flags & SHF_ALLOC) == 0 || shdr.sh_type == SHT_NOBITS || shdr.sh_size == 0)
            continue;
        const uint64_t lma = LoadAddress(elf.get(), shdr);
        if (lma >= kElfFuseStart && lma < kElfLockStart) {
            if (lma != kElfFuseStart || content.size() > 3)
                return Status::Error("ElfSectionCapacity", name, HexText(lma, 6),
                                     static_cast<int64_t>(content.size()), 3);
            bytes.Fuses.assign(content.begin(), content.end());
            any = true;
            continue;
        }
        if (lma >= kElfLockStart && lma < kElfSignatureStart) {
            if (lma != kElfLockStart || content.size() != 1)
                return Status::Error("ElfSectionCapacity", name, HexText(lma, 6),
                                     static_cast<int64_t>(content.size()), 1);
            bytes.Lock = static_cast<uint8_t>(content[0]);
            any = true;
            continue;
        }
        // RAM-only data and the signature rows are not memories a file writes.
        const bool inFlash = lma < kElfDataStart;
        const bool inEEPROM = lma >= kElfEEPROMStart && lma < kElfFuseStart;
        if (flash ? !inFlash : !inEEPROM) continue;
        const uint64_t start = flash ? lma : lma - kElfEEPROMStart;
        const int32_t capacity = flash ? chip.FlashSize : chip.EEPROMSize;
        if (start + content.size() > static_cast<uint64_t>(std::max(capacity, 0)) ||
            start + content.size() > parser.Image.size())
            return Status::Error("ElfSectionCapacity", name, HexText(start, 4),
                                 static_cast<int64_t>(content.size()), capacity);
        const std::vector<uint8_t> data(content.begin(), content.end());
        if (const auto overlap = parser.Place(data, static_cast<size_t>(start)))
            return Status::Error("ElfSectionOverlap", name, HexText(*overlap, 4));
    }
    if (any) config = std::move(bytes);
    return Status();
}

}  // namespace tondrel
