#pragma once
// The window's "Last Records": the newest unit records of this station,
// newest first, as rows an operator reads (time, port, serial, firmware,
// result, the stage that failed, how long the port took).
//
// The records are read from the store on a thread of their own, so a slow or
// unreachable database holds neither the window nor the run: Refresh only
// asks for a read, and the observer hears when it has been answered. A store
// that cannot be read leaves the rows of the last good read and says why, and
// records the last run could not write are named until the next run ends.
// Each read first hands on what waits in the store's outbox for a server
// that was away, and says how many still wait.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "linetool/records/records_store.h"
#include "linetool/records/unit_record.h"
#include "platform/latest_request_worker.h"

namespace linetool::app {

// How many of the station's records the window shows.
inline constexpr std::size_t kLastRecordsShown = 50;

struct LastRecordsRow {
  std::vector<std::string> texts;  // one per column of LastRecords::Columns()
  bool passed = false;
};

// One record as the row the window shows.
LastRecordsRow LastRecordsRowOf(const records::UnitRecord& record);

class LastRecords {
 public:
  // Columns of a row; the result is column kResultColumn.
  static const std::vector<std::string>& Columns();
  static constexpr int kResultColumn = 4;

  struct State {
    std::vector<LastRecordsRow> rows;  // newest first
    std::string message;               // what the rows are, or why they could not be read
    std::string lost;                  // the ports of the last run whose records were not written, and why
    std::size_t pending = 0;           // records that wait in the outbox for the server
    std::string waiting;               // says so when any wait
    bool unreadable = false;           // the last read failed
    bool reading = false;              // a read is under way or asked for
    std::uint64_t reads = 0;           // reads answered so far
  };

  LastRecords(records::RecordsStore& store, std::string station, std::size_t count = kLastRecordsShown);
  // Waits for a read under way (the store's own time-out bounds it).
  ~LastRecords();
  LastRecords(const LastRecords&) = delete;
  LastRecords& operator=(const LastRecords&) = delete;

  // "Last records of station NAME"
  std::string Title() const;
  // Asks for a new read and returns at once; several asks before the reader
  // gets to them make one read.
  void Refresh();
  // A port's record of the run under way could not be written.
  void NoteLost(int port, const std::string& why);
  // The run has ended (its records are written or noted lost): says which
  // were lost, if any, and reads again.
  void RunEnded();
  State Current() const;
  // Called on the reader's thread after each read, with no lock held.
  using Observer = std::function<void()>;
  void SetObserver(Observer observer);
  // Waits until every read asked for so far has been answered.
  void WaitIdle() const;

 private:
  // Answers the read asked for as the `asked`th.
  void Read(std::uint64_t asked);

  records::RecordsStore& store_;
  const std::string station_;
  const std::size_t count_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t asked_ = 0;  // reads asked for so far
  std::vector<int> lost_ports_;
  std::string lost_why_;
  State state_;
  Observer observer_;
  platform::LatestRequestWorker<std::uint64_t> reader_;  // last: it stops and joins before the rest goes
};

}  // namespace linetool::app
