#include "linetool/records/stores/outbox_records_store.h"

#include <utility>

namespace linetool::records::stores {

OutboxRecordsStore::OutboxRecordsStore(std::unique_ptr<RecordsStore> server, std::unique_ptr<SqliteRecordsStore> outbox)
    : server_(std::move(server)), outbox_(std::move(outbox)) {}

bool OutboxRecordsStore::ForwardLocked() {
  const auto waiting = outbox_->Find({});
  if (!waiting) {
    SetError("the outbox cannot be read: " + outbox_->Error());
    return false;
  }
  for (const UnitRecord& r : *waiting) {
    // The server takes a record it holds already without a second copy.
    if (!server_->Add(r)) {
      SetError(server_->Error());
      return false;
    }
    if (!outbox_->Remove(r.run_id, r.port)) {
      SetError("the outbox cannot be emptied: " + outbox_->Error());
      return false;
    }
  }
  return true;
}

bool OutboxRecordsStore::Add(const UnitRecord& record) {
  std::lock_guard lock(mutex_);
  if (ForwardLocked()) {
    if (server_->Add(record)) return true;
    SetError(server_->Error());
  }
  if (outbox_->Add(record)) return true;
  SetError(Error() + "; the outbox cannot keep the record: " + outbox_->Error());
  return false;
}

std::optional<std::size_t> OutboxRecordsStore::Pending() {
  std::lock_guard lock(mutex_);
  ForwardLocked();
  return outbox_->Count();
}

std::optional<std::vector<UnitRecord>> OutboxRecordsStore::Find(const RecordQuery& query) {
  auto found = server_->Find(query);
  if (!found) SetError(server_->Error());
  return found;
}

std::optional<SerialCounter> OutboxRecordsStore::ReserveSerials(const ProductKey& key, std::string_view base,
                                                                std::int64_t count) {
  auto c = server_->ReserveSerials(key, base, count);
  if (!c) SetError(server_->Error());
  return c;
}

std::optional<SerialCounter> OutboxRecordsStore::PeekSerials(const ProductKey& key) {
  auto c = server_->PeekSerials(key);
  if (!c) SetError(server_->Error());
  return c;
}

std::string OutboxRecordsStore::Error() const {
  std::lock_guard lock(error_mutex_);
  return error_;
}

void OutboxRecordsStore::SetError(std::string error) {
  std::lock_guard lock(error_mutex_);
  error_ = std::move(error);
}

}  // namespace linetool::records::stores
