#pragma once
// A line's records store on a database server, with an outbox beside the
// station: a record the server cannot take now is kept in the outbox (a
// SQLite file in the working folder, one transaction per record as in any
// store) and handed on, oldest first, as soon as the server answers again:
// before the next record goes, and whenever Pending is asked. The server keeps one
// record per run and port, so a record whose hand-over reached the server
// but whose answer was lost is never doubled by the next try.
//
// Serial counters and queries are the server's alone: without it they fail.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "linetool/records/records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"

namespace linetool::records::stores {

// The outbox file of a station, in its working folder.
inline constexpr const char* kOutboxFileName = "records_outbox.sqlite";

class OutboxRecordsStore final : public RecordsStore {
 public:
  OutboxRecordsStore(std::unique_ptr<RecordsStore> server, std::unique_ptr<SqliteRecordsStore> outbox);

  bool Shared() const override { return server_->Shared(); }
  // True when the server or, failing it, the outbox holds the record; the
  // record goes to the outbox too while older ones still wait there, so the
  // server receives them in order.
  bool Add(const UnitRecord& record) override;
  std::optional<std::vector<UnitRecord>> Find(const RecordQuery& query) override;
  std::optional<SerialCounter> ReserveSerials(const ProductKey& key, std::string_view base,
                                              std::int64_t count) override;
  std::optional<SerialCounter> PeekSerials(const ProductKey& key) override;
  std::string Error() const override;

  // Hands what waits to the server, oldest first, until it refuses one;
  // then the number of records still waiting, nothing when the outbox
  // cannot be read.
  std::optional<std::size_t> Pending() override;

 private:
  // With the lock held: true when nothing waits any more.
  bool ForwardLocked();
  void SetError(std::string error);

  std::unique_ptr<RecordsStore> server_;
  std::unique_ptr<SqliteRecordsStore> outbox_;
  std::mutex mutex_;
  mutable std::mutex error_mutex_;
  std::string error_;
};

}  // namespace linetool::records::stores
