#pragma once
// Reads a text file line by line in large chunks. CR LF, a lone LF and a lone CR each end a
// line; the line handed out never contains them. Lines and the whole input are bounded, so an
// endless device (/dev/zero) or a file without line ends cannot exhaust memory.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tondrel {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Opens with fopen; errno tells why when the result is empty.
FilePtr OpenFile(const std::string& path, const char* mode);

class LineReader {
  public:
    explicit LineReader(std::FILE* file, size_t maxLine = SIZE_MAX, uint64_t maxBytes = UINT64_MAX)
        : File(file), Chunk(1 << 16), MaxLine(maxLine), MaxBytes(maxBytes) {}

    // The next line; false at the end of the file, after a read error (see Error()) or when a
    // bound was passed (TooLong(), TooBig()). The view stays valid until the next call.
    bool Next(std::string_view& line);
    // errno of a failed read, 0 when none.
    int Error() const { return Err; }
    bool TooLong() const { return LineTooLong; }
    bool TooBig() const { return InputTooBig; }

  private:
    bool Refill();
    bool Overlong(size_t length);

    std::FILE* File;
    std::vector<char> Chunk;
    size_t Pos = 0;
    size_t Len = 0;
    std::string Carry;  // a line that spans two chunks
    bool AtEnd = false;
    bool SkipLf = false;  // the last line ended with CR: an LF right after it belongs to it
    int Err = 0;
    size_t MaxLine;
    uint64_t MaxBytes;
    uint64_t Total = 0;
    bool LineTooLong = false;
    bool InputTooBig = false;
};

}  // namespace tondrel
