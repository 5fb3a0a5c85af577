#pragma once
// Reads a text file line by line in large chunks. CR LF and a lone LF both end a line; the
// line handed out never contains either.
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
    explicit LineReader(std::FILE* file) : File(file), Chunk(1 << 16) {}

    // The next line; false at the end of the file or after a read error (see Error()).
    // The view stays valid until the next call.
    bool Next(std::string_view& line);
    // errno of a failed read, 0 when none.
    int Error() const { return Err; }

  private:
    bool Refill();

    std::FILE* File;
    std::vector<char> Chunk;
    size_t Pos = 0;
    size_t Len = 0;
    std::string Carry;  // a line that spans two chunks
    bool AtEnd = false;
    int Err = 0;
};

}  // namespace tondrel
