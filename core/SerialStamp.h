#pragma once
// A chip's own serial number in the buffer it is written from, and the quiet look at the socket
// that a next-chip loop polls. Internal to core/.
#include <string>
#include <vector>

#include "common/Status.h"
#include "core/SessionContext.h"

namespace tondrel::core {

// Holds one chip's number in its buffer for the life of an auto programming: checked against
// the chip and the file, stored, and the buffer's own bytes put back at the end, so the next
// chip's number goes over the file and not over this one's.
class SerialStampScope {
  public:
    explicit SerialStampScope(SessionContext& s) : s_(s) {}
    ~SerialStampScope();
    SerialStampScope(const SerialStampScope&) = delete;
    SerialStampScope& operator=(const SerialStampScope&) = delete;

    // Fine with no number to write; refused (said on the board) before the chip is touched when
    // the field lies outside the memory, overlaps the file's data or is not written by the plan.
    Status Apply();

  private:
    SessionContext& s_;
    std::vector<uint8_t> saved_;
    std::vector<bool> savedDefined_;  // which of them the file had defined
    bool applied_ = false;
};

// The signature the socket answers with, read twice and the same both times; "" when nothing
// (or nothing steady) answers. Says nothing on the board.
Result<std::string> ProbeSocket(SessionContext& s);

}  // namespace tondrel::core
