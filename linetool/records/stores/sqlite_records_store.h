#pragma once
// The records store of one station: one SQLite file in write-ahead-log mode,
// created with its tables on first use and brought up to the current schema
// when an older station made it.

#include <memory>
#include <mutex>
#include <string>

#include "linetool/records/records_store.h"

struct sqlite3;

namespace linetool::records::stores {

class SqliteRecordsStore final : public RecordsStore {
 public:
  // Opens or creates the file (host path). Nothing, with `error` set, when it
  // cannot be opened, is not a records store or is newer than this station.
  static std::unique_ptr<SqliteRecordsStore> Open(const std::string& path, std::string& error);
  ~SqliteRecordsStore() override;
  SqliteRecordsStore(const SqliteRecordsStore&) = delete;
  SqliteRecordsStore& operator=(const SqliteRecordsStore&) = delete;

  bool Shared() const override { return false; }
  bool Add(const UnitRecord& record) override;
  std::optional<std::vector<UnitRecord>> Find(const RecordQuery& query) override;
  std::optional<SerialCounter> ReserveSerials(const ProductKey& key, std::string_view base,
                                              std::int64_t count) override;
  std::optional<SerialCounter> PeekSerials(const ProductKey& key) override;
  std::string Error() const override;

  // Takes the record of a run's port out (an outbox hands it on so); true
  // also when there was none.
  bool Remove(const std::string& run_id, int port);
  // The number of records held.
  std::optional<std::size_t> Count();

  // The schema version of the file.
  int SchemaVersion();
  // SQLite's own check of the file: "ok" when sound.
  std::string IntegrityCheck();

 private:
  explicit SqliteRecordsStore(sqlite3* db) : db_(db) {}
  bool Migrate();
  bool Fail(const std::string& what);

  sqlite3* db_;
  mutable std::mutex mutex_;
  std::string error_;
};

}  // namespace linetool::records::stores
