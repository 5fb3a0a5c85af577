#include "core/ProductionRun.h"

#include <chrono>

namespace tondrel::core {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

ProductionRun::ProductionRun(Session& session, View& view, db::Database& db,
                             ProductionOptions options, ProductionHooks hooks)
    : session_(session),
      view_(view),
      db_(db),
      options_(std::move(options)),
      hooks_(std::move(hooks)) {}

OperationRecord ProductionRun::ProgramChip(const std::string& signature) {
    const auto start = std::chrono::steady_clock::now();
    OperationRecord record;
    record.Operation = "auto";
    record.Chip = options_.Repeat ? summary_.Operations + 1 : 0;
    record.Signature = signature;
    record.Files = options_.Files;
    if (hooks_.Counter) (void)hooks_.Counter->Take();
    Status outcome;
    std::optional<int64_t> reserved;
    if (const auto& plan = options_.Serial) {
        auto value = db_.ReserveSerial(plan->Project, plan->Start, plan->Step);
        if (!value) {
            outcome = value.GetStatus();
        } else {
            reserved = *value;
            // Negative numbers never come from a counter that starts at 0 or more and counts up.
            auto bytes = EncodeSerial(plan->Field, static_cast<uint64_t>(*value));
            if (!bytes)
                outcome = bytes.GetStatus();
            else
                session_.SetSerialStamp(
                    SerialStamp{plan->Field, static_cast<uint64_t>(*value), *bytes});
        }
        if (!outcome) {
            view_.Say(outcome.Error());
            view_.PlaySound(SoundName::Error);
        }
    }
    if (outcome) outcome = session_.AutoProgram();
    session_.SetSerialStamp(std::nullopt);
    if (reserved) {
        // The number is kept only by a chip that was written and read back as the file says; any
        // other chip gives it back for the next one.
        if (outcome)
            record.Serial = reserved;
        else if (auto released = db_.ReleaseSerial(options_.Serial->Project, *reserved); !released)
            view_.Say(released.Error());
    }
    const SessionState state = session_.State();
    record.ChipName = state.ChipName;
    record.Speed = state.Speed;
    if (hooks_.Counter) {
        const auto counts = hooks_.Counter->Take();
        record.BytesWritten = counts.Written;
        record.BytesVerified = counts.Verified;
    }
    record.Result = outcome ? "pass" : outcome.Key() == "CoreStopped" ? "stopped" : "fail";
    if (!outcome) {
        record.ErrorKey = outcome.Key();
        record.ErrorText = outcome.Text(state.Lang());
    }
    record.Seconds = SecondsSince(start);
    record.Outcome = outcome;
    return record;
}

std::optional<std::string> ProductionRun::WaitForNextChip(const std::string& programmed) {
    view_.Say(Msg(options_.WaitKey));
    // The chip programmed counts as gone only once the socket stops answering, so a chip left
    // in place is never counted twice; a chip with another signature may be a fresh one.
    bool removed = false;
    for (;;) {
        if (Stopped()) return std::nullopt;
        const auto answer = session_.ProbeSocket();
        const std::string signature = answer.ValueOr({});
        if (signature.empty()) {
            removed = true;
        } else if (removed || signature != programmed) {
            // Seated: the same answer once more after a pause, not a chip half way in.
            if (hooks_.Sleep) hooks_.Sleep(options_.PollMs / 5);
            if (Stopped()) return std::nullopt;
            if (session_.ProbeSocket().ValueOr({}) == signature) return signature;
        }
        if (hooks_.Sleep) hooks_.Sleep(options_.PollMs);
    }
}

RunSummary ProductionRun::Run() {
    const auto start = std::chrono::steady_clock::now();
    // Outside a loop the chip check of the auto programming is enough: the chip that passes it
    // answers with the catalogue's signature.
    std::string signature =
        options_.Repeat ? session_.ProbeSocket().ValueOr({}) : session_.Chip().Signature;
    if (options_.Repeat && signature.empty() && !session_.Chip().Signature.empty() && !Stopped()) {
        // The first chip may not be there yet.
        if (auto placed = WaitForNextChip(""); placed) signature = *placed;
    }
    bool stopped = Stopped();
    while (!stopped) {
        const OperationRecord record = ProgramChip(signature);
        ++summary_.Operations;
        if (record.Result == "pass") {
            ++summary_.Passed;
            if (record.Serial) summary_.Serials.push_back(*record.Serial);
        } else {
            ++summary_.Failed;
        }
        if (hooks_.Report) hooks_.Report(record);
        if (!options_.Repeat || Stopped()) break;
        const auto next = WaitForNextChip(signature);
        if (!next) break;
        signature = *next;
        view_.Say(Msg("RepeatChipPlaced", summary_.Operations + 1));
        stopped = Stopped();
    }
    stopped = Stopped();
    if (options_.Repeat)
        view_.Say(Msg("RepeatTally", summary_.Operations, summary_.Passed, summary_.Failed));
    summary_.Result = stopped && !options_.Repeat                       ? "stopped"
                      : summary_.Failed > 0 || summary_.Operations == 0 ? "fail"
                                                                        : "pass";
    if (stopped && options_.Repeat && summary_.Failed == 0 && summary_.Operations > 0)
        summary_.Result = "pass";
    summary_.Seconds = SecondsSince(start);
    return summary_;
}

}  // namespace tondrel::core
