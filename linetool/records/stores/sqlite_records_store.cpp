#include "linetool/records/stores/sqlite_records_store.h"

#include <sqlite3.h>

#include "linetool/records/stores/record_rows.h"

namespace linetool::records::stores {

namespace {

// How long a writer waits for another process's transaction on the file.
constexpr int kBusyMilliseconds = 10000;

struct Statement {
  sqlite3_stmt* s = nullptr;
  ~Statement() { sqlite3_finalize(s); }
};

bool Bind(sqlite3_stmt* s, const std::vector<std::optional<std::string>>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int at = static_cast<int>(i) + 1;
    const int rc = values[i] ? sqlite3_bind_text(s, at, values[i]->data(), static_cast<int>(values[i]->size()),
                                                 SQLITE_TRANSIENT)
                             : sqlite3_bind_null(s, at);
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

std::optional<std::string> ColumnText(sqlite3_stmt* s, int column) {
  if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
}

}  // namespace

std::unique_ptr<SqliteRecordsStore> SqliteRecordsStore::Open(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) {
    error = "cannot open the records file " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<SqliteRecordsStore> store(new SqliteRecordsStore(db));
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  // Write-ahead log, and every commit on the medium before it returns: a
  // power cut keeps each record whole or leaves it out.
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK ||
      !store->Migrate()) {
    error = "the records file " + path + " cannot be used: " + store->error_;
    return nullptr;
  }
  return store;
}

SqliteRecordsStore::~SqliteRecordsStore() { sqlite3_close(db_); }

bool SqliteRecordsStore::Fail(const std::string& what) {
  error_ = what + ": " + sqlite3_errmsg(db_);
  return false;
}

int SqliteRecordsStore::SchemaVersion() {
  std::lock_guard lock(mutex_);
  Statement st;
  if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &st.s, nullptr) != SQLITE_OK) return -1;
  return sqlite3_step(st.s) == SQLITE_ROW ? sqlite3_column_int(st.s, 0) : -1;
}

bool SqliteRecordsStore::Migrate() {
  const std::vector<Migration> steps = Migrations("INTEGER PRIMARY KEY AUTOINCREMENT");
  // The version is read and the steps applied in one write transaction, so two
  // stations opening a new file at once make its tables once.
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return Fail("cannot lock the file");
  int version = -1;
  {
    Statement st;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &st.s, nullptr) == SQLITE_OK &&
        sqlite3_step(st.s) == SQLITE_ROW)
      version = sqlite3_column_int(st.s, 0);
  }
  bool ok = version >= 0;
  if (ok && version > steps.back().version) {
    error_ = "its schema version " + std::to_string(version) + " is newer than this station's (" +
             std::to_string(steps.back().version) + ")";
    ok = false;
  }
  for (const Migration& m : steps) {
    if (!ok || m.version <= version) continue;
    const std::string sql = m.sql + ";PRAGMA user_version=" + std::to_string(m.version);
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      ok = Fail("schema version " + std::to_string(m.version));
  }
  if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) ok = Fail("cannot commit the schema");
  if (!ok) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return ok;
}

bool SqliteRecordsStore::Add(const UnitRecord& record) {
  std::lock_guard lock(mutex_);
  // One statement: one transaction, so the file holds all of the record or none.
  static const std::string sql = InsertStatement('?');
  Statement st;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK || !Bind(st.s, RowOf(record)))
    return Fail("cannot write the record");
  if (sqlite3_step(st.s) != SQLITE_DONE) return Fail("cannot write the record");
  return true;
}

std::optional<std::vector<UnitRecord>> SqliteRecordsStore::Find(const RecordQuery& query) {
  std::lock_guard lock(mutex_);
  const Selection sel = SelectionOf(query, '?');
  const std::string sql = "SELECT " + ColumnList() + " FROM unit_records" + sel.clause;
  Statement st;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK ||
      !Bind(st.s, {sel.parameters.begin(), sel.parameters.end()})) {
    Fail("cannot read the records");
    return std::nullopt;
  }
  std::vector<UnitRecord> records;
  const int columns = static_cast<int>(RecordColumns().size());
  int rc;
  while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
    Row row;
    for (int c = 0; c < columns; ++c) row.push_back(ColumnText(st.s, c));
    records.push_back(RecordOf(row));
  }
  if (rc != SQLITE_DONE) {
    Fail("cannot read the records");
    return std::nullopt;
  }
  return records;
}

std::optional<SerialCounter> SqliteRecordsStore::ReserveSerials(const ProductKey& key, std::string_view base,
                                                                std::int64_t count) {
  std::lock_guard lock(mutex_);
  static const std::string sql = ReserveStatement('?');
  Statement st;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK ||
      !Bind(st.s, {key.vid, key.pid, key.serial_prefix, std::string(base), std::to_string(count)}) ||
      sqlite3_step(st.s) != SQLITE_ROW) {
    Fail("cannot take serial numbers");
    return std::nullopt;
  }
  SerialCounter counter{ColumnText(st.s, 0).value_or(""), sqlite3_column_int64(st.s, 1)};
  if (sqlite3_step(st.s) != SQLITE_DONE) {
    Fail("cannot take serial numbers");
    return std::nullopt;
  }
  return counter;
}

std::optional<SerialCounter> SqliteRecordsStore::PeekSerials(const ProductKey& key) {
  std::lock_guard lock(mutex_);
  Statement st;
  if (sqlite3_prepare_v2(db_, "SELECT base, next_advance FROM serial_counters WHERE vid = ?1 AND pid = ?2 AND prefix = ?3",
                         -1, &st.s, nullptr) != SQLITE_OK ||
      !Bind(st.s, {key.vid, key.pid, key.serial_prefix})) {
    Fail("cannot read the serial counter");
    return std::nullopt;
  }
  const int rc = sqlite3_step(st.s);
  if (rc == SQLITE_DONE) return SerialCounter{};
  if (rc != SQLITE_ROW) {
    Fail("cannot read the serial counter");
    return std::nullopt;
  }
  return SerialCounter{ColumnText(st.s, 0).value_or(""), sqlite3_column_int64(st.s, 1)};
}

bool SqliteRecordsStore::Remove(const std::string& run_id, int port) {
  std::lock_guard lock(mutex_);
  Statement st;
  if (sqlite3_prepare_v2(db_, "DELETE FROM unit_records WHERE run_id = ?1 AND port = ?2", -1, &st.s, nullptr) !=
          SQLITE_OK ||
      !Bind(st.s, {run_id, std::to_string(port)}) || sqlite3_step(st.s) != SQLITE_DONE)
    return Fail("cannot take the record out");
  return true;
}

std::optional<std::size_t> SqliteRecordsStore::Count() {
  std::lock_guard lock(mutex_);
  Statement st;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM unit_records", -1, &st.s, nullptr) != SQLITE_OK ||
      sqlite3_step(st.s) != SQLITE_ROW) {
    Fail("cannot count the records");
    return std::nullopt;
  }
  return static_cast<std::size_t>(sqlite3_column_int64(st.s, 0));
}

std::string SqliteRecordsStore::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::string SqliteRecordsStore::IntegrityCheck() {
  std::lock_guard lock(mutex_);
  Statement st;
  if (sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &st.s, nullptr) != SQLITE_OK) return sqlite3_errmsg(db_);
  std::string result;
  while (sqlite3_step(st.s) == SQLITE_ROW) result += (result.empty() ? "" : "\n") + ColumnText(st.s, 0).value_or("");
  return result;
}

}  // namespace linetool::records::stores
