#include "data/FileLoad.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "common/Text.h"
#include "data/ElfLoad.h"
#include "data/LineReader.h"

namespace tondrel {

namespace {

// The byte written at line[pos], line[pos + 1]; false when either is missing or no hex digit.
bool ReadByte(std::string_view line, size_t pos, uint8_t& out) {
    if (pos + 1 >= line.size()) return false;
    const int hi = HexDigit(line[pos]);
    const int lo = HexDigit(line[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    out = static_cast<uint8_t>(hi * 16 + lo);
    return true;
}

int32_t& DataEndOf(Buffers& b, Memory side) {
    return side == Memory::Flash ? b.Chip.FlashDataEnd : b.Chip.EEPROMDataEnd;
}

const char* Key(Memory side, const char* flashKey, const char* eepromKey) {
    return side == Memory::Flash ? flashKey : eepromKey;
}

Status NotHexLine(Memory side, int64_t lineNumber) {
    return Status::Error(Key(side, "FlashNotHexLine", "EEPROMNotHexLine"), lineNumber);
}

// A line that starts as a record does but is not one: odd or missing digits, fields cut short.
Status BadRecord(int64_t lineNumber) {
    return Status::Error("HexBadRecord", lineNumber);
}

// Blanks and tabs that an editor left at a line's end carry nothing.
std::string_view TrimEnd(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

std::vector<uint8_t> BlankImage(const Buffers& b, Memory side) {
    return side == Memory::Flash ? b.BlankFlashImage() : b.BlankEEPROMImage();
}

// Whether the PIC word whose high byte is at `odd` fits the 14 bits the chip stores. The word
// 0xFFFF passes: it is what a gap of a 0xFF-filled image holds, and it is written as blank.
bool FitsPicWord(const std::vector<uint8_t>& image, size_t odd) {
    const uint8_t high = image[odd];
    return (high & 0xC0) == 0 || (high == 0xFF && image[odd - 1] == 0xFF);
}

// `line` is the file's line, left out for a binary file.
template <typename... Line>
Status PicWordTooWide(const std::vector<uint8_t>& image, size_t odd, const Line&... line) {
    const unsigned word = image[odd - 1] | (image[odd] << 8);
    return Status::Error("PicWordTooWide", HexText(odd / 2, 4), HexText(word, 4), line...);
}

// Where a PIC image from a list or binary file goes wrong: the first byte (the first `loaded`
// ones count) of a word that does not fit 14 bits, or of a word that is not blank where the
// chip has no memory (between program memory and the ID words).
struct PicImageFault {
    size_t Offset;
    bool OutsideMemory;
};
std::optional<PicImageFault> FindPicImageFault(const std::vector<uint8_t>& image, int32_t flashSize,
                                               size_t loaded) {
    const auto programEnd = static_cast<size_t>(std::max(flashSize, 0));
    for (size_t odd = 1; odd < std::min(loaded, image.size()); odd += 2) {
        const bool hole = odd >= programEnd && odd < static_cast<size_t>(PicConfigAreaStart);
        const bool blank = image[odd - 1] == 0xFF && (image[odd] == 0x3F || image[odd] == 0xFF);
        if (hole && !blank) return PicImageFault{odd - 1, true};
        if (!hole && !FitsPicWord(image, odd)) return PicImageFault{odd - 1, false};
    }
    return std::nullopt;
}

// A piece of a user's file quoted in a message: short, and not cut inside a UTF-8 character.
std::string Quote(std::string_view text) {
    constexpr size_t kMax = 60;
    if (text.size() <= kMax) return std::string(text);
    size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n)) + "...";
}

// An Intel HEX line holds at most 255 data bytes: ':' and 2 * (1 + 2 + 1 + 255 + 1) digits. A
// little room is left for blanks at its end.
constexpr size_t kMaxHexLine = 521 + 16;
// An idf line is one decimal byte value.
constexpr size_t kMaxIdfLine = 32;
// More than any chip's file can hold: the largest Flash (256 KiB) as HEX is under 1 MiB.
constexpr uint64_t kMaxInputBytes = 16u << 20;

std::string ErrorText(int err) {
    return std::strerror(err != 0 ? err : EIO);
}

}  // namespace

FileKind FileKindOf(std::string_view path, Memory side) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return FileKind::Idf;
    const std::string ext = Lower(name.substr(dot));
    if (ext == ".hex") return FileKind::IntelHex;
    if (ext == ".eep" && side == Memory::EEPROM) return FileKind::IntelHex;
    if (ext == ".bin") return FileKind::Binary;
    if (ext == ".elf") return FileKind::Elf;
    if (ext == ".srec" || ext == ".s19" || ext == ".s28" || ext == ".s37" || ext == ".mot")
        return FileKind::SRecord;
    return FileKind::Idf;
}

std::optional<FileKind> ContentKindOf(std::string_view head, FileKind byExtension) {
    if (head.size() >= 4 && head[0] == '\x7F' && head.substr(1, 3) == "ELF") return FileKind::Elf;
    if (byExtension == FileKind::Binary) return std::nullopt;
    const size_t first = head.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || first + 3 >= head.size()) return std::nullopt;
    // "S", a record type and two digits of a byte count: no HEX or idf line begins so.
    const std::string_view start = head.substr(first, 4);
    if ((start[0] == 'S' || start[0] == 's') && start[1] >= '0' && start[1] <= '9' &&
        HexDigit(start[2]) >= 0 && HexDigit(start[3]) >= 0)
        return FileKind::SRecord;
    return std::nullopt;
}

const char* FileKindName(FileKind kind) {
    // In the order of FileKind.
    static constexpr const char* kNames[] = {"Intel HEX", "idf", "binary", "Motorola S-record",
                                             "ELF"};
    return kNames[static_cast<size_t>(kind)];
}

HexLineParser::HexLineParser(const Buffers& buffers, Memory side)
    : Image(BlankImage(buffers, side)), Loaded(Image.size(), false), Bufs(buffers), Side(side) {}

Status HexLineParser::CapacityError(Memory side, int64_t lineNumber) const {
    // The size named is the chip's own memory, not the PIC buffer's configuration-area reach.
    return side == Memory::Flash
               ? Status::Error("FlashCapacity", Bufs.Chip.FlashSize, lineNumber)
               : Status::Error("EEPROMCapacity", Bufs.Chip.EEPROMSize, lineNumber);
}

Status HexLineParser::ParseHexLine(std::string_view line, int64_t lineNumber) {
    line = TrimEnd(line);
    if (line.empty() || line[0] != ':') return NotHexLine(Side, lineNumber);
    // Every field, the checksum included, before anything counts: a record is taken whole or
    // not at all.
    std::vector<uint8_t> bytes;
    if (line.size() < 11 || (line.size() - 1) % 2 != 0) return BadRecord(lineNumber);
    for (size_t pos = 1; pos < line.size(); pos += 2) {
        uint8_t b = 0;
        if (!ReadByte(line, pos, b)) return BadRecord(lineNumber);
        bytes.push_back(b);
    }
    const uint8_t count = bytes[0];
    if (bytes.size() != size_t{count} + 5u)
        return Status::Error("HexRecordLength", count, lineNumber);
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0)
        return Status::Error(Key(Side, "FlashChecksum", "EEPROMChecksum"), lineNumber);
    const int64_t address = bytes[1] * 256 + bytes[2];
    const uint8_t type = bytes[3];
    const std::vector<uint8_t> data(bytes.begin() + 4, bytes.end() - 1);

    if (EndSeen) return Status::Error("HexAfterEnd", lineNumber);
    switch (type) {
        case 0x00:
            break;
        case 0x01:
            EndSeen = true;
            return Status();
        case 0x02:
        case 0x04: {
            if (count != 2) return BadRecord(lineNumber);
            const int64_t value = data[0] * 256 + data[1];
            HexBase = type == 0x02 ? value * 16 : value * 65536;
            break;
        }
        case 0x03:
        case 0x05:
            // A start address: it says where a program begins to run, not what memory holds.
            if (count != 4) return BadRecord(lineNumber);
            return Status();
        default:
            return Status::Error("HexUnknownType", HexText(type), lineNumber);
    }
    const int64_t start = address + HexBase;
    if (type == 0x00) return StoreAt(data, start, lineNumber);
    if (Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode) && start >= PicEEPROMImageStart)
        return StoreEEPROMData(data, start, lineNumber);
    // The extended address records store nothing in the image, but count as reaching their
    // address.
    if (!Fits(start, count)) return CapacityError(Side, lineNumber);
    DataEnd = std::max<int32_t>(DataEnd, static_cast<int32_t>(start + count - 1));
    return Status();
}

Status HexLineParser::ParseSRecordLine(std::string_view line, int64_t lineNumber) {
    line = TrimEnd(line);
    if (EndSeen) return Status::Error("HexAfterEnd", lineNumber);
    if (line.size() < 2 || (line[0] != 'S' && line[0] != 's') || line[1] < '0' || line[1] > '9')
        return Status::Error("SrecNotRecord", lineNumber);
    const int type = line[1] - '0';
    // The address width of each type; S4 is reserved.
    static constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const int addressBytes = kAddressBytes[type];
    if (addressBytes == 0) return Status::Error("SrecUnknownType", type, lineNumber);
    // Every field, the checksum included, before anything counts, as for a HEX record.
    if (line.size() < 4 || line.size() % 2 != 0) return Status::Error("SrecBadRecord", lineNumber);
    std::vector<uint8_t> bytes;
    for (size_t pos = 2; pos < line.size(); pos += 2) {
        uint8_t b = 0;
        if (!ReadByte(line, pos, b)) return Status::Error("SrecBadRecord", lineNumber);
        bytes.push_back(b);
    }
    const uint8_t count = bytes[0];
    if (bytes.size() != size_t{count} + 1u || count < addressBytes + 1)
        return Status::Error("SrecRecordLength", count, lineNumber);
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0xFF) return Status::Error("SrecChecksum", lineNumber);
    int64_t address = 0;
    for (int k = 1; k <= addressBytes; ++k) address = address * 256 + bytes[static_cast<size_t>(k)];
    const std::vector<uint8_t> data(bytes.begin() + 1 + addressBytes, bytes.end() - 1);
    switch (type) {
        case 0:  // the header: a name, not memory
            return Status();
        case 1:
        case 2:
        case 3:
            ++DataRecords;
            return StoreAt(data, address, lineNumber);
        case 5:
        case 6:
            // The count of data records so far: a file cut or spliced shows here.
            if (!data.empty()) return Status::Error("SrecRecordLength", count, lineNumber);
            if (address != DataRecords)
                return Status::Error("SrecCount", address, DataRecords, lineNumber);
            return Status();
        default:  // 7, 8, 9: the end, with a start address that is no memory content
            if (!data.empty()) return Status::Error("SrecRecordLength", count, lineNumber);
            EndSeen = true;
            return Status();
    }
}

Status HexLineParser::StoreAt(const std::vector<uint8_t>& data, int64_t start, int64_t lineNumber) {
    if (Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode) && start >= PicEEPROMImageStart)
        return StoreEEPROMData(data, start, lineNumber);
    const auto count = static_cast<int>(data.size());
    if (!Fits(start, count)) return CapacityError(Side, lineNumber);
    // Raised only for an accepted record, so the data end always stays inside the buffer.
    DataEnd = std::max<int32_t>(DataEnd, static_cast<int32_t>(start + count - 1));
    return StoreData(data, start, lineNumber);
}

std::optional<size_t> HexLineParser::Place(const std::vector<uint8_t>& data, size_t start) {
    for (size_t k = 0; k < data.size(); ++k) {
        const size_t at = start + k;
        if (Loaded[at] && Image[at] != data[k]) return at;
        Image[at] = data[k];
        Loaded[at] = true;
    }
    if (!data.empty())
        DataEnd = std::max<int32_t>(DataEnd, static_cast<int32_t>(start + data.size() - 1));
    return std::nullopt;
}

Status HexLineParser::StoreData(const std::vector<uint8_t>& data, int64_t start,
                                int64_t lineNumber) {
    const bool pic = Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode);
    if (const auto overlap = Place(data, static_cast<size_t>(start)))
        return Status::Error("HexOverlap", HexText(*overlap, 4), lineNumber);
    if (!pic) return Status();
    for (size_t k = 0; k < data.size(); ++k) {
        const auto at = static_cast<size_t>(start) + k;
        if (at % 2 == 1 && !FitsPicWord(Image, at)) return PicWordTooWide(Image, at, lineNumber);
    }
    return Status();
}

// Whether a record lies in the buffer. A PIC buffer has a hole between the end of program
// memory and the ID words: nothing may load there, or the write would run past the chip's
// program memory, whose address counter wraps round onto its first words.
bool HexLineParser::Fits(int64_t start, int count) const {
    const int64_t end = start + count;
    const auto size = static_cast<int64_t>(Image.size());
    if (Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode))
        return end <= std::min<int64_t>(Bufs.Chip.FlashSize, size) ||
               (start >= PicConfigAreaStart && end <= size);
    return end <= size;
}

// A PIC Flash file's data-EEPROM records: byte k of the EEPROM is the low byte of the word at
// 0x4200 + 2k. The first such record replaces the EEPROM buffer's content, as loading an
// EEPROM file would.
Status HexLineParser::StoreEEPROMData(const std::vector<uint8_t>& data, int64_t start,
                                      int64_t lineNumber) {
    const int64_t offset = start - PicEEPROMImageStart;
    const auto count = static_cast<int64_t>(data.size());
    if (offset + count > 2 * static_cast<int64_t>(Bufs.EEPROMCapacity()))
        return CapacityError(Memory::EEPROM, lineNumber);
    if (!EEPROMTouched) {
        EEPROMImage.assign(static_cast<size_t>(Bufs.EEPROMCapacity()), 0xFF);
        EEPROMLoaded.assign(EEPROMImage.size(), false);
        EEPROMImageEnd = 0;
        EEPROMTouched = true;
    }
    if (count > 0)
        EEPROMImageEnd =
            std::max<int32_t>(EEPROMImageEnd, static_cast<int32_t>((offset + count - 1) / 2));
    for (int64_t k = 0; k < count; ++k) {
        if (((offset + k) & 1) != 0) continue;
        const auto at = static_cast<size_t>((offset + k) / 2);
        const uint8_t b = data[static_cast<size_t>(k)];
        if (EEPROMLoaded[at] && EEPROMImage[at] != b)
            return Status::Error("HexOverlap", HexText(static_cast<uint64_t>(start + k), 4),
                                 lineNumber);
        EEPROMImage[at] = b;
        EEPROMLoaded[at] = true;
    }
    return Status();
}

std::optional<int64_t> FailedLine(const Message& loadError) {
    // Where each refusal keeps the line it names.
    static constexpr std::pair<std::string_view, size_t> kLineArgument[] = {
        {"FlashNotHexLine", 0}, {"EEPROMNotHexLine", 0}, {"HexBadRecord", 0},
        {"HexRecordLength", 1}, {"FlashChecksum", 0},    {"EEPROMChecksum", 0},
        {"FlashCapacity", 1},   {"EEPROMCapacity", 1},   {"HexUnknownType", 1},
        {"HexOverlap", 1},      {"HexAfterEnd", 0},      {"PicWordTooWide", 2},
        {"IdfNotInteger", 0},   {"IdfOutOfRange", 0},    {"IdfTooManyLines", 1},
        {"IdfEmpty", 0},        {"FileLineTooLong", 0},  {"SrecNotRecord", 0},
        {"SrecUnknownType", 1}, {"SrecBadRecord", 0},    {"SrecRecordLength", 1},
        {"SrecChecksum", 0},    {"SrecCount", 2},
    };
    for (const auto& [key, index] : kLineArgument) {
        if (loadError.Key != key || index >= loadError.Args.size()) continue;
        return ParseNumber(loadError.Args[index], NumberStyle::Decimal, 1);
    }
    return std::nullopt;
}

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

Result<LoadReport> LoadFile(Buffers& b, Memory side, const std::string& path) {
    const FileKind byExtension = FileKindOf(path, side);
    FileKind kind = byExtension;
    const bool flash = side == Memory::Flash;
    const bool pic = flash && IsPic(b.Chip.CurrentMethodCode);
    const std::string shownPath = EscapeControls(path);

    FilePtr file = OpenFile(path, "rb");
    if (!file) return Status::Error("FileCannotOpen", shownPath, ErrorText(errno));
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return Status::Error("FileCannotOpen", shownPath, ErrorText(EISDIR));
        if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kMaxInputBytes)
            return Status::Error("FileTooBig");
        // The first bytes of a plain file can overrule its name; a device or pipe cannot be
        // looked into and then read from the start again.
        if (S_ISREG(info.st_mode)) {
            char head[64];
            const size_t got = std::fread(head, 1, sizeof head, file.get());
            if (std::ferror(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0)
                return Status::Error("FileCannotRead", shownPath, ErrorText(errno));
            if (const auto content = ContentKindOf({head, got}, byExtension)) kind = *content;
        }
    }

    // The file is read into an image of its own; the buffer changes only once all of it loaded.
    HexLineParser parser(b, side);
    std::vector<uint8_t>& image = parser.Image;
    std::optional<FileConfigBytes> config;
    if (kind == FileKind::Elf) {
        std::string content;
        char chunk[1 << 16];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            content.append(chunk, got);
            if (content.size() > kMaxInputBytes) return Status::Error("FileTooBig");
        }
        if (std::ferror(file.get()))
            return Status::Error("FileCannotRead", shownPath, ErrorText(errno));
        if (Status read = ReadElf(content, b.Chip, side, parser, config); !read) return read;
        if (config) config->Path = path;
    } else if (kind == FileKind::Binary) {
        std::vector<uint8_t> data(image.size() + 1);
        const size_t got = std::fread(data.data(), 1, data.size(), file.get());
        if (std::ferror(file.get()))
            return Status::Error("FileCannotRead", shownPath, ErrorText(errno));
        std::error_code ec;
        const auto total = std::filesystem::file_size(path, ec);
        const uintmax_t size = ec ? static_cast<uintmax_t>(got) : total;
        if (got > image.size())
            return Status::Error("BinaryTooBig", size, static_cast<int64_t>(image.size()));
        std::copy_n(data.begin(), got, image.begin());
        std::fill_n(parser.Loaded.begin(), got, true);
        if (pic) {
            if (const auto fault = FindPicImageFault(image, b.Chip.FlashSize, got))
                return fault->OutsideMemory ? Status::Error("BinaryTooBig", size, b.Chip.FlashSize)
                                            : PicWordTooWide(image, fault->Offset + 1);
        }
        parser.DataEnd = got > 0 ? static_cast<int32_t>(got - 1) : 0;
    } else {
        const bool records = kind == FileKind::IntelHex || kind == FileKind::SRecord;
        // An S-record is at most "S3", 255 bytes in digits and a little room for blanks.
        LineReader reader(file.get(), records ? kMaxHexLine : kMaxIdfLine, kMaxInputBytes);
        std::string_view line;
        int64_t lineNo = 0;  // lines read before this one
        while (reader.Next(line)) {
            if (records) {
                // Blank lines (a trailing one after the end record, say) carry nothing.
                if (!Trim(line).empty()) {
                    if (Status parsed = kind == FileKind::IntelHex
                                            ? parser.ParseHexLine(line, lineNo + 1)
                                            : parser.ParseSRecordLine(line, lineNo + 1);
                        !parsed)
                        return parsed;
                }
            } else {
                if (lineNo >= static_cast<int64_t>(image.size()))
                    return Status::Error("IdfTooManyLines", static_cast<int64_t>(image.size()),
                                         lineNo + 1);
                const std::optional<int64_t> value = ParseNumber(Trim(line), NumberStyle::Decimal);
                if (!value)
                    return Status::Error("IdfNotInteger", lineNo + 1, EscapeControls(Quote(line)));
                // A list holds bytes: any other number would be stored as something else.
                if (*value < 0 || *value > 0xFF)
                    return Status::Error("IdfOutOfRange", lineNo + 1, *value);
                image[static_cast<size_t>(lineNo)] = static_cast<uint8_t>(*value);
                parser.Loaded[static_cast<size_t>(lineNo)] = true;
            }
            ++lineNo;
        }
        if (reader.Error() != 0)
            return Status::Error("FileCannotRead", shownPath, ErrorText(reader.Error()));
        if (reader.TooLong()) return Status::Error("FileLineTooLong", lineNo + 1);
        if (reader.TooBig()) return Status::Error("FileTooBig");
        if (kind == FileKind::Idf) {
            if (lineNo == 0) return Status::Error("IdfEmpty", 1);
            if (pic) {
                if (const auto fault =
                        FindPicImageFault(image, b.Chip.FlashSize, static_cast<size_t>(lineNo)))
                    return fault->OutsideMemory
                               ? Status::Error("IdfTooManyLines", b.Chip.FlashSize,
                                               static_cast<int64_t>(fault->Offset) + 1)
                               : PicWordTooWide(image, fault->Offset + 1,
                                                static_cast<int64_t>(fault->Offset) + 2);
            }
            parser.DataEnd = 0;  // a list leaves the data end where a load starts it
        }
    }
    file.reset();

    b.TakeFile(side, std::move(image), std::move(parser.Loaded));
    DataEndOf(b, side) = parser.DataEnd;
    LoadReport report;
    report.Path = path;
    report.Size = static_cast<int64_t>(parser.DataEnd) + 1;
    report.Kind = kind;
    report.KindByContent = kind != byExtension;
    report.Config = std::move(config);
    if (flash) b.FlashFileHadEEPROM = parser.EEPROMTouched;
    // EEPROM records of a PIC Flash file count only when the whole file loaded.
    if (parser.EEPROMTouched) {
        b.TakeFile(Memory::EEPROM, std::move(parser.EEPROMImage), std::move(parser.EEPROMLoaded));
        b.Chip.EEPROMDataEnd = parser.EEPROMImageEnd;
        report.EEPROMFromFlash = static_cast<int64_t>(b.Chip.EEPROMDataEnd) + 1;
    }
    report.OpenTime = LocalTimeText();
    return report;
}

}  // namespace tondrel
