#pragma once
// Auto programming for a production bench, above the session: each chip gets its own serial
// number, each chip's outcome is one log record, and with Repeat the run waits for the chip to
// be taken out and the next one put in, until it is stopped.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/RunLog.h"
#include "core/Session.h"
#include "data/SerialField.h"

namespace tondrel::core {

struct SerialPlan {
    SerialField Field;
    std::string Project;  // the counter's name: the project file's full path
    int64_t Start = 0;    // the first number of a new counter
    int64_t Step = 1;
};

struct ProductionOptions {
    std::optional<SerialPlan> Serial;
    bool Repeat = false;
    // How often the socket is looked at while waiting; a person takes longer to swap a chip.
    uint32_t PollMs = 500;
    std::vector<FileDigest> Files;  // what each record names
    // What the board says while the loop waits: how this front end ends it.
    std::string WaitKey = "RepeatWaitRemove";
};

struct ProductionHooks {
    std::function<bool()> StopWanted;                    // Ctrl-C, the window's Stop
    std::function<void(uint32_t ms)> Sleep;              // between two looks at the socket
    std::function<void(const OperationRecord&)> Report;  // after each chip
    PhaseCounter* Counter = nullptr;                     // bytes written and verified, when counted
};

class ProductionRun {
  public:
    ProductionRun(Session& session, View& view, db::Database& db, ProductionOptions options,
                  ProductionHooks hooks);

    // Programs the chip in the socket, and with Repeat every chip placed after it, until
    // stopped. The summary's result is "pass" only when every chip passed.
    RunSummary Run();

  private:
    OperationRecord ProgramChip(const std::string& signature);
    // The signature of the next chip once the one programmed is out; nothing when stopped.
    std::optional<std::string> WaitForNextChip(const std::string& programmed);
    bool Stopped() const { return hooks_.StopWanted && hooks_.StopWanted(); }

    Session& session_;
    View& view_;
    db::Database& db_;
    ProductionOptions options_;
    ProductionHooks hooks_;
    RunSummary summary_;
};

}  // namespace tondrel::core
