#pragma once
// What the SQL stores share: the tables, a record as the texts of its
// columns and back, and the WHERE clause of a query.

#include <optional>
#include <string>
#include <vector>

#include "linetool/records/record_columns.h"
#include "linetool/records/records_store.h"

namespace linetool::records::stores {

// One step of a store's schema; a new version appends one, old ones never change.
struct Migration {
  int version;
  std::string sql;  // statements separated by ";"
};

// The schema's steps for a database whose row identifiers are declared as
// `id_column` ("INTEGER PRIMARY KEY AUTOINCREMENT", "BIGSERIAL PRIMARY KEY").
std::vector<Migration> Migrations(const std::string& id_column);

// The column list "run_id, station, ..." and the placeholders of an INSERT,
// numbered from 1 after `placeholder` ('?' or '$').
std::string ColumnList();
// The INSERT of one record. A record of a run and port that is there already
// is not written again (a statement sent again after a lost connection).
std::string InsertStatement(char placeholder);

// " WHERE ... ORDER BY ..." of a query, with its parameters in order.
struct Selection {
  std::string clause;
  std::vector<std::string> parameters;
};
Selection SelectionOf(const RecordQuery& query, char placeholder);

// The statement that takes serial numbers: parameters vid, pid, prefix, base,
// count; it answers the counter's base and its advance before the taking.
std::string ReserveStatement(char placeholder);

}  // namespace linetool::records::stores
