#pragma once
// Looking into a run on the simulated station from outside: the result cells
// with the station time at which each was written, actions taken on the
// worker's own thread when one of its cells is written (so a fault can be
// injected at a known point of a port's job), the SCSI requests a bridge
// received and the result columns of the daily log.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_fixture.h"

namespace linetool::app::testing {

// The seven stage columns of a grid row.
inline std::vector<std::string> StageRow(RunRig& rig, int row) {
  std::vector<std::string> r;
  for (int c = kFirstStageColumn; c < kFirstStageColumn + 7; ++c) r.push_back(rig.Presenter().CellText(row, c));
  return r;
}

// How many requests with `opcode` bridge `device` (walk order) has received
// since its log was last cleared.
inline std::size_t RequestCount(RunRig& rig, std::size_t device, std::uint8_t opcode) {
  return rig.World().WithDevice(device, [&](auto& model) {
    std::size_t n = 0;
    for (const auto& e : model.Log())
      if (e.request.cdb_length > 0 && e.request.cdb[0] == opcode) ++n;
    return n;
  });
}

inline void ClearRequestLogs(RunRig& rig) {
  for (std::size_t d = 0; d < rig.World().DeviceCount(); ++d)
    rig.World().WithDevice(d, [](auto& model) {
      model.ClearLog();
      return 0;
    });
}

// The seven step results ("PASS", "FAIL", or " " for a step that is off) of
// every log record, by target (port) number, in the order written.
inline std::map<int, std::vector<std::vector<std::string>>> LogResults(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::map<int, std::vector<std::vector<std::string>>> out;
  std::istringstream lines(ss.str());
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', from)) {
      fields.push_back(line.substr(from, tab - from));
      from = tab + 1;
    }
    if (fields.size() < 34 || fields[0] == "Date") continue;
    out[std::stoi(fields[2])].emplace_back(fields.begin() + 27, fields.begin() + 34);
  }
  return out;
}

// Watches the grid of a run. Actions run on the thread that writes the cell,
// before that worker goes on with its job.
class CellWatch {
 public:
  using Millis = std::chrono::milliseconds;

  explicit CellWatch(RunRig& rig) : rig_(rig) {
    rig_.Presenter().SetObserver([this](const PresenterEvent& e) { Seen(e); });
  }
  ~CellWatch() { rig_.Presenter().SetObserver({}); }
  CellWatch(const CellWatch&) = delete;
  CellWatch& operator=(const CellWatch&) = delete;

  // Runs `action` when (row, column) is first given a non-empty text.
  void On(int row, int column, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    actions_[{row, column}] = std::move(action);
  }

  // The station time at which (row, column) was first given a non-empty text.
  std::optional<Millis> When(int row, int column) const {
    std::lock_guard lock(mutex_);
    auto it = written_.find({row, column});
    if (it == written_.end()) return std::nullopt;
    return it->second;
  }
  // The station time of the last cell written.
  Millis Last() const {
    std::lock_guard lock(mutex_);
    Millis last{-1};
    for (const auto& [cell, at] : written_) last = std::max(last, at);
    return last;
  }
  Millis Written(int row, int column) const {
    const auto t = When(row, column);
    EXPECT_TRUE(t.has_value()) << "cell " << row << "," << column << " never written";
    return t.value_or(Millis{-1});
  }

 private:
  void Seen(const PresenterEvent& e) {
    if (e.kind != PresenterEvent::Kind::kCell || e.text.empty()) return;
    std::function<void()> action;
    {
      std::lock_guard lock(mutex_);
      if (!written_.emplace(std::make_pair(e.row, e.column), rig_.Clock().Now()).second) return;
      auto it = actions_.find({e.row, e.column});
      if (it != actions_.end()) action = std::move(it->second);
    }
    if (action) action();
  }

  RunRig& rig_;
  mutable std::mutex mutex_;
  std::map<std::pair<int, int>, Millis> written_;
  std::map<std::pair<int, int>, std::function<void()>> actions_;
};

}  // namespace linetool::app::testing
