#include "linetool/records/stores/open_records_store.h"

#include "linetool/records/stores/postgres_records_store.h"
#include "linetool/records/stores/sqlite_records_store.h"

namespace linetool::records::stores {

bool NamesDatabaseServer(const std::string& store) {
  return store.starts_with("postgresql://") || store.starts_with("postgres://");
}

std::unique_ptr<RecordsStore> OpenRecordsStore(const std::string& store, std::string& error) {
  if (NamesDatabaseServer(store)) return PostgresRecordsStore::Open(store, error);
  return SqliteRecordsStore::Open(store, error);
}

}  // namespace linetool::records::stores
