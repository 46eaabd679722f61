#include "linetool/records/stores/open_records_store.h"

#include "linetool/records/stores/outbox_records_store.h"
#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"

namespace linetool::records::stores {

bool NamesDatabaseServer(const std::string& store) {
  return store.starts_with("postgresql://") || store.starts_with("postgres://");
}

std::unique_ptr<RecordsStore> OpenRecordsStore(const std::string& store, std::string& error,
                                               const std::string& outbox_folder) {
  if (!NamesDatabaseServer(store)) return SqliteRecordsStore::Open(store, error);
  auto server = PostgresRecordsStore::Open(store, error);
  if (!server || outbox_folder.empty()) return server;
  auto outbox = SqliteRecordsStore::Open(outbox_folder + "/" + kOutboxFileName, error);
  if (!outbox) {
    error = "the outbox for the records the server cannot take: " + error;
    return nullptr;
  }
  return std::make_unique<OutboxRecordsStore>(std::move(server), std::move(outbox));
}

}  // namespace linetool::records::stores
