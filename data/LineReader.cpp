#include "data/LineReader.h"

#include <cerrno>
#include <cstring>

namespace tondrel {

FilePtr OpenFile(const std::string& path, const char* mode) {
    errno = 0;
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

namespace {
std::string_view StripCr(std::string_view s) {
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
}
}  // namespace

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
    return true;
}

bool LineReader::Next(std::string_view& line) {
    Carry.clear();
    for (;;) {
        if (Pos == Len && !Refill()) {
            if (Err != 0 || Carry.empty()) return false;
            line = StripCr(Carry);  // last line without a line end
            return true;
        }
        const char* begin = Chunk.data() + Pos;
        const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', Len - Pos));
        if (!nl) {
            Carry.append(begin, Len - Pos);
            Pos = Len;
            continue;
        }
        const auto n = static_cast<size_t>(nl - begin);
        Pos += n + 1;
        if (Carry.empty()) {
            line = StripCr(std::string_view(begin, n));
        } else {
            Carry.append(begin, n);
            line = StripCr(Carry);
        }
        return true;
    }
}

}  // namespace tondrel
