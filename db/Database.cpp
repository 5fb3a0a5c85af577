#include "db/Database.h"

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>

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

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
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
std::string DescribeOpenFailure(const std::string& path, int code, const std::string& detail) {
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
            return Quoted(path) +
                   " is not a database file; it was left untouched. Move it away or choose "
                   "another file with --database.";
        case SQLITE_CORRUPT:
            return Quoted(path) +
                   " is a damaged database; it was left untouched. Restore a copy or choose "
                   "another file with --database.";
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Quoted(path) +
                   " is locked by another program; close that program and try again.";
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_IOERR:
        case SQLITE_FULL:
            return "cannot write the chip database " + Quoted(path) + " (" + detail +
                   "); choose a writable place with --database.";
        default:
            return "cannot open the chip database " + Quoted(path) + ": " + detail;
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

const std::array<MigrationStep, SchemaVersion>& Migrations() {
    static const std::array<MigrationStep, SchemaVersion> steps = {
        // 0 -> 1: a new, empty file (created with the current chip table).
        [](Connection& conn) { return conn.Execute(SchemaSql()) && conn.Execute(CatalogueSql()); },
        // 1 -> 2: the sixth auto-programming box, read-back after writing; on unless unticked.
        // An adopted file without a version may have the column already.
        [](Connection& conn) {
            int present = 0;
            {
                Statement has(conn,
                              "select count(*) from pragma_table_info('settings') "
                              "where name = 'isVerifyAfter'");
                if (has.Step() != Statement::StepResult::Row) return false;
                present = has.Int(0);
            }
            return present > 0 ||
                   conn.Execute(
                       "ALTER TABLE settings ADD COLUMN isVerifyAfter INTEGER NOT NULL DEFAULT 1");
        },
        // 2 -> 3: the chips' part data and the chips added since.
        AddPartData,
        // 3 -> 4: the PIC rows' erase/program cycle.
        AddPicCycleTimes,
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

std::unique_ptr<Database> Database::Open(const std::string& path, std::string& error) {
    error.clear();
    if (path.empty()) {
        error = "no chip database path given";
        return nullptr;
    }
    const fs::path file(path);
    const fs::path folder = file.parent_path();
    std::error_code ec;
    const bool existed = fs::exists(file, ec);
    if (existed && fs::is_directory(file, ec)) {
        error = Quoted(path) + " is a folder, not a database file; choose a file with --database.";
        return nullptr;
    }
    if (!existed && !folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot create the folder " + Quoted(folder.string()) + " for the chip " +
                    "database (" + ec.message() + "); choose a writable place with --database.";
            return nullptr;
        }
    }
    // The journal is written beside the file, so the folder must be writable even when the
    // file itself is.
    if (!FolderWritable(folder)) {
        error = "cannot write the chip database " + Quoted(path) + ": the folder " +
                Quoted(folder.empty() ? std::string(".") : folder.string()) +
                " is not writable; choose a writable place with --database.";
        return nullptr;
    }

    Connection conn;
    if (!conn.Open(path, !existed)) {
        error = DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
        return nullptr;
    }
    // Removes a file this call created when its set-up fails, so no half-made database stays.
    auto discardNew = [&] {
        conn.Close();
        if (!existed) fs::remove(file, ec);
    };
    if (conn.IsReadOnly()) {
        error = Quoted(path) +
                " is read-only: settings, speeds and tool paths could not be saved. Make it "
                "writable or choose another file with --database.";
        return nullptr;
    }
    conn.SetBusyTimeout(BusyTimeoutMs);

    {
        Transaction tx(conn);
        std::optional<FileState> state;
        if (tx.Begun()) state = ReadFileState(conn);
        if (!tx.Begun() || !state) {
            error = DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
            discardNew();
            return nullptr;
        }
        int version = state->Version;
        if (version > SchemaVersion) {
            error = Quoted(path) + " was written by a newer release of tondrel (schema version " +
                    std::to_string(version) + ", this one knows " + std::to_string(SchemaVersion) +
                    "); it was left untouched.";
            return nullptr;
        }
        if (version == 0 && state->Tables > 0) {
            // Tables but no version: a converted catalogue of ours is adopted as it is;
            // anything else belongs to another program and is not ours to change.
            if (state->OurTables != 5) {
                error = Quoted(path) +
                        " is a database of another program; it was left untouched. Choose "
                        "another file with --database.";
                return nullptr;
            }
            version = 1;
        }
        bool ok = true;
        for (int v = version; ok && v < SchemaVersion; ++v) ok = Migrations()[v](conn);
        ok = ok && conn.Execute(DefaultsSql());
        if (ok && state->Version != SchemaVersion) {
            ok = conn.Execute("PRAGMA user_version = " + std::to_string(SchemaVersion));
        }
        if (!ok || !tx.Commit()) {
            error = DescribeOpenFailure(path, conn.ErrorCode(), conn.ErrorMessage());
            if (error.rfind("cannot open", 0) == 0) {
                error = "cannot prepare the chip database " + Quoted(path) + ": " +
                        conn.ErrorMessage() + "; nothing was changed.";
            }
            discardNew();
            return nullptr;
        }
    }
    return std::unique_ptr<Database>(new Database(path, std::move(conn)));
}

bool Database::Fail(const std::string& what, const std::string& why) {
    lastError_ = what + ": " + why;
    return false;
}

bool Database::ExecuteBound(Statement& statement, const char* what) {
    if (!statement.Ok() || !statement.Run()) return Fail(what, statement.Error());
    return true;
}

std::vector<ChipRecord> Database::QueryChips(Statement& statement) {
    std::vector<ChipRecord> chips;
    if (!statement.Ok()) {
        Fail("chip list", statement.Error());
        return chips;
    }
    Statement::StepResult r;
    while ((r = statement.Step()) == Statement::StepResult::Row)
        chips.push_back(RowToChip(statement));
    if (r == Statement::StepResult::Error) {
        Fail("chip list", statement.Error());
        chips.clear();
    }
    return chips;
}

std::vector<std::string> Database::ChipColumns() {
    lastError_.clear();
    std::vector<std::string> names;
    Statement statement(conn_, "select * from chip");
    if (!statement.Ok()) {
        Fail("chip columns", statement.Error());
        return names;
    }
    for (int i = 0; i < statement.ColumnCount(); ++i) names.push_back(statement.ColumnName(i));
    return names;
}

std::vector<ChipRecord> Database::ListChips() {
    lastError_.clear();
    Statement statement(conn_, std::string("select * from chip") + kChipOrderSql);
    return QueryChips(statement);
}

std::vector<ChipRecord> Database::SearchChips(const std::string& fragment) {
    lastError_.clear();
    Statement statement(conn_, std::string("select * from chip where \"芯片名称\" like "
                                           "'%' || ?1 || '%' escape '\\'") +
                                   kChipOrderSql);
    statement.Bind(1, EscapeLike(fragment));
    return QueryChips(statement);
}

std::optional<ChipRecord> Database::FindChip(Method method, const std::string& signature) {
    lastError_.clear();
    if (tondrel::Trim(signature).empty()) return std::nullopt;
    // The stored text may hold several signatures or text around one, hence the substring
    // match; chipid order makes "the first row" the same on every run.
    Statement statement(conn_,
                        "select * from chip where \"芯片编程方法代号\" = ?1 and \"芯片特征码\" "
                        "like '%' || ?2 || '%' escape '\\' order by chipid limit 1");
    statement.Bind(1, MethodCode(method)).Bind(2, EscapeLike(signature));
    auto chips = QueryChips(statement);
    if (chips.empty()) return std::nullopt;
    chips.front().Name = std::string(tondrel::Trim(chips.front().Name));
    return chips.front();
}

std::optional<ChipRecord> Database::ChipById(int id) {
    lastError_.clear();
    Statement statement(conn_, "select * from chip where chipid = ?1");
    statement.Bind(1, id);
    auto chips = QueryChips(statement);
    if (chips.empty()) return std::nullopt;
    return chips.front();
}

std::optional<ChipRecord> Database::ChipByName(const std::string& name) {
    lastError_.clear();
    Statement statement(conn_,
                        "select * from chip where \"芯片名称\" = ?1 collate nocase "
                        "order by chipid limit 1");
    statement.Bind(1, name);
    auto chips = QueryChips(statement);
    if (chips.empty()) return std::nullopt;
    return chips.front();
}

std::optional<int> Database::ReadSpeed(int chipId) {
    lastError_.clear();
    Statement statement(conn_, "select * from speed where chipid = ?1");
    statement.Bind(1, chipId);
    switch (statement.Step()) {
        case Statement::StepResult::Row:
            return statement.Int("speed");
        case Statement::StepResult::Done:
            return std::nullopt;
        case Statement::StepResult::Error:
            break;
    }
    Fail("speed read", statement.Error());
    return std::nullopt;
}

bool Database::WriteSpeed(int chipId, int position) {
    lastError_.clear();
    Transaction tx(conn_);
    if (!tx.Begun()) return Fail("speed write", conn_.ErrorMessage());
    Statement select(conn_, "select * from speed where chipid = ?1");
    select.Bind(1, chipId);
    const Statement::StepResult found = select.Step();
    if (found == Statement::StepResult::Error) return Fail("speed write", select.Error());
    Statement change(conn_, found == Statement::StepResult::Row
                                ? "update speed set speed = ?2 where chipid = ?1"
                                : "insert into speed (chipid, speed) values (?1, ?2)");
    change.Bind(1, chipId).Bind(2, position);
    if (!ExecuteBound(change, "speed write")) return false;
    if (!tx.Commit()) return Fail("speed write", conn_.ErrorMessage());
    return true;
}

Settings Database::ReadSettings() {
    lastError_.clear();
    Settings settings;
    Statement statement(conn_, "select * from settings limit 1");
    const Statement::StepResult r = statement.Step();
    if (r == Statement::StepResult::Error) {
        Fail("settings read", statement.Error());
        return settings;
    }
    if (r == Statement::StepResult::Done) return settings;  // no row: every column reads 0
    settings.Launch = statement.Int("launch");
    settings.IsRunProgram = statement.Int("isRunProgram");
    settings.Language = statement.Int("language");
    settings.IsUpdateFlash = statement.Int("isUpdateFlash");
    settings.IsUpdateEEProm = statement.Int("isUpdateEEProm");
    settings.IsEraseAll = statement.Int("isEraseAll");
    settings.IsProgramFlash = statement.Int("isProgramFlash");
    settings.IsProgramEEProm = statement.Int("isProgramEEProm");
    settings.Sound = statement.Int("sound");
    settings.Lpt = statement.Int("LPT");
    settings.IsVerifyAfter = statement.Int("isVerifyAfter");
    return settings;
}

namespace {

// The settings updates carry no condition and so change nothing without a row; a lost row
// would silently lose the user's choices, so it is put back (with first-start values) first.
constexpr const char* kEnsureSettingsRow =
    "insert into settings (launch) select 1 where not exists (select 1 from settings)";

}  // namespace

bool Database::SaveSettings(int language, bool sound, bool isUpdateFlash, bool isUpdateEEProm,
                            bool isEraseAll, bool isProgramFlash, bool isProgramEEProm, int lpt) {
    lastError_.clear();
    Transaction tx(conn_);
    if (!tx.Begun() || !conn_.Execute(kEnsureSettingsRow)) {
        return Fail("settings save", conn_.ErrorMessage());
    }
    Statement update(conn_,
                     "update settings set language = ?1, sound = ?2, isUpdateFlash = ?3, "
                     "isUpdateEEProm = ?4, isEraseAll = ?5, isProgramFlash = ?6, "
                     "isProgramEEProm = ?7, LPT = ?8");
    update.Bind(1, language)
        .Bind(2, sound ? 1 : 0)
        .Bind(3, isUpdateFlash ? 1 : 0)
        .Bind(4, isUpdateEEProm ? 1 : 0)
        .Bind(5, isEraseAll ? 1 : 0)
        .Bind(6, isProgramFlash ? 1 : 0)
        .Bind(7, isProgramEEProm ? 1 : 0)
        .Bind(8, lpt);
    if (!ExecuteBound(update, "settings save")) return false;
    if (!tx.Commit()) return Fail("settings save", conn_.ErrorMessage());
    return true;
}

bool Database::SetRunProgram(bool on) {
    lastError_.clear();
    Transaction tx(conn_);
    if (!tx.Begun() || !conn_.Execute(kEnsureSettingsRow)) {
        return Fail("launch option", conn_.ErrorMessage());
    }
    Statement update(conn_, "update settings set isRunProgram = ?1");
    update.Bind(1, on ? 1 : 0);
    if (!ExecuteBound(update, "launch option")) return false;
    if (!tx.Commit()) return Fail("launch option", conn_.ErrorMessage());
    return true;
}

bool Database::SetVerifyAfter(bool on) {
    lastError_.clear();
    Transaction tx(conn_);
    if (!tx.Begun() || !conn_.Execute(kEnsureSettingsRow)) {
        return Fail("verify option", conn_.ErrorMessage());
    }
    Statement update(conn_, "update settings set isVerifyAfter = ?1");
    update.Bind(1, on ? 1 : 0);
    if (!ExecuteBound(update, "verify option")) return false;
    if (!tx.Commit()) return Fail("verify option", conn_.ErrorMessage());
    return true;
}

bool Database::SetLaunch(int mode) {
    lastError_.clear();
    Transaction tx(conn_);
    if (!tx.Begun() || !conn_.Execute(kEnsureSettingsRow)) {
        return Fail("download mode", conn_.ErrorMessage());
    }
    Statement update(conn_, "update settings set launch = ?1");
    update.Bind(1, mode);
    if (!ExecuteBound(update, "download mode")) return false;
    if (!tx.Commit()) return Fail("download mode", conn_.ErrorMessage());
    return true;
}

std::string Database::ToolPath(const std::string& key) {
    lastError_.clear();
    Statement statement(conn_, "select * from path where name = ?1 collate nocase");
    statement.Bind(1, key);
    const Statement::StepResult r = statement.Step();
    if (r == Statement::StepResult::Row) return statement.Text("path");
    if (r == Statement::StepResult::Error) Fail("tool path", statement.Error());
    return {};
}

bool Database::SetToolPath(const std::string& key, const std::string& path) {
    lastError_.clear();
    Statement update(conn_, "update path set path = ?1 where name = ?2 collate nocase");
    update.Bind(1, path).Bind(2, key);
    if (!ExecuteBound(update, "tool path")) return false;
    // An update that matched no row used to pass for success; the path would be gone.
    if (conn_.Changes() == 0) return Fail("tool path", "no download mode is named " + Quoted(key));
    return true;
}

std::string Database::SupportText(int hardwareGen) {
    lastError_.clear();
    Statement statement(conn_, "select * from support where chipID = ?1");
    statement.Bind(1, hardwareGen);
    const Statement::StepResult r = statement.Step();
    if (r == Statement::StepResult::Row) return statement.Text("support");
    if (r == Statement::StepResult::Error) Fail("adapter text", statement.Error());
    return {};
}

}  // namespace tondrel::db
