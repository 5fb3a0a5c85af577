#include "db/Sqlite.h"

#include <sqlite3.h>

#include <cctype>

namespace tondrel::db {

void Connection::Closer::operator()(sqlite3* db) const {
    // close_v2 defers the close if a statement is still alive instead of failing.
    sqlite3_close_v2(db);
}

bool Connection::Open(const std::string& path, bool create) {
    db_.reset();
    openError_.clear();
    openCode_ = SQLITE_OK;
    sqlite3* raw = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create) flags |= SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    if (raw != nullptr) sqlite3_extended_result_codes(raw, 1);
    if (rc != SQLITE_OK) {
        openCode_ = raw != nullptr ? sqlite3_extended_errcode(raw) : rc;
        openError_ = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
        sqlite3_close_v2(raw);
        return false;
    }
    db_.reset(raw);
    return true;
}

bool Connection::Execute(std::string_view sql) {
    if (!db_) return false;
    // sqlite3_exec wants a terminated string; scripts are small.
    std::string text(sql);
    return sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

void Connection::SetBusyTimeout(int milliseconds) {
    if (db_) sqlite3_busy_timeout(db_.get(), milliseconds);
}

bool Connection::IsReadOnly() const {
    return db_ && sqlite3_db_readonly(db_.get(), "main") == 1;
}

int Connection::Changes() const {
    return db_ ? sqlite3_changes(db_.get()) : 0;
}

std::string Connection::ErrorMessage() const {
    if (!db_) return openError_.empty() ? "database not open" : openError_;
    return sqlite3_errmsg(db_.get());
}

int Connection::ErrorCode() const {
    if (!db_) return openCode_ != SQLITE_OK ? openCode_ : SQLITE_MISUSE;
    return sqlite3_extended_errcode(db_.get());
}

void Statement::Finalizer::operator()(sqlite3_stmt* stmt) const {
    sqlite3_finalize(stmt);
}

Statement::Statement(Connection& connection, std::string_view sql) : db_(connection.Handle()) {
    if (db_ == nullptr) {
        error_ = "database not open";
        return;
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
            SQLITE_OK ||
        raw == nullptr) {
        sqlite3_finalize(raw);
        error_ = raw == nullptr && sqlite3_errcode(db_) == SQLITE_OK ? "empty statement"
                                                                     : sqlite3_errmsg(db_);
        return;
    }
    stmt_.reset(raw);
}

void Statement::Fail(const char* what) {
    error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
    stmt_.reset();
}

Statement& Statement::Bind(int index, int value) {
    if (stmt_ && sqlite3_bind_int(stmt_.get(), index, value) != SQLITE_OK) Fail("bind");
    return *this;
}

Statement& Statement::Bind(int index, int64_t value) {
    if (stmt_ && sqlite3_bind_int64(stmt_.get(), index, value) != SQLITE_OK) Fail("bind");
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (stmt_ && sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT) != SQLITE_OK) {
        Fail("bind");
    }
    return *this;
}

Statement::StepResult Statement::Step() {
    if (!stmt_) return StepResult::Error;
    int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return StepResult::Row;
    if (rc == SQLITE_DONE) return StepResult::Done;
    error_ = sqlite3_errmsg(db_);
    return StepResult::Error;
}

bool Statement::Run() {
    StepResult r;
    while ((r = Step()) == StepResult::Row) {
    }
    return r == StepResult::Done;
}

void Statement::Reset() {
    if (stmt_) sqlite3_reset(stmt_.get());
}

int Statement::ColumnCount() const {
    return stmt_ ? sqlite3_column_count(stmt_.get()) : 0;
}

std::string Statement::ColumnName(int column) const {
    const char* name = stmt_ ? sqlite3_column_name(stmt_.get(), column) : nullptr;
    return name != nullptr ? name : "";
}

int Statement::ColumnIndex(std::string_view name) const {
    const int count = ColumnCount();
    for (int i = 0; i < count; ++i) {
        const char* column = sqlite3_column_name(stmt_.get(), i);
        if (column == nullptr) continue;
        std::string_view candidate(column);
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < name.size() && same; ++k) {
            same = std::tolower(static_cast<unsigned char>(candidate[k])) ==
                   std::tolower(static_cast<unsigned char>(name[k]));
        }
        if (same) return i;
    }
    return -1;
}

int Statement::Int(int column) const {
    if (!stmt_ || column < 0 || column >= ColumnCount()) return 0;
    return sqlite3_column_int(stmt_.get(), column);
}

int64_t Statement::Int64(int column) const {
    if (!stmt_ || column < 0 || column >= ColumnCount()) return 0;
    return sqlite3_column_int64(stmt_.get(), column);
}

bool Statement::IsNull(int column) const {
    return !stmt_ || column < 0 || column >= ColumnCount() ||
           sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

std::string Statement::Text(int column) const {
    if (!stmt_ || column < 0 || column >= ColumnCount()) return {};
    const unsigned char* text = sqlite3_column_text(stmt_.get(), column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), column)));
}

int Statement::Int(std::string_view name) const {
    return Int(ColumnIndex(name));
}

std::string Statement::Text(std::string_view name) const {
    return Text(ColumnIndex(name));
}

}  // namespace tondrel::db
