#include "data/FileSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace tondrel {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned b) {
    out += kHexDigits[(b >> 4) & 0xF];
    out += kHexDigits[b & 0xF];
}

void AppendRecord(std::string& out, unsigned address, unsigned type, const uint8_t* data,
                  size_t count) {
    out += ':';
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + address + type;
    AppendHexByte(out, static_cast<unsigned>(count));
    AppendHexByte(out, address >> 8);
    AppendHexByte(out, address);
    AppendHexByte(out, type);
    for (size_t i = 0; i < count; ++i) {
        AppendHexByte(out, data[i]);
        sum += data[i];
    }
    AppendHexByte(out, (0x100 - (sum & 0xFF)) & 0xFF);
    out += "\r\n";
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Report(bool ok, int err, const std::string& path, Language lang, const BoardSink& board) {
    board("");
    board(ok ? TrFormat("SavedFileTo", lang, path)
             : TrFormat("FileCannotWrite", lang, path, std::strerror(err != 0 ? err : EIO)));
    return ok;
}

}  // namespace

std::string IdfText(const std::vector<uint8_t>& buffer) {
    std::string out;
    out.reserve(buffer.size() * 5);
    for (uint8_t b : buffer) {
        out += std::to_string(b);
        out += "\r\n";
    }
    return out;
}

std::string IntelHexText(const std::vector<uint8_t>& buffer, const BlankAt& blankAt) {
    std::string out;
    out.reserve(buffer.size() * 45 / 16 + 32);
    size_t segment = 0;
    for (size_t line = 0; line < buffer.size(); line += 16) {
        const size_t count = std::min<size_t>(16, buffer.size() - line);
        bool blank = true;
        for (size_t i = line; i < line + count && blank; ++i) blank = buffer[i] == blankAt(i);
        if (blank) continue;
        if ((line >> 16) != segment) {
            segment = line >> 16;
            const uint8_t upper[2] = {static_cast<uint8_t>(segment >> 8),
                                      static_cast<uint8_t>(segment)};
            AppendRecord(out, 0, 0x04, upper, 2);
        }
        AppendRecord(out, static_cast<unsigned>(line & 0xFFFF), 0x00, buffer.data() + line, count);
    }
    out += ":00000001FF\r\n";
    return out;
}

bool WriteFileReplacing(const std::string& path, std::string_view content, int& err) {
    err = 0;
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".~%08x", static_cast<unsigned>(random()));
        temp = path + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        err = errno;
        return false;
    }
    // A file replaced keeps its permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (!ok) err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool SaveIdf(const std::vector<uint8_t>& buffer, const std::string& path, Language lang,
             const BoardSink& board) {
    int err = 0;
    const bool ok = WriteFileReplacing(path, IdfText(buffer), err);
    return Report(ok, err, path, lang, board);
}

bool SaveIntelHex(const std::vector<uint8_t>& buffer, const BlankAt& blankAt,
                  const std::string& path, Language lang, const BoardSink& board) {
    int err = 0;
    const bool ok = WriteFileReplacing(path, IntelHexText(buffer, blankAt), err);
    return Report(ok, err, path, lang, board);
}

bool SaveBinary(const std::vector<uint8_t>& buffer, const std::string& path, Language lang,
                const BoardSink& board) {
    int err = 0;
    const std::string_view content(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    const bool ok = WriteFileReplacing(path, content, err);
    return Report(ok, err, path, lang, board);
}

BlankAt FlashBlankOf(const Buffers& buffers) {
    const int32_t code = buffers.Chip.CurrentMethodCode;
    const int32_t size = buffers.Chip.FlashSize;
    return [code, size](size_t address) { return FlashBlankByte(code, size, address); };
}

BlankAt EEPROMBlank() {
    return [](size_t) -> uint8_t { return 0xFF; };
}

}  // namespace tondrel
