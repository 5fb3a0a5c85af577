#pragma once
// A thin RAII layer over the SQLite C API: a connection, and a prepared statement whose values
// are always bound, never pasted into the SQL text.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tondrel::db {

class Connection {
  public:
    Connection() = default;
    Connection(Connection&&) noexcept = default;
    Connection& operator=(Connection&&) noexcept = default;

    // Opens the file read-write; with create, a missing file is created. On failure the
    // connection stays closed and ErrorMessage() says why.
    bool Open(const std::string& path, bool create);
    void Close() { db_.reset(); }

    // Runs one or more statements that take no parameters (scripts, pragmas, transactions).
    bool Execute(std::string_view sql);
    void SetBusyTimeout(int milliseconds);
    bool IsReadOnly() const;
    int Changes() const;

    // The last error of this connection: message text and extended result code.
    std::string ErrorMessage() const;
    int ErrorCode() const;

    sqlite3* Handle() const { return db_.get(); }

  private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
    std::string openError_;
    int openCode_ = 0;
};

class Statement {
  public:
    enum class StepResult { Row, Done, Error };

    // Prepares sql on the connection; check Ok() before use.
    Statement(Connection& connection, std::string_view sql);
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    bool Ok() const { return stmt_ != nullptr; }
    // Why the statement failed to prepare, bind or step.
    const std::string& Error() const { return error_; }

    // Parameters are numbered from 1, as in the SQL text (?1, ?2 ...).
    Statement& Bind(int index, int value);
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, std::string_view text);

    StepResult Step();
    // Steps to the end; true when the statement completed.
    bool Run();
    // Makes a completed statement ready to run again (bindings stay).
    void Reset();

    int ColumnCount() const;
    std::string ColumnName(int column) const;
    // Index of a result column by name, compared without regard to ASCII letter case, as the
    // program's statements spell some names in another case; -1 when there is none.
    int ColumnIndex(std::string_view name) const;

    int Int(int column) const;
    int64_t Int64(int column) const;
    bool IsNull(int column) const;
    std::string Text(int column) const;
    int Int(std::string_view name) const;
    std::string Text(std::string_view name) const;

  private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const;
    };
    void Fail(const char* what);

    sqlite3* db_ = nullptr;
    std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
    std::string error_;
};

}  // namespace tondrel::db
