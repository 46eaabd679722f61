#pragma once
// The records store of a line: one PostgreSQL database that every station
// of the line writes to at once, chosen by a connection string
// ("postgresql://user@host/db", or key=value words).
//
// The store connects on first use and again after a lost connection, so a
// database that was away for a while is used again once it is back.

#include <memory>
#include <mutex>
#include <string>

#include "linetool/records/records_store.h"

struct pg_conn;

namespace linetool::records::stores {

class PostgresRecordsStore final : public RecordsStore {
 public:
  // Nothing, with `error` set, when the connection string cannot be read.
  static std::unique_ptr<PostgresRecordsStore> Open(const std::string& conninfo, std::string& error);
  ~PostgresRecordsStore() override;
  PostgresRecordsStore(const PostgresRecordsStore&) = delete;
  PostgresRecordsStore& operator=(const PostgresRecordsStore&) = delete;

  bool Shared() const override { return true; }
  bool Add(const UnitRecord& record) override;
  std::optional<std::vector<UnitRecord>> Find(const RecordQuery& query) override;
  std::optional<SerialCounter> ReserveSerials(const ProductKey& key, std::string_view base,
                                              std::int64_t count) override;
  std::optional<SerialCounter> PeekSerials(const ProductKey& key) override;
  std::string Error() const override;

  // Connects (and brings the schema up to date) unless connected; false with
  // Error() set when the database cannot be reached.
  bool Reach();
  int SchemaVersion();

 private:
  explicit PostgresRecordsStore(std::string conninfo) : conninfo_(std::move(conninfo)) {}
  bool ConnectLocked();
  bool MigrateLocked();
  void DropLocked();
  struct Result;
  // Runs one statement; `rows` receives its rows (texts, NULL as nothing).
  // One retry on a fresh connection when the old one had been lost.
  bool ExecLocked(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                  std::vector<std::vector<std::optional<std::string>>>* rows, const std::string& what);

  std::string conninfo_;
  pg_conn* conn_ = nullptr;
  mutable std::mutex mutex_;
  std::string error_;
};

}  // namespace linetool::records::stores
