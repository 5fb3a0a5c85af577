#pragma once
// What a part of the program may ask of whoever shows it: a question, an information box, a
// line on the message board. The session's view and the configuration forms share it, so a
// window, a terminal and a test recorder each answer both in one way.
#include <cstdint>

#include "common/Status.h"

namespace tondrel {

// How much a Yes to a question can cost. A window shows every kind but Routine with the
// question icon and No as the default button; a terminal answers them only when told
// explicitly, and the three configuration hazards only with their own option besides --yes.
// Enter, Escape, the end of a terminal's input and nobody to answer all take the answer that
// destroys nothing: No, except for StopsOperation, where Yes is that answer.
enum class QuestionKind : uint8_t {
    Routine,                // the designed confirmation boxes
    Destructive,            // erases or overwrites data on the chip (chip erase, ...)
    EndsSerialProgramming,  // a configuration write after which serial programming is gone
    StopsOperation,         // "terminate?": Yes stops before anything is written or erased
    ExternalClock,          // a configuration write after which the chip needs a board's clock
    Locks,                  // lock bits or code protection: memory unreadable or unwritable
    SlowsChip,              // the chip will run slower (CKDIV8, a 128 kHz or 32 kHz source)
};

class Prompts {
  public:
    virtual ~Prompts() = default;
    // A question with Yes and No buttons; true only for Yes.
    virtual bool Ask(const Message& question, QuestionKind kind) = 0;
    // An information box.
    virtual void Inform(const Message& text) = 0;
    // One line on the message board; the empty message is an empty line.
    virtual void Say(const Message& line) = 0;
};

}  // namespace tondrel
