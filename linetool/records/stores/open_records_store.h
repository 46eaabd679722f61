#pragma once
// The records store a setting names: a postgresql:// (or postgres://) URL is
// a line's PostgreSQL database, anything else the path of a SQLite file.

#include <memory>
#include <string>

#include "linetool/records/records_store.h"

namespace linetool::records::stores {

bool NamesDatabaseServer(const std::string& store);

// Nothing, with `error` set, when the file cannot be used or the connection
// string not read. A database server is not reached yet: that happens on
// first use. With `outbox_folder` (a host path), a server's records that
// cannot reach it wait in an outbox there (OutboxRecordsStore).
std::unique_ptr<RecordsStore> OpenRecordsStore(const std::string& store, std::string& error,
                                               const std::string& outbox_folder = {});

}  // namespace linetool::records::stores
