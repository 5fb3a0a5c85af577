#include "data/FileLoad.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "common/Text.h"
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

std::vector<uint8_t>& BufferOf(Buffers& b, Memory side) {
    return side == Memory::Flash ? b.FlashBuffer : b.EEPROMBuffer;
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

// A piece of a user's file quoted in a message: short, and not cut inside a UTF-8 character.
std::string Quote(std::string_view text) {
    constexpr size_t kMax = 60;
    if (text.size() <= kMax) return std::string(text);
    size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n)) + "...";
}

// A decimal 32-bit integer with an optional sign, blanks around it allowed.
std::optional<int32_t> ParseIdfInteger(std::string_view text) {
    const auto value = ParseNumber(Trim(text), NumberStyle::Decimal, INT32_MIN, INT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
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
    return FileKind::Idf;
}

Status HexLineParser::CapacityError(Memory side, int64_t lineNumber) const {
    // The size named is the chip's own memory, not the PIC buffer's configuration-area reach.
    return side == Memory::Flash
               ? Status::Error("FlashCapacity", Bufs.Chip.FlashSize, lineNumber)
               : Status::Error("EEPROMCapacity", Bufs.Chip.EEPROMSize, lineNumber);
}

Status HexLineParser::ParseHexLine(std::string_view line, int64_t lineNumber) {
    const Status notHex = NotHexLine(Side, lineNumber);
    uint8_t count = 0, addrHigh = 0, addrLow = 0, type = 0;
    if (line.size() < 9 || line[0] != ':' || !ReadByte(line, 1, count) ||
        !ReadByte(line, 3, addrHigh) || !ReadByte(line, 5, addrLow) || !ReadByte(line, 7, type))
        return notHex;
    if (type == 0x01) return Status();  // end of file; later lines are still read
    if (type == 0x02 || type == 0x04) {
        uint8_t d0 = 0, d1 = 0;
        if (!ReadByte(line, 9, d0) || !ReadByte(line, 11, d1)) return notHex;
        const int64_t value = d0 * 256 + d1;
        HexBase = type == 0x02 ? value * 16 : value * 65536;
    }
    if (type == 0x00) {
        // Data and checksum must all be there before a single byte is stored.
        if (line.size() < 11 + 2 * static_cast<size_t>(count)) return notHex;
        uint8_t b = 0;
        for (size_t k = 0; k < count; ++k)
            if (!ReadByte(line, 9 + 2 * k, b)) return notHex;
        if (!ReadByte(line, line.size() - 2, b)) return notHex;
    }
    const int64_t start = addrHigh * 256 + addrLow + HexBase;
    if (Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode) && start >= PicEEPROMImageStart)
        return ParseIntoEEPROMImage(line, lineNumber, start, count, type,
                                    count + addrHigh + addrLow + type);

    std::vector<uint8_t>& buf = BufferOf(Bufs, Side);
    if (!Fits(start, count)) return CapacityError(Side, lineNumber);
    // Raised only for an accepted record, so the data end always stays inside the buffer.
    int32_t& dataEnd = DataEndOf(Bufs, Side);
    dataEnd = std::max<int32_t>(dataEnd, static_cast<int32_t>(start + count - 1));
    if (type != 0x00) return Status();  // 02, 03, 04, 05 and unknown types store nothing

    unsigned sum = count + addrHigh + addrLow + type;
    for (size_t k = 0; k < count; ++k) {
        uint8_t b = 0;
        ReadByte(line, 9 + 2 * k, b);
        buf[static_cast<size_t>(start) + k] = b;
        sum += b;
    }
    uint8_t checksum = 0;
    ReadByte(line, line.size() - 2, checksum);
    if (((sum + checksum) & 0xFF) != 0)
        return Status::Error(Key(Side, "FlashChecksum", "EEPROMChecksum"), lineNumber);
    return Status();
}

// Whether a record lies in the buffer. A PIC buffer has a hole between the end of program
// memory and the ID words: nothing may load there, or the write would run past the chip's
// program memory, whose address counter wraps round onto its first words.
bool HexLineParser::Fits(int64_t start, int count) const {
    const int64_t end = start + count;
    const auto size = static_cast<int64_t>(BufferOf(Bufs, Side).size());
    if (Side == Memory::Flash && IsPic(Bufs.Chip.CurrentMethodCode))
        return end <= std::min<int64_t>(Bufs.Chip.FlashSize, size) ||
               (start >= PicConfigAreaStart && end <= size);
    return end <= size;
}

// A PIC Flash file's data-EEPROM records: byte k of the EEPROM is the low byte of the word at
// 0x4200 + 2k. The first such record replaces the EEPROM buffer's content, as loading an
// EEPROM file would.
Status HexLineParser::ParseIntoEEPROMImage(std::string_view line, int64_t lineNumber, int64_t start,
                                           int count, int type, unsigned headerSum) {
    const int64_t offset = start - PicEEPROMImageStart;
    if (offset + count > 2 * static_cast<int64_t>(Bufs.EEPROMCapacity()))
        return CapacityError(Memory::EEPROM, lineNumber);
    if (!EEPROMTouched) {
        EEPROMImage.assign(static_cast<size_t>(Bufs.EEPROMCapacity()), 0xFF);
        EEPROMImageEnd = 0;
        EEPROMTouched = true;
    }
    if (count > 0)
        EEPROMImageEnd =
            std::max<int32_t>(EEPROMImageEnd, static_cast<int32_t>((offset + count - 1) / 2));
    if (type != 0x00) return Status();

    unsigned sum = headerSum;
    for (int k = 0; k < count; ++k) {
        uint8_t b = 0;
        ReadByte(line, 9 + 2 * static_cast<size_t>(k), b);
        if (((offset + k) & 1) == 0) EEPROMImage[static_cast<size_t>((offset + k) / 2)] = b;
        sum += b;
    }
    uint8_t checksum = 0;
    ReadByte(line, line.size() - 2, checksum);
    if (((sum + checksum) & 0xFF) != 0) return Status::Error("FlashChecksum", lineNumber);
    return Status();
}

void HexLineParser::CommitEEPROMImage() {
    Bufs.EEPROMBuffer = std::move(EEPROMImage);
    Bufs.Chip.EEPROMDataEnd = EEPROMImageEnd;
    EEPROMImage.clear();
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
    const FileKind kind = FileKindOf(path, side);
    const bool flash = side == Memory::Flash;
    const std::string shownPath = EscapeControls(path);

    // The buffer is blanked only once the file is known to be there and readable.
    FilePtr file = OpenFile(path, "rb");
    if (!file) return Status::Error("FileCannotOpen", shownPath, ErrorText(errno));
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return Status::Error("FileCannotOpen", shownPath, ErrorText(EISDIR));
        if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kMaxInputBytes)
            return Status::Error("FileTooBig");
    }

    int32_t& dataEnd = DataEndOf(b, side);
    dataEnd = 0;
    if (flash) b.FlashFileHadEEPROM = false;
    if (flash)
        b.BlankFillFlash();
    else
        b.BlankFillEEPROM();
    std::vector<uint8_t>& buf = BufferOf(b, side);

    HexLineParser parser(b, side);
    if (kind == FileKind::Binary) {
        std::vector<uint8_t> data(buf.size() + 1);
        const size_t got = std::fread(data.data(), 1, data.size(), file.get());
        if (std::ferror(file.get()))
            return Status::Error("FileCannotRead", shownPath, ErrorText(errno));
        if (got > buf.size()) {
            std::error_code ec;
            const auto total = std::filesystem::file_size(path, ec);
            return Status::Error("BinaryTooBig", ec ? static_cast<uintmax_t>(got) : total,
                                 static_cast<int64_t>(buf.size()));
        }
        std::copy_n(data.begin(), got, buf.begin());
        dataEnd = got > 0 ? static_cast<int32_t>(got - 1) : 0;
    } else {
        LineReader reader(file.get(), kind == FileKind::IntelHex ? kMaxHexLine : kMaxIdfLine,
                          kMaxInputBytes);
        std::string_view line;
        int64_t lineNo = 0;  // lines read before this one
        while (reader.Next(line)) {
            if (kind == FileKind::IntelHex) {
                // Blank lines (a trailing one after the end record, say) carry nothing.
                if (Trim(line).empty()) {
                    ++lineNo;
                    continue;
                }
                Status parsed = parser.ParseHexLine(line, lineNo + 1);
                if (!parsed) return parsed;
            } else {
                if (lineNo >= static_cast<int64_t>(buf.size()))
                    return Status::Error("IdfTooManyLines", static_cast<int64_t>(buf.size()),
                                         lineNo + 1);
                const std::optional<int32_t> value = ParseIdfInteger(line);
                if (!value)
                    return Status::Error("IdfNotInteger", lineNo + 1, EscapeControls(Quote(line)));
                buf[static_cast<size_t>(lineNo)] =
                    static_cast<uint8_t>(static_cast<uint32_t>(*value) & 0xFF);
            }
            ++lineNo;
        }
        if (reader.Error() != 0)
            return Status::Error("FileCannotRead", shownPath, ErrorText(reader.Error()));
        if (reader.TooLong()) return Status::Error("FileLineTooLong", lineNo + 1);
        if (reader.TooBig()) return Status::Error("FileTooBig");
    }
    file.reset();
    LoadReport report;
    report.Path = path;
    report.Size = static_cast<int64_t>(dataEnd) + 1;
    // EEPROM records of a PIC Flash file count only when the whole file loaded.
    if (parser.EEPROMTouched) {
        parser.CommitEEPROMImage();
        b.FlashFileHadEEPROM = true;
        report.EEPROMFromFlash = static_cast<int64_t>(b.Chip.EEPROMDataEnd) + 1;
    }
    report.OpenTime = LocalTimeText();
    return report;
}

}  // namespace tondrel
