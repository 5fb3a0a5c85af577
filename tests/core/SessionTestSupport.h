#pragma once
// A desk for session tests: a fresh database in a temp folder, a port set, a recording view
// and the session over them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/Text.h"
#include "core/Ports.h"
#include "core/Session.h"
#include "data/Buffers.h"
#include "db/Database.h"
#include "sim/Bench.h"
#include "sim/backend/BenchBackEnd.h"
#include "tests/db/TempDir.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/RecordingView.h"

namespace tondrel::core::testsupport {

using tondrel::testsupport::RecordingPort;
using tondrel::testsupport::RecordingView;

// A port set over one recording port at every base, for the exact handshake bytes and for
// scripted adapter answers.
class RecordingSet : public PortSet {
  public:
    RecordingSet() { Port.AttachClock(&Time); }
    PortIo& At(int32_t) override { return Port; }
    Clock& GetClock() override { return Time; }
    std::string Describe() const override { return "recording port"; }
    bool Simulated() const override { return true; }
    int32_t HomeBase() const override { return 0x378; }
    Status Close() override { return {}; }
    VirtualClock Time;
    RecordingPort Port{0x378};
};

inline std::unique_ptr<db::Database> OpenDatabase(const std::string& path, std::string& error) {
    auto opened = db::Database::Open(path);
    if (!opened) {
        error = opened.Error().Text(Language::English);
        return nullptr;
    }
    return std::move(*opened);
}

struct Desk {
    explicit Desk(const std::string& port, int lpt = 0) {
        database = OpenDatabase(dir.File("chip.db"), error);
        EXPECT_NE(database, nullptr) << error;
        PortOptions options;
        options.Port = port;
        options.Lpt = lpt;
        sim::RegisterBenchBackEnd();
        auto opened = PortSet::Open(options);
        EXPECT_TRUE(opened.Ok()) << opened.Error().Text(Language::English);
        if (opened) ports = std::move(opened).Value();
        session = std::make_unique<Session>(view, *database, *ports);
    }
    explicit Desk(std::unique_ptr<PortSet> set) : ports(std::move(set)) {
        database = OpenDatabase(dir.File("chip.db"), error);
        EXPECT_NE(database, nullptr) << error;
        session = std::make_unique<Session>(view, *database, *ports);
    }
    // Start-up as the window runs it; the view forgets what start-up showed.
    void Start() {
        const Status started = session->Start();
        EXPECT_TRUE(started) << started.Text(Language::English);
        view.Clear();
    }
    // Start-up and a successful chip search.
    void StartAndFind() {
        Start();
        ASSERT_TRUE(session->AutoSearch().Ok()) << ::testing::PrintToString(view.Board);
        view.Clear();
    }
    sim::TargetChip& ChipModel() { return *ports->GetBench()->Chip(); }
    Session& S() { return *session; }

    // The buffers as the grids edit them: a byte typed into a cell.
    const std::vector<uint8_t>& Buf(Memory m) const { return session->Buffer(m); }
    void Poke(Memory m, size_t address, uint8_t value) {
        session->EditBuffer(m, GridMode::Byte, static_cast<int32_t>(address), HexText(value));
    }
    void Fill(Memory m, size_t from, size_t to, uint8_t value) {
        for (size_t i = from; i < to; ++i) Poke(m, i, value);
    }
    void Put(Memory m, const std::vector<uint8_t>& bytes, size_t from = 0) {
        for (size_t i = 0; i < bytes.size(); ++i) Poke(m, from + i, bytes[i]);
    }
    // The auto-programming boxes, changed as the window's would be.
    template <typename Change>
    void Plan(Change change) {
        AutoPlan plan = session->State().Plan;
        change(plan);
        session->SetPlan(plan);
    }

    tondrel::testing::TempDir dir;
    std::string error;
    std::unique_ptr<db::Database> database;
    std::unique_ptr<PortSet> ports;
    RecordingView view;
    std::unique_ptr<Session> session;
};

inline ChipRecord MadeUp(Method methodCode, int32_t flash, int32_t eeprom, int32_t id = 4242) {
    ChipRecord r;
    r.ChipId = id;
    r.MethodCode = methodCode;
    r.Name = "MadeUp" + std::to_string(MethodCode(methodCode));
    r.FlashSize = flash;
    r.EEPROMSize = eeprom;
    return r;
}

}  // namespace tondrel::core::testsupport
