#include "linetool/app/last_records.h"

#include <cstdio>
#include <utility>

#include "linetool/app/port_grid.h"

namespace linetool::app {

namespace {

// The grid's own header of a column.
std::string GridHeader(int column) {
  return std::string(profile::MessageText(GridColumns()[static_cast<std::size_t>(column)].header));
}

// A value the run changed reads "before -> after".
std::string Change(const std::string& before, const std::string& after) {
  if (before.empty() || before == after) return after;
  return before + " -> " + after;
}

// The time of the stages that ran, "m:ss" (or "h:mm:ss").
std::string Duration(const records::UnitRecord& r) {
  std::int64_t ms = 0;
  for (const auto& s : r.stages)
    if (s.result != records::StageResult::kOff) ms += s.milliseconds;
  const std::int64_t seconds = (ms + 500) / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

// The header of the first stage that failed; empty when none did.
std::string FailedStage(const records::UnitRecord& r) {
  for (std::size_t i = 0; i < r.stages.size(); ++i)
    if (r.stages[i].result == records::StageResult::kFail) return GridHeader(kFirstStageColumn + static_cast<int>(i));
  return {};
}

}  // namespace

LastRecordsRow LastRecordsRowOf(const records::UnitRecord& r) {
  return {{r.time, std::to_string(r.port), Change(r.before.serial, r.after.serial),
           Change(r.before.firmware_version, r.after.firmware_version), r.passed ? "PASS" : "FAIL", FailedStage(r),
           Duration(r)},
          r.passed};
}

const std::vector<std::string>& LastRecords::Columns() {
  static const std::vector<std::string> columns = {"Time",   GridHeader(0), GridHeader(4), GridHeader(5),
                                                   "Result", "Failed At",   "Duration"};
  return columns;
}

LastRecords::LastRecords(records::RecordsStore& store, std::string station, std::size_t count)
    : store_(store),
      station_(std::move(station)),
      count_(count),
      reader_([this](std::uint64_t asked) { Read(asked); }) {
  state_.message = "Not read yet.";
}

LastRecords::~LastRecords() { reader_.Stop(); }

std::string LastRecords::Title() const { return "Last records of station " + station_; }

void LastRecords::Refresh() {
  std::lock_guard lock(mutex_);
  state_.reading = true;
  reader_.Post(++asked_);
}

void LastRecords::NoteLost(int port, const std::string& why) {
  std::lock_guard lock(mutex_);
  lost_ports_.push_back(port);
  lost_why_ = why;
}

void LastRecords::RunEnded() {
  {
    std::lock_guard lock(mutex_);
    state_.lost.clear();
    if (!lost_ports_.empty()) {
      std::string ports;
      for (int p : lost_ports_) ports += (ports.empty() ? "" : ", ") + std::to_string(p);
      state_.lost = std::string(lost_ports_.size() == 1 ? "The record of port " : "The records of ports ") + ports +
                    " of the last run could not be written: " + lost_why_ + ".";
    }
    lost_ports_.clear();
    lost_why_.clear();
  }
  Refresh();
}

LastRecords::State LastRecords::Current() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void LastRecords::SetObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void LastRecords::WaitIdle() const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !state_.reading; });
}

void LastRecords::Read(std::uint64_t asked) {
  records::RecordQuery query;
  query.station = station_;
  query.last = count_;
  const auto pending = store_.Pending();
  const auto found = store_.Find(query);
  const std::string error = found ? std::string() : store_.Error();
  std::unique_lock lock(mutex_);
  if (found) {
    state_.rows.clear();
    for (auto it = found->rbegin(); it != found->rend(); ++it) state_.rows.push_back(LastRecordsRowOf(*it));
    state_.message = state_.rows.empty() ? "No records of this station yet."
                                         : "The newest " + std::to_string(state_.rows.size()) + " records, newest first.";
    state_.unreadable = false;
  } else {
    state_.message = "The records store cannot be read: " + error + "." +
                     (state_.rows.empty() ? "" : " The records shown are those read before.") +
                     " The station works on and keeps its log.";
    state_.unreadable = true;
  }
  if (pending) {
    state_.pending = *pending;
    state_.waiting = *pending == 0 ? std::string()
                     : *pending == 1
                         ? "1 record waits in the outbox for the records server; it goes there once the server answers."
                         : std::to_string(*pending) +
                               " records wait in the outbox for the records server; they go there once the server "
                               "answers.";
  }
  ++state_.reads;
  // A read asked for meanwhile is answered next.
  state_.reading = asked != asked_;
  const Observer observer = observer_;
  lock.unlock();
  changed_.notify_all();
  if (observer) observer();
}

}  // namespace linetool::app
