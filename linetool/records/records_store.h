#pragma once
// The records store: where the station keeps one record per unit, and, on a
// store that several stations share, the serial number counters of a line.
//
// A store may be used from any thread; calls are serialised inside it and may
// block on the database (a file lock, the network). Failures are answered
// with false or nothing, and Error() says why in a sentence for the operator.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linetool/records/unit_record.h"

namespace linetool::records {

// Which records an export or a look-up wants; empty fields do not filter.
struct RecordQuery {
  std::string serial;   // the serial written, or the device's before or after the run
  std::string from;     // first day, "YYYY-MM-DD", inclusive
  std::string to;       // last day, inclusive
  std::string station;
  std::optional<bool> passed;
  // Only the newest `last` of the records selected (by time, then station,
  // run and port); 0: all of them.
  std::size_t last = 0;
};

// A product of the line: one serial counter each.
struct ProductKey {
  std::string vid;
  std::string pid;
  std::string serial_prefix;
  bool operator==(const ProductKey&) const = default;
};

// A product's counter: serial numbers are the base advanced by 0, 1, 2, ...
// `next` is the first advance not handed out yet. An empty base: no counter.
struct SerialCounter {
  std::string base;
  std::int64_t next = 0;
};

class RecordsStore {
 public:
  virtual ~RecordsStore() = default;

  // True when several stations may use the store at once (a database server).
  virtual bool Shared() const = 0;
  // Writes one record in one transaction: afterwards the store holds all of
  // it or, after a failure or a crash at any point, none of it.
  virtual bool Add(const UnitRecord& record) = 0;
  // The records the query selects, oldest first.
  virtual std::optional<std::vector<UnitRecord>> Find(const RecordQuery& query) = 0;
  // Takes `count` serial numbers of a product in one transaction. A product
  // without counter gets one starting at `base`. Answers the counter as it
  // was before: the serials taken are its base advanced by next .. next+count-1.
  virtual std::optional<SerialCounter> ReserveSerials(const ProductKey& key, std::string_view base,
                                                      std::int64_t count) = 0;
  // The counter of a product as it is now (an empty base when there is none).
  virtual std::optional<SerialCounter> PeekSerials(const ProductKey& key) = 0;
  // Why the last call failed.
  virtual std::string Error() const = 0;
  // Records written but not in the store itself yet (waiting in an outbox
  // for a server that does not answer); nothing when that cannot be told.
  // A store without outbox has none.
  virtual std::optional<std::size_t> Pending() { return std::size_t{0}; }
};

}  // namespace linetool::records
