#pragma once
// The SQL scripts of db/sql, compiled into the library.
#include <string_view>

namespace tondrel::db {

// Tables of a new database (schema version 1).
std::string_view SchemaSql();
// The chip catalogue rows, loaded once when the database is created.
std::string_view CatalogueSql();
// Rows that must always exist (the settings row, the seven tool paths, the adapter texts);
// idempotent, so it runs at every open and repairs a file whose rows were removed.
std::string_view DefaultsSql();

}  // namespace tondrel::db
