#include "data/FileSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/Text.h"

namespace tondrel {

namespace {

void AppendHexByte(std::string& out, unsigned b) {
    out += HexText(b & 0xFF);
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

// Why a write failed; errno 0 (a short write that set none) reads as an I/O error.
Status CannotWrite(const std::string& path, int err) {
    return Status::Error("FileCannotWrite", EscapeControls(path),
                         std::strerror(err != 0 ? err : EIO));
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

std::string SaveTarget(const std::string& path) {
    std::string target = path;
    // A bounded walk: a loop of links ends in ELOOP at the open below.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) break;
        link.resize(static_cast<size_t>(n));
        if (link.empty() || link[0] != '/') {
            const auto slash = target.find_last_of('/');
            if (slash != std::string::npos) link = target.substr(0, slash + 1) + link;
        }
        target = link;
    }
    return target;
}

Status WriteFileReplacing(const std::string& path, std::string_view content) {
    if (path == "-") {
        if (!WriteAll(STDOUT_FILENO, content)) return CannotWrite(path, errno);
        return Status();
    }
    const std::string target = SaveTarget(path);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        // A device, a FIFO or a socket is written where it is: replacing it with a regular file
        // would destroy it (as root, /dev/null).
        if (S_ISDIR(existing.st_mode)) return CannotWrite(path, EISDIR);
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return CannotWrite(path, errno);
        const bool written = WriteAll(fd, content);
        const int writeErr = errno;
        if (::close(fd) != 0 && written) return CannotWrite(path, errno);
        if (!written) return CannotWrite(path, writeErr);
        return Status();
    }
    // The temporary file sits beside the target under a short name of its own, so a target
    // name near the length limit still saves.
    const auto slash = target.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char name[24];
        std::snprintf(name, sizeof name, ".tondrel~%08x", static_cast<unsigned>(random()));
        temp = dir + name;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return CannotWrite(path, errno);
    // A file replaced keeps its permissions.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
    int err = 0;
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (!ok) err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (ok) return Status();
    ::unlink(temp.c_str());
    return CannotWrite(path, err);
}

Status SaveIdf(const std::vector<uint8_t>& buffer, const std::string& path) {
    return WriteFileReplacing(path, IdfText(buffer));
}

Status SaveIntelHex(const std::vector<uint8_t>& buffer, const BlankAt& blankAt,
                    const std::string& path) {
    return WriteFileReplacing(path, IntelHexText(buffer, blankAt));
}

Status SaveBinary(const std::vector<uint8_t>& buffer, const std::string& path) {
    const std::string_view content(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    return WriteFileReplacing(path, content);
}

BlankAt FlashBlankOf(const Buffers& buffers) {
    const Method code = buffers.Chip.CurrentMethodCode;
    const int32_t size = buffers.Chip.FlashSize;
    return [code, size](size_t address) { return FlashBlankByte(code, size, address); };
}

BlankAt EEPROMBlank() {
    return [](size_t) -> uint8_t { return 0xFF; };
}

}  // namespace tondrel
