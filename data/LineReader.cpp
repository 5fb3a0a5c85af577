#include "data/LineReader.h"

#include <cerrno>
#include <cstring>

namespace tondrel {

FilePtr OpenFile(const std::string& path, const char* mode) {
    errno = 0;
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

bool LineReader::Refill() {
    if (AtEnd) return false;
    errno = 0;
    Len = std::fread(Chunk.data(), 1, Chunk.size(), File);
    Pos = 0;
    if (Len == 0) {
        AtEnd = true;
        if (std::ferror(File)) Err = errno != 0 ? errno : EIO;
        return false;
    }
    Total += Len;
    if (Total > MaxBytes) {
        InputTooBig = true;
        AtEnd = true;
        Len = 0;
        return false;
    }
    return true;
}

bool LineReader::Overlong(size_t length) {
    if (length <= MaxLine) return false;
    LineTooLong = true;
    AtEnd = true;
    return true;
}

bool LineReader::Next(std::string_view& line) {
    Carry.clear();
    if (LineTooLong || InputTooBig) return false;
    for (;;) {
        if (Pos == Len && !Refill()) {
            if (Err != 0 || InputTooBig || Carry.empty()) return false;
            line = Carry;  // last line without a line end
            return true;
        }
        if (SkipLf) {
            SkipLf = false;
            if (Chunk[Pos] == '\n') {
                ++Pos;
                continue;
            }
        }
        const char* begin = Chunk.data() + Pos;
        const char* end = Chunk.data() + Len;
        const char* stop = begin;
        while (stop != end && *stop != '\n' && *stop != '\r') ++stop;
        const auto n = static_cast<size_t>(stop - begin);
        if (stop == end) {
            if (Overlong(Carry.size() + n)) return false;
            Carry.append(begin, n);
            Pos = Len;
            continue;
        }
        Pos += n + 1;
        if (*stop == '\r') SkipLf = true;
        if (Overlong(Carry.size() + n)) return false;
        if (Carry.empty()) {
            line = std::string_view(begin, n);
        } else {
            Carry.append(begin, n);
            line = Carry;
        }
        return true;
    }
}

}  // namespace tondrel
