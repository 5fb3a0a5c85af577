#include "db/Database.h"

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>
#include <utility>

#include "common/Text.h"
#include "db/SqlText.h"

namespace fs = std::filesystem;

namespace tondrel::db {

namespace {

constexpr const char* kChipOrderSql = R"( order by "芯片编程方法代号", "芯片名称")";

ChipRecord RowToChip(const Statement& row) {
    ChipRecord chip;
    chip.ChipId = row.Int("chipid");
    chip.MethodCode = MethodFromCode(row.Int("芯片编程方法代号"));
    chip.Name = row.Text("芯片名称");
    chip.Signature = row.Text("芯片特征码");
    chip.FlashSize = row.Int("芯片FLASHROM容量(B)");
    chip.EEPROMSize = row.Int("芯片EEPROM容量(B)");
    chip.PageSize = row.Int("页面大小(AVR)");
    chip.EraseDelayMs = row.Int("擦除时间(ms)");
    chip.FlashWriteDelayUs = row.Int("FLASH写入时间(us)");
    chip.EepromWriteDelayUs = row.Int("EEPROM写入时间(us)");
    chip.FlashReadback = row.Int("FLASH忙读回值");
    chip.EepromReadback = row.Int("EEPROM忙读回值");
    chip.CalibrationCount = row.Int("校准字节数");
    return chip;
}

// Every value a chip row gives the engines and the buffers, with the range it may take: a
// hand-edited row beyond it would have the program allocate or wait without end.
struct ChipBound {
    const char* Column;
    int32_t ChipRecord::*Field;
    int32_t Min, Max;
};
constexpr ChipBound kChipBounds[] = {
    // A size of 0 or less is a memory the chip does not have.
    {"芯片FLASHROM容量(B)", &ChipRecord::FlashSize, INT32_MIN, 1 << 24},
    {"芯片EEPROM容量(B)", &ChipRecord::EEPROMSize, INT32_MIN, 1 << 20},
    {"页面大小(AVR)", &ChipRecord::PageSize, 0, 1 << 16},
    {"擦除时间(ms)", &ChipRecord::EraseDelayMs, 0, 60'000},
    {"FLASH写入时间(us)", &ChipRecord::FlashWriteDelayUs, 0, 10'000'000},
    {"EEPROM写入时间(us)", &ChipRecord::EepromWriteDelayUs, 0, 10'000'000},
    {"FLASH忙读回值", &ChipRecord::FlashReadback, -1, 0xFFFF},
    {"EEPROM忙读回值", &ChipRecord::EepromReadback, -1, 0xFFFF},
    {"校准字节数", &ChipRecord::CalibrationCount, 0, 256},
};

// The first value of a row outside its range, as the message arguments name it.
std::optional<Status> OutOfBounds(const ChipRecord& chip) {
    for (const ChipBound& b : kChipBounds) {
        const int32_t v = chip.*b.Field;
        if (v < b.Min || v > b.Max)
            return Status::Error("DbChipValue", chip.Name, b.Column, v, b.Min, b.Max);
    }
    return std::nullopt;
}

// Makes a fragment literal inside LIKE '%...%' ESCAPE '\'.
std::string EscapeLike(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The settings row's columns and where each is kept.
constexpr std::pair<const char*, int Settings::*> kSettingsColumns[] = {
    {"launch", &Settings::Launch},
    {"isRunProgram", &Settings::IsRunProgram},
    {"language", &Settings::Language},
    {"isUpdateFlash", &Settings::IsUpdateFlash},
    {"isUpdateEEProm", &Settings::IsUpdateEEProm},
    {"isEraseAll", &Settings::IsEraseAll},
    {"isProgramFlash", &Settings::IsProgramFlash},
    {"isProgramEEProm", &Settings::IsProgramEEProm},
    {"sound", &Settings::Sound},
    {"LPT", &Settings::Lpt},
    {"isVerifyAfter", &Settings::IsVerifyAfter},
    {"isCheckBlank", &Settings::IsCheckBlank},
};

// A failed statement: what the program was doing (the key) and SQLite's reason.
Status Failure(const char* key, const std::string& why) {
    return Status::Error(key, why);
}

// A write transaction that rolls back unless committed. IMMEDIATE takes the write lock at once,
// so a competing writer is noticed before anything is read.
class Transaction {
  public:
    explicit Transaction(Connection& conn) : conn_(conn) {
        begun_ = conn_.Execute("BEGIN IMMEDIATE");
    }
    ~Transaction() {
        if (begun_ && !done_) conn_.Execute("ROLLBACK");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begun() const { return begun_; }
    bool Commit() {
        done_ = conn_.Execute("COMMIT");
        return done_;
    }

  private:
    Connection& conn_;
    bool begun_ = false;
    bool done_ = false;
};

// One clear sentence for the failures a user can do something about.
Status DescribeOpenFailure(const std::string& path, int code, const std::string& detail) {
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
            return Status::Error("DbNotADatabase", path);
        case SQLITE_CORRUPT:
            return Status::Error("DbDamaged", path);
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Status::Error("DbLocked", path);
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_IOERR:
        case SQLITE_FULL:
            return Status::Error("DbCannotWrite", path, detail);
        default:
            return Status::Error("DbCannotOpen", path, detail);
    }
}

bool FolderWritable(const fs::path& folder) {
    const fs::path probe = folder.empty() ? fs::path(".") : folder;
    return ::access(probe.c_str(), W_OK | X_OK) == 0;
}

// Schema steps: Migrations[v] brings a file from version v to v + 1 inside the open's
// transaction. A release that changes the schema appends a step here and raises SchemaVersion;
// user rows (settings, speed, path) must survive every step.
using MigrationStep = std::function<bool(Connection&)>;

// The catalogue columns added in version 3, in table order, with their "not known" value.
constexpr std::array<std::pair<const char*, int>, 6> kPartDataColumns = {{
    {"擦除时间(ms)", 0},
    {"FLASH写入时间(us)", 0},
    {"EEPROM写入时间(us)", 0},
    {"FLASH忙读回值", -1},
    {"EEPROM忙读回值", -1},
    {"校准字节数", 0},
}};

// Chips of the first release that a user removed stay removed.
constexpr int kLastChipOfVersion1 = 54;

bool HasColumn(Connection& conn, const std::string& table, const std::string& column) {
    Statement info(conn, "select 1 from pragma_table_info(?1) where name = ?2");
    info.Bind(1, table).Bind(2, column);
    return info.Step() == Statement::StepResult::Row;
}

// 2 -> 3: the part-data columns, their values for the rows shipped before, and the chips added
// since. The compiled-in catalogue is built in memory and merged: a shipped row (same key, same
// name) gets the new values, a chip added since is inserted unless its key or name is taken,
// a user's own rows are left alone. The
// adapter texts list the catalogue, so they are made again by the defaults.
bool AddPartData(Connection& conn) {
    for (const auto& [name, unknown] : kPartDataColumns) {
        if (HasColumn(conn, "chip", name)) continue;  // a file made by this release
        if (!conn.Execute("alter table chip add column \"" + std::string(name) +
                          "\" integer not null default " + std::to_string(unknown)))
            return false;
    }
    Connection shipped;
    if (!shipped.Open(":memory:", true) || !shipped.Execute(SchemaSql()) ||
        !shipped.Execute(CatalogueSql()))
        return false;
    std::string assign;
    std::string columns =
        "chipid, \"芯片编程方法代号\", \"芯片名称\", \"芯片特征码\", "
        "\"芯片FLASHROM容量(B)\", \"芯片EEPROM容量(B)\", \"页面大小(AVR)\"";
    for (size_t i = 0; i < kPartDataColumns.size(); ++i) {
        const std::string quoted = "\"" + std::string(kPartDataColumns[i].first) + "\"";
        if (!assign.empty()) assign += ", ";
        assign += quoted + " = ?" + std::to_string(i + 3);
        columns += ", " + quoted;
    }
    Statement rows(shipped, "select " + columns + " from chip");
    Statement update(conn, "update chip set " + assign +
                               " where chipid = ?1 and \"芯片名称\" = ?2 collate nocase");
    Statement insert(conn, "insert into chip (" + columns +
                               ") select ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13 "
                               "where ?1 > " +
                               std::to_string(kLastChipOfVersion1) +
                               " and not exists (select 1 from chip where chipid = ?1 or "
                               "\"芯片名称\" = ?3 collate nocase)");
    if (!rows.Ok() || !update.Ok() || !insert.Ok()) return false;
    Statement::StepResult r;
    while ((r = rows.Step()) == Statement::StepResult::Row) {
        update.Bind(1, rows.Int(0)).Bind(2, rows.Text(2));
        for (int i = 0; i < static_cast<int>(kPartDataColumns.size()); ++i)
            update.Bind(i + 3, rows.Int(7 + i));
        for (int i = 0; i < rows.ColumnCount(); ++i) {
            if (i == 2 || i == 3)
                insert.Bind(i + 1, rows.Text(i));
            else
                insert.Bind(i + 1, rows.Int(i));
        }
        if (!update.Run() || !insert.Run()) return false;
        update.Reset();
        insert.Reset();
    }
    return r == Statement::StepResult::Done && conn.Execute("delete from support");
}

// 3 -> 4: the PIC rows' erase/program cycle (their Flash write time), which the engines wait out
// after each word: a shipped row that does not know it yet (same key, same name) gets the
// shipped value; a user's own rows and values are left alone.
bool AddPicCycleTimes(Connection& conn) {
    Connection shipped;
    if (!shipped.Open(":memory:", true) || !shipped.Execute(SchemaSql()) ||
        !shipped.Execute(CatalogueSql()))
        return false;
    Statement rows(shipped,
                   "select chipid, \"芯片名称\", \"FLASH写入时间(us)\" from chip "
                   "where \"芯片编程方法代号\" in (0, 6)");
    Statement update(conn,
                     "update chip set \"FLASH写入时间(us)\" = ?3 where chipid = ?1 and "
                     "\"芯片名称\" = ?2 collate nocase and \"FLASH写入时间(us)\" = 0");
    if (!rows.Ok() || !update.Ok()) return false;
    Statement::StepResult r;
    while ((r = rows.Step()) == Statement::StepResult::Row) {
        update.Bind(1, rows.Int(0)).Bind(2, rows.Text(1)).Bind(3, rows.Int(2));
        if (!update.Run()) return false;
        update.Reset();
    }
    return r == Statement::StepResult::Done;
}

// The sixth auto-programming box, read-back after writing; on unless unticked. An adopted file
// without a version may have the column already, and a version-2 file of the line of history
// that added the part data first does not have it at all: it is looked for, not assumed.
bool AddVerifyAfter(Connection& conn) {
    return HasColumn(conn, "settings", "isVerifyAfter") ||
           conn.Execute("ALTER TABLE settings ADD COLUMN isVerifyAfter INTEGER NOT NULL DEFAULT 1");
}

// The seventh box, the blank check of what a file left out; off unless ticked. Looked for on
// every open, as the read-back box is.
bool AddCheckBlank(Connection& conn) {
    return HasColumn(conn, "settings", "isCheckBlank") ||
           conn.Execute("ALTER TABLE settings ADD COLUMN isCheckBlank INTEGER NOT NULL DEFAULT 0");
}

const std::array<MigrationStep, SchemaVersion>& Migrations() {
    static const std::array<MigrationStep, SchemaVersion> steps = {
        // 0 -> 1: a new, empty file (created with the current chip table).
        [](Connection& conn) { return conn.Execute(SchemaSql()) && conn.Execute(CatalogueSql()); },
        // 1 -> 2: the sixth auto-programming box, read-back after writing.
        AddVerifyAfter,
        // 2 -> 3: the chips' part data and the chips added since.
        AddPartData,
        // 3 -> 4: the PIC rows' erase/program cycle.
        AddPicCycleTimes,
        // 4 -> 5: the AT89S8253's 2 KiB data EEPROM, where the shipped row still says none.
        [](Connection& conn) {
            return conn.Execute(
                "update chip set \"芯片EEPROM容量(B)\" = 2048 where chipid = 41 and "
                "\"芯片名称\" = 'AT89S8253' collate nocase and \"芯片EEPROM容量(B)\" = 0");
        },
        // 5 -> 6: serial-number counters per project file, and the numbers given back.
        [](Connection& conn) {
            return conn.Execute(
                "create table if not exists serial (project text primary key, next integer not "
                "null);"
                "create table if not exists serial_free (project text not null, value integer not "
                "null, primary key (project, value))");
        },
    };
    return steps;
}

struct FileState {
    int Version = 0;
    int Tables = 0;     // user tables of any name
    int OurTables = 0;  // how many of chip, speed, settings, path, support exist
};

std::optional<FileState> ReadFileState(Connection& conn) {
    FileState state;
    {
        Statement version(conn, "PRAGMA user_version");
        if (version.Step() != Statement::StepResult::Row) return std::nullopt;
        state.Version = version.Int(0);
    }
    Statement tables(conn,
                     "select count(*), "
                     "sum(name in ('chip', 'speed', 'settings', 'path', 'support')) "
                     "from sqlite_master where type = 'table' and name not like 'sqlite\\_%' "
                     "escape '\\'");
    if (tables.Step() != Statement::StepResult::Row) return std::nullopt;
    state.Tables = tables.Int(0);
    state.OurTables = tables.Int(1);
    return state;
}

}  // namespace

std::string ResolveDatabasePath(const std::string& explicitPath, const std::string& exeDir,
                                const std::string& xdgDataHome, const std::string& home) {
    if (!explicitPath.empty()) return explicitPath;
    if (!exeDir.empty()) {
        std::error_code ec;
        const fs::path beside = fs::path(exeDir) / "chip.db";
        if (fs::is_regular_file(beside, ec)) return beside.string();
    }
    // A relative XDG_DATA_HOME is invalid by the XDG convention and is ignored.
    if (!xdgDataHome.empty() && fs::path(xdgDataHome).is_absolute()) {
        return (fs::path(xdgDataHome) / "tondrel" / "chip.db").string();
    }
    if (!home.empty())
        return (fs::path(home) / ".local" / "share" / "tondrel" / "chip.db").string();
    return "chip.db";
}

std::string ResolveDatabasePath(const std::string& explicitPath, const std::string& exeDir) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* homeEnv = std::getenv("HOME");
    std::string home = homeEnv != nullptr ? homeEnv : "";
    if (home.empty()) {
        passwd entry{};
        passwd* found = nullptr;
        std::array<char, 4096> buffer{};
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            home = found->pw_dir;
        }
    }
    return ResolveDatabasePath(explicitPath, exeDir, xdg != nullptr ? xdg : "", home);
}

std::string SettingsUpdateText(int language, bool sound, bool isUpdateFlash, bool isUpdateEEProm,
                               bool isEraseAll, bool isProgramFlash, bool isProgramEEProm,
                               int lpt) {
    std::string text = "update settings set language=" + std::to_string(language) + ",\n";
    text += sound ? "sound=1,\n" : "sound=0,\n";
    text += isUpdateFlash ? "isupdateFlash=1,\n" : "isupdateFlash=0,\n";
    text += isUpdateEEProm ? "isUpdateEEProm=1,\n" : "isupdateEEProm=0,\n";
    text += isEraseAll ? "isEraseAll=1,\n" : "isEraseall=0,\n";
    text += isProgramFlash ? "isProgramFlash=1,\n" : "isProgramFlash=0,\n";
    text += isProgramEEProm ? "isProgramEEProm=1,\n" : "isProgramEEProm=0,\n";
    text += "lpt=" + std::to_string(lpt);
    return text;
}

Result<std::unique_ptr<Database>> Database::Open(const std::string& path) {
    if (path.empty()) return Status::Error("DbNoPath");
    const fs::path file(path);
    const fs::path folder = file.parent_path();
    std::error_code ec;
    const bool existed = fs::exists(file, ec);
    if (existed && fs::is_directory(file, ec)) return Status::Error("DbIsFolder", path);
    // A device or a FIFO holds no database, and its journal would be left beside it.
    if (existed && !fs::is_regular_file(file, ec)) return Status::Error("DbNotAFile", path);
    if (!existed && !folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec) return Status::Error("DbCannotCreateFolder", folder.string(), ec.message());
    }
    // The journal is written beside the file, so the folder must be writable even when the
    // file itself is.
    if (!FolderWritable(folder))
        return Status::Error("DbFolderNotWritable", path,
                             folder.empty() ? std::string(".") : folder.string());

    Connection conn;
    if (!conn.Open(path, !existed))
        return DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
    // Removes a file this call created when its set-up fails, so no half-made database stays.
    auto discardNew = [&] {
        conn.Close();
        if (!existed) fs::remove(file, ec);
    };
    if (conn.IsReadOnly()) return Status::Error("DbReadOnly", path);
    conn.SetBusyTimeout(BusyTimeoutMs);

    {
        Transaction tx(conn);
        std::optional<FileState> state;
        if (tx.Begun()) state = ReadFileState(conn);
        if (!tx.Begun() || !state) {
            Status failure = DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
            discardNew();
            return failure;
        }
        int version = state->Version;
        if (version > SchemaVersion) return Status::Error("DbNewer", path, version, SchemaVersion);
        if (version < 0) return Status::Error("DbBadVersion", path, version);
        if (version == 0 && state->Tables > 0) {
            // Tables but no version: a converted catalogue of ours is adopted as it is;
            // anything else belongs to another program and is not ours to change.
            if (state->OurTables != 5) return Status::Error("DbOtherProgram", path);
            version = 1;
        }
        bool ok = true;
        for (int v = version; ok && v < SchemaVersion; ++v) ok = Migrations()[v](conn);
        // Version 2 means two different files, depending on the history that made it: what
        // each step adds is looked for by its columns, and the read-back box may still lack.
        if (ok && version >= 2) ok = AddVerifyAfter(conn);
        ok = ok && AddCheckBlank(conn);
        ok = ok && conn.Execute(DefaultsSql());
        if (ok && state->Version != SchemaVersion) {
            ok = conn.Execute("PRAGMA user_version = " + std::to_string(SchemaVersion));
        }
        if (!ok || !tx.Commit()) {
            Status failure = DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
            if (failure.Key() == "DbCannotOpen")
                failure = Status::Error("DbCannotPrepare", path, conn.ErrorMessage());
            discardNew();
            return failure;
        }
    }
    return std::unique_ptr<Database>(new Database(path, std::move(conn)));
}

Result<std::vector<ChipRecord>> Database::QueryChips(Statement& statement) {
    if (!statement.Ok()) return Failure("DbChipList", statement.Error());
    std::vector<ChipRecord> chips;
    Statement::StepResult r;
    while ((r = statement.Step()) == Statement::StepResult::Row) {
        chips.push_back(RowToChip(statement));
        if (auto bad = OutOfBounds(chips.back())) return *bad;
    }
    if (r == Statement::StepResult::Error) return Failure("DbChipList", statement.Error());
    return chips;
}

Result<std::optional<ChipRecord>> Database::QueryChip(Statement& statement) {
    auto chips = QueryChips(statement);
    if (!chips) return chips.GetStatus();
    if (chips->empty()) return std::optional<ChipRecord>();
    return std::optional<ChipRecord>(std::move(chips->front()));
}

Result<std::string> Database::QueryText(Statement& statement, const char* column, const char* key) {
    switch (statement.Step()) {
        case Statement::StepResult::Row:
            return statement.Text(column);
        case Statement::StepResult::Done:
            return std::string();
        case Statement::StepResult::Error:
            break;
    }
    return Failure(key, statement.Error());
}

Result<std::vector<std::string>> Database::ChipColumns() {
    Statement statement(conn_, "select * from chip");
    if (!statement.Ok()) return Failure("DbChipColumns", statement.Error());
    std::vector<std::string> names;
    for (int i = 0; i < statement.ColumnCount(); ++i) names.push_back(statement.ColumnName(i));
    return names;
}

Result<std::vector<ChipRecord>> Database::ListChips() {
    Statement statement(conn_, std::string("select * from chip") + kChipOrderSql);
    return QueryChips(statement);
}

Result<std::vector<ChipRecord>> Database::SearchChips(const std::string& fragment) {
    Statement statement(conn_, std::string("select * from chip where \"芯片名称\" like "
                                           "'%' || ?1 || '%' escape '\\'") +
                                   kChipOrderSql);
    statement.Bind(1, EscapeLike(fragment));
    return QueryChips(statement);
}

Result<std::optional<ChipRecord>> Database::FindChip(Method method, const std::string& signature) {
    if (tondrel::Trim(signature).empty()) return std::optional<ChipRecord>();
    // The stored text may hold several signatures or text around one, hence the substring
    // match; chipid order makes "the first row" the same on every run.
    Statement statement(conn_,
                        "select * from chip where \"芯片编程方法代号\" = ?1 and \"芯片特征码\" "
                        "like '%' || ?2 || '%' escape '\\' order by chipid limit 1");
    statement.Bind(1, MethodCode(method)).Bind(2, EscapeLike(signature));
    auto chip = QueryChip(statement);
    if (chip && *chip) (*chip)->Name = std::string(tondrel::Trim((*chip)->Name));
    return chip;
}

Result<std::optional<ChipRecord>> Database::ChipById(int id) {
    Statement statement(conn_, "select * from chip where chipid = ?1");
    statement.Bind(1, id);
    return QueryChip(statement);
}

Result<std::optional<ChipRecord>> Database::ChipByName(const std::string& name) {
    Statement statement(conn_,
                        "select * from chip where \"芯片名称\" = ?1 collate nocase "
                        "order by chipid limit 1");
    statement.Bind(1, name);
    return QueryChip(statement);
}

Result<std::optional<int>> Database::ReadSpeed(int chipId) {
    Statement statement(conn_, "select * from speed where chipid = ?1");
    statement.Bind(1, chipId);
    switch (statement.Step()) {
        case Statement::StepResult::Row:
            return std::optional<int>(statement.Int("speed"));
        case Statement::StepResult::Done:
            return std::optional<int>();
        case Statement::StepResult::Error:
            break;
    }
    return Failure("DbSpeedRead", statement.Error());
}

Status Database::WriteSpeed(int chipId, int position) {
    Transaction tx(conn_);
    if (!tx.Begun()) return Failure("DbSpeedWrite", conn_.ErrorMessage());
    Statement select(conn_, "select * from speed where chipid = ?1");
    select.Bind(1, chipId);
    const Statement::StepResult found = select.Step();
    if (found == Statement::StepResult::Error) return Failure("DbSpeedWrite", select.Error());
    Statement change(conn_, found == Statement::StepResult::Row
                                ? "update speed set speed = ?2 where chipid = ?1"
                                : "insert into speed (chipid, speed) values (?1, ?2)");
    change.Bind(1, chipId).Bind(2, position);
    if (!change.Ok() || !change.Run()) return Failure("DbSpeedWrite", change.Error());
    if (!tx.Commit()) return Failure("DbSpeedWrite", conn_.ErrorMessage());
    return Status();
}

Result<Settings> Database::ReadSettings() {
    Settings settings;
    Statement statement(conn_, "select * from settings limit 1");
    const Statement::StepResult r = statement.Step();
    if (r == Statement::StepResult::Error) return Failure("DbSettingsRead", statement.Error());
    if (r == Statement::StepResult::Done) return settings;  // no row: every column reads 0
    for (const auto& [column, field] : kSettingsColumns) settings.*field = statement.Int(column);
    return settings;
}

// The settings updates carry no condition and so change nothing without a row; a lost row
// would silently lose the user's choices, so it is put back (with first-start values) first.
Status Database::UpdateSettings(const char* sql, std::initializer_list<int> values,
                                const char* key) {
    Transaction tx(conn_);
    if (!tx.Begun() ||
        !conn_.Execute(
            "insert into settings (launch) select 1 where not exists (select 1 from settings)"))
        return Failure(key, conn_.ErrorMessage());
    Statement update(conn_, sql);
    int index = 1;
    for (int value : values) update.Bind(index++, value);
    if (!update.Ok() || !update.Run()) return Failure(key, update.Error());
    if (!tx.Commit()) return Failure(key, conn_.ErrorMessage());
    return Status();
}

Status Database::SaveSettings(int language, bool sound, bool isUpdateFlash, bool isUpdateEEProm,
                              bool isEraseAll, bool isProgramFlash, bool isProgramEEProm, int lpt) {
    return UpdateSettings(
        "update settings set language = ?1, sound = ?2, isUpdateFlash = ?3, "
        "isUpdateEEProm = ?4, isEraseAll = ?5, isProgramFlash = ?6, "
        "isProgramEEProm = ?7, LPT = ?8",
        {language, sound, isUpdateFlash, isUpdateEEProm, isEraseAll, isProgramFlash,
         isProgramEEProm, lpt},
        "DbSettingsSave");
}

Status Database::SetRunProgram(bool on) {
    return UpdateSettings("update settings set isRunProgram = ?1", {on}, "DbLaunchOption");
}

Status Database::SetVerifyAfter(bool on) {
    return UpdateSettings("update settings set isVerifyAfter = ?1", {on}, "DbVerifyOption");
}

Status Database::SetCheckBlank(bool on) {
    return UpdateSettings("update settings set isCheckBlank = ?1", {on}, "DbVerifyOption");
}

Status Database::SetLaunch(int mode) {
    return UpdateSettings("update settings set launch = ?1", {mode}, "DbDownloadMode");
}

Result<std::string> Database::ToolPath(const std::string& key) {
    Statement statement(conn_, "select * from path where name = ?1 collate nocase");
    statement.Bind(1, key);
    return QueryText(statement, "path", "DbToolPath");
}

Status Database::SetToolPath(const std::string& key, const std::string& path) {
    Statement update(conn_, "update path set path = ?1 where name = ?2 collate nocase");
    update.Bind(1, path).Bind(2, key);
    if (!update.Ok() || !update.Run()) return Failure("DbToolPath", update.Error());
    // An update that matched no row used to pass for success; the path would be gone.
    if (conn_.Changes() == 0) return Status::Error("DbNoToolKey", key);
    return Status();
}

Result<int64_t> Database::ReserveSerial(const std::string& project, int64_t start, int64_t step) {
    Transaction tx(conn_);
    if (!tx.Begun()) return Failure("DbSerialReserve", conn_.ErrorMessage());
    Statement returned(conn_, "select min(value) from serial_free where project = ?1");
    returned.Bind(1, project);
    if (returned.Step() != Statement::StepResult::Row)
        return Failure("DbSerialReserve", returned.Error());
    int64_t value = 0;
    if (!returned.IsNull(0)) {
        value = returned.Int64(0);
        Statement take(conn_, "delete from serial_free where project = ?1 and value = ?2");
        take.Bind(1, project).Bind(2, value);
        if (!take.Ok() || !take.Run()) return Failure("DbSerialReserve", take.Error());
    } else {
        Statement counter(conn_, "select next from serial where project = ?1");
        counter.Bind(1, project);
        const Statement::StepResult found = counter.Step();
        if (found == Statement::StepResult::Error)
            return Failure("DbSerialReserve", counter.Error());
        value = found == Statement::StepResult::Row ? counter.Int64(0) : start;
        if (step > 0 && value > INT64_MAX - step) return Failure("DbSerialReserve", "overflow");
        Statement advance(conn_,
                          "insert into serial (project, next) values (?1, ?2) "
                          "on conflict (project) do update set next = excluded.next");
        advance.Bind(1, project).Bind(2, value + step);
        if (!advance.Ok() || !advance.Run()) return Failure("DbSerialReserve", advance.Error());
    }
    if (!tx.Commit()) return Failure("DbSerialReserve", conn_.ErrorMessage());
    return value;
}

Status Database::ReleaseSerial(const std::string& project, int64_t value) {
    Statement give(conn_, "insert or ignore into serial_free (project, value) values (?1, ?2)");
    give.Bind(1, project).Bind(2, value);
    if (!give.Ok() || !give.Run()) return Failure("DbSerialRelease", give.Error());
    return Status();
}

Result<std::string> Database::SupportText(int hardwareGen) {
    Statement statement(conn_, "select * from support where chipID = ?1");
    statement.Bind(1, hardwareGen);
    return QueryText(statement, "support", "DbAdapterText");
}

}  // namespace tondrel::db
