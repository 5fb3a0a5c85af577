#pragma once
// The chip database: catalogue, per-chip speed, settings, external tool paths and the adapter
// texts, in one SQLite file. Every statement the program sends is one function here, and every
// value travels as a bound parameter, so a name fragment or a path holding a quote is just text.
//
// A call that can fail returns a Status or a Result naming what failed (keys "Db...", the
// SQLite reason as the argument). Nothing throws.
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ChipRecord.h"
#include "common/Status.h"
#include "db/Sqlite.h"

namespace tondrel::db {

// The schema this build writes. A file with a lower user_version is migrated at open; one with
// a higher version came from a newer release and is refused rather than damaged.
inline constexpr int SchemaVersion = 6;

// How long a statement waits for another program's lock before giving up.
inline constexpr int BusyTimeoutMs = 1000;

// The single settings row, as integers exactly as stored. Flags count as on only when their
// low 8 bits equal 1 (see IsOn).
struct Settings {
    int Launch = 0;
    int IsRunProgram = 0;
    int Language = 0;  // 0 not chosen yet, 1 English, 2 Chinese
    int IsUpdateFlash = 0;
    int IsUpdateEEProm = 0;
    int IsEraseAll = 0;
    int IsProgramFlash = 0;
    int IsProgramEEProm = 0;
    int Sound = 0;
    int Lpt = 0;            // 1 LPT1, 2 LPT2, 3 LPT3
    int IsVerifyAfter = 1;  // read the written range back after a write (the sixth box)
    int IsCheckBlank = 0;   // ... and check that what the file left out reads blank

    bool operator==(const Settings&) const = default;
};

inline bool IsOn(int flag) {
    return (flag & 0xFF) == 1;
}

// Where the database lives: the explicit path when given; else chip.db beside the executable
// when one already lies there (portable use); else $XDG_DATA_HOME/tondrel/chip.db, with
// ~/.local/share standing in for an unset or relative XDG_DATA_HOME.
std::string ResolveDatabasePath(const std::string& explicitPath, const std::string& exeDir);
// The same with the environment passed in (empty = unset).
std::string ResolveDatabasePath(const std::string& explicitPath, const std::string& exeDir,
                                const std::string& xdgDataHome, const std::string& home);

// The eight-line settings update as the program has always written it (lines separated by
// "\n"; note the historical spellings such as "isupdateFlash" and "isEraseall"). Execution
// binds the values instead; this text is kept for logs and comparison.
std::string SettingsUpdateText(int language, bool sound, bool isUpdateFlash, bool isUpdateEEProm,
                               bool isEraseAll, bool isProgramFlash, bool isProgramEEProm, int lpt);

class Database {
  public:
    // Opens the database at path, creating it (and its folder) when missing and bringing an
    // older file up to the current schema. Refuses, with one clear message, a file that is not
    // a database, a database of another program, one from a newer release, a location that
    // cannot be written and a database locked by another program. An existing file is never
    // replaced or emptied.
    static Result<std::unique_ptr<Database>> Open(const std::string& path);

    const std::string& Path() const { return path_; }

    // ---- catalogue ----
    // Column names of "select * from chip", in table order (the name is at position 2).
    Result<std::vector<std::string>> ChipColumns();
    // All chips, ordered by method code, then name.
    Result<std::vector<ChipRecord>> ListChips();
    // Chips whose name contains fragment (ASCII letters compared without regard to case);
    // the fragment is literal text, '%' and '_' included. Same order as ListChips.
    Result<std::vector<ChipRecord>> SearchChips(const std::string& fragment);
    // Detection lookup: the first row (by chipid) of this method code whose signature column
    // contains signature. The name comes back trimmed. An empty or blank signature finds
    // nothing: those engines cannot identify their chip.
    Result<std::optional<ChipRecord>> FindChip(Method method, const std::string& signature);
    Result<std::optional<ChipRecord>> ChipById(int id);
    // Exact name, without regard to letter case ("atmega16" finds "ATmega16").
    Result<std::optional<ChipRecord>> ChipByName(const std::string& name);

    // ---- speed ----
    // The stored speed-bar position of the chip, as stored (the caller clamps it to the bar);
    // nothing when the chip has none yet.
    Result<std::optional<int>> ReadSpeed(int chipId);
    // Updates the chip's row, or inserts it when there is none.
    Status WriteSpeed(int chipId, int position);

    // ---- settings ----
    // The first settings row; every column 0 when there is no row.
    Result<Settings> ReadSettings();
    Status SaveSettings(int language, bool sound, bool isUpdateFlash, bool isUpdateEEProm,
                        bool isEraseAll, bool isProgramFlash, bool isProgramEEProm, int lpt);
    Status SetRunProgram(bool on);
    Status SetVerifyAfter(bool on);
    Status SetCheckBlank(bool on);
    Status SetLaunch(int mode);

    // ---- external tools ----
    // The stored path for a download-mode key (case ignored); empty when none.
    Result<std::string> ToolPath(const std::string& key);
    // Stores the path under an existing key; an unknown key fails ("DbNoToolKey").
    Status SetToolPath(const std::string& key, const std::string& path);

    // ---- serial numbers ----
    // The next number of a project's counter (a file path), for one chip: a number an earlier
    // chip gave back comes first, else the counter's value (`start` for a new counter), which
    // then moves on by `step`. One immediate transaction, so two programs running at once never
    // take the same number.
    Result<int64_t> ReserveSerial(const std::string& project, int64_t start, int64_t step);
    // A reserved number that no chip kept (the chip failed or the run stopped): the next
    // reservation takes it again.
    Status ReleaseSerial(const std::string& project, int64_t value);

    // ---- adapter texts ----
    // The chips an adapter kind serves (1 generation one, 2 generation two, 3 Altera cable);
    // empty for any other kind.
    Result<std::string> SupportText(int hardwareGen);

    // The underlying connection, for maintenance tools and tests.
    Connection& Raw() { return conn_; }

  private:
    Database(std::string path, Connection conn) : path_(std::move(path)), conn_(std::move(conn)) {}

    Result<std::vector<ChipRecord>> QueryChips(Statement& statement);
    Result<std::optional<ChipRecord>> QueryChip(Statement& statement);
    Result<std::string> QueryText(Statement& statement, const char* column, const char* key);
    Status UpdateSettings(const char* sql, std::initializer_list<int> values, const char* key);

    std::string path_;
    Connection conn_;
};

}  // namespace tondrel::db
