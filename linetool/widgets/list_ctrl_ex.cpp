#include "linetool/widgets/list_ctrl_ex.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace linetool::widgets {

namespace {

const std::string kEmpty;

int Sign(long double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

int CompareCaseSensitive(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareCaseInsensitive(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A text that is a non-zero integer written exactly as its decimal rendering
// ("12", "-7"; not "012", "+3", "0", "1.0").
std::optional<long> CanonicalNonZeroInteger(const std::string& s) {
  const long v = std::strtol(s.c_str(), nullptr, 10);
  if (v == 0) return std::nullopt;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld", v);
  if (s != buf) return std::nullopt;
  return v;
}

// Reads an unsigned decimal number of 1..max_digits digits at `pos`.
std::optional<int> ReadNumber(std::string_view s, std::size_t& pos, std::size_t max_digits) {
  std::size_t start = pos;
  int v = 0;
  while (pos < s.size() && pos - start < max_digits && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    v = v * 10 + (s[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  return v;
}

long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool ValidDate(int y, int m, int d) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return !(m == 2 && d == 29 && !leap);
}

// Parses a date with an optional time: "YYYY-MM-DD", "YYYY/MM/DD", "MM/DD/YYYY",
// "DD.MM.YYYY", each optionally followed by " HH:MM[:SS]" (or "T"), or a time
// alone. Returns seconds since 1970-01-01 (a time alone counts from 1899-12-30).
std::optional<long long> ParseDateTime(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  if (s.empty()) return std::nullopt;
  std::size_t pos = 0;
  int y = 1899, m = 12, d = 30;
  auto a = ReadNumber(s, pos, 4);
  if (!a) return std::nullopt;
  bool have_date = false;
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '/' || s[pos] == '.')) {
    const char sep = s[pos++];
    auto b = ReadNumber(s, pos, 2);
    if (!b || pos >= s.size() || s[pos] != sep) return std::nullopt;
    ++pos;
    auto c = ReadNumber(s, pos, 4);
    if (!c) return std::nullopt;
    if (*a >= 100) {
      y = *a, m = *b, d = *c;
    } else if (sep == '.') {
      d = *a, m = *b, y = *c;
    } else {
      m = *a, d = *b, y = *c;
    }
    if (!ValidDate(y, m, d)) return std::nullopt;
    have_date = true;
    if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) {
      ++pos;
      a = ReadNumber(s, pos, 2);
      if (!a) return std::nullopt;
    } else if (pos == s.size()) {
      return DaysFromCivil(y, m, d) * 86400;
    } else {
      return std::nullopt;
    }
  }
  // A time: a holds the hour.
  if (pos >= s.size() || s[pos] != ':') return std::nullopt;
  ++pos;
  const int hour = *a;
  auto minute = ReadNumber(s, pos, 2);
  if (!minute) return std::nullopt;
  int second = 0;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    auto sec = ReadNumber(s, pos, 2);
    if (!sec) return std::nullopt;
    second = *sec;
  }
  if (pos != s.size() || hour > 23 || *minute > 59 || second > 59) return std::nullopt;
  (void)have_date;
  return DaysFromCivil(y, m, d) * 86400 + hour * 3600 + *minute * 60 + second;
}

}  // namespace

CListCtrlEx::CListCtrlEx(int columns, Colour default_background, Colour default_text)
    : columns_(columns), default_background_(default_background), default_text_(default_text) {}

int CListCtrlEx::InsertRow(int index, const std::string& text, std::intptr_t value) {
  index = std::clamp(index, 0, RowCount());
  Row row;
  row.texts.assign(static_cast<std::size_t>(columns_), std::string());
  if (columns_ > 0) row.texts[0] = text;
  row.data = std::make_unique<ItemData>();
  row.data->value = value;
  rows_.insert(rows_.begin() + index, std::move(row));
  return index;
}

void CListCtrlEx::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
}

void CListCtrlEx::DeleteAllRows() { rows_.clear(); }

bool CListCtrlEx::InRange(int row, int column) const {
  return row >= 0 && row < RowCount() && column >= 0 && column < columns_;
}

void CListCtrlEx::SetText(int row, int column, const std::string& text) {
  if (!InRange(row, column)) return;
  rows_[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)] = text;
}

const std::string& CListCtrlEx::Text(int row, int column) const {
  if (!InRange(row, column)) return kEmpty;
  return rows_[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

CListCtrlEx::ItemData& CListCtrlEx::DataOf(int row) {
  auto& data = rows_[static_cast<std::size_t>(row)].data;
  if (!data) data = std::make_unique<ItemData>();
  return *data;
}

CListCtrlEx::ColumnInfo& CListCtrlEx::ColumnOf(int column) {
  auto [it, inserted] = column_info_.try_emplace(column);
  if (inserted) it->second.column = column;
  return it->second;
}

void CListCtrlEx::SetCellColours(int row, int column, Colour background, Colour text) {
  if (!InRange(row, column)) return;
  ItemData& data = DataOf(row);
  auto it = std::find_if(data.cells.begin(), data.cells.end(),
                         [&](const auto& c) { return c->subitem == column; });
  CellInfo* cell;
  if (it == data.cells.end()) {
    data.cells.push_back(std::make_unique<CellInfo>());
    cell = data.cells.back().get();
    cell->subitem = column;
  } else {
    cell = it->get();
  }
  cell->background = background;
  cell->text = text;
}

void CListCtrlEx::SetRowColours(int row, Colour background, Colour text) {
  if (!InRange(row, 0)) return;
  ItemData& data = DataOf(row);
  data.background = background;
  data.text = text;
}

void CListCtrlEx::SetColumnColours(int column, Colour background, Colour text) {
  if (column < 0 || column >= columns_) return;
  ColumnInfo& info = ColumnOf(column);
  info.background = background;
  info.text = text;
}

void CListCtrlEx::SetColumnSort(int column, unsigned flags, int sort_type, Compare compare) {
  if (column < 0 || column >= columns_) return;
  ColumnInfo& info = ColumnOf(column);
  info.sort_flags = flags;
  info.sort_type = sort_type;
  info.compare = std::move(compare);
}

CListCtrlEx::Colours CListCtrlEx::CellColours(int row, int column) const {
  auto decide = [&](Colour bg, Colour fg) -> std::optional<Colours> {
    if (bg == kColourNone && fg == kColourNone) return std::nullopt;
    return Colours{bg == kColourNone ? default_background_ : bg,
                   fg == kColourNone ? default_text_ : fg};
  };
  if (InRange(row, column)) {
    if (const ItemData* data = rows_[static_cast<std::size_t>(row)].data.get()) {
      if (const CellInfo* cell = Cell(row, column)) {
        if (auto c = decide(cell->background, cell->text)) return *c;
      }
      if (auto c = decide(data->background, data->text)) return *c;
    }
    if (const ColumnInfo* info = Column(column)) {
      if (auto c = decide(info->background, info->text)) return *c;
    }
  }
  return Colours{default_background_, default_text_};
}

const CListCtrlEx::ItemData* CListCtrlEx::RowData(int row) const {
  if (!InRange(row, 0)) return nullptr;
  return rows_[static_cast<std::size_t>(row)].data.get();
}

const CListCtrlEx::CellInfo* CListCtrlEx::Cell(int row, int column) const {
  const ItemData* data = RowData(row);
  if (!data) return nullptr;
  for (const auto& c : data->cells) {
    if (c->subitem == column) return c.get();
  }
  return nullptr;
}

const CListCtrlEx::ColumnInfo* CListCtrlEx::Column(int column) const {
  auto it = column_info_.find(column);
  return it == column_info_.end() ? nullptr : &it->second;
}

SortArrow CListCtrlEx::Arrow(int column) const {
  if (column != sort_column_) return SortArrow::kNone;
  const ColumnInfo* info = Column(column);
  if (!info) return SortArrow::kNone;
  return (info->sort_flags & kSortAscending) ? SortArrow::kUp : SortArrow::kDown;
}

int CListCtrlEx::CompareTexts(const std::string& a, const std::string& b, int sort_type) {
  switch (sort_type) {
    case 0:
      return 0;
    case 1:
      return Sign(static_cast<long double>(std::strtol(a.c_str(), nullptr, 10)) -
                  static_cast<long double>(std::strtol(b.c_str(), nullptr, 10)));
    case 2:
      return Sign(std::strtold(a.c_str(), nullptr) - std::strtold(b.c_str(), nullptr));
    case 4:
    case 6: {
      const auto ia = CanonicalNonZeroInteger(a);
      const auto ib = CanonicalNonZeroInteger(b);
      if (ia && ib) return Sign(static_cast<long double>(*ia) - static_cast<long double>(*ib));
      return sort_type == 4 ? CompareCaseSensitive(a, b) : CompareCaseInsensitive(a, b);
    }
    case 5:
      return CompareCaseInsensitive(a, b);
    case 7: {
      const auto da = ParseDateTime(a);
      const auto db = ParseDateTime(b);
      if (!da || !db) return 1;
      return *da < *db ? -1 : (*da > *db ? 1 : 0);
    }
    default:
      return CompareCaseSensitive(a, b);
  }
}

bool CListCtrlEx::SortByColumn(int column, bool from_click) {
  auto it = column_info_.find(column);
  if (it == column_info_.end()) return false;
  ColumnInfo& info = it->second;
  if ((info.sort_flags & (kSortAscending | kSortDescending | kSortToggle)) == 0) return false;
  if (info.sort_flags & kSortToggle) {
    if ((info.sort_flags & (kSortAscending | kSortDescending)) == 0) info.sort_flags |= kSortDescending;
    if (from_click) info.sort_flags ^= (kSortAscending | kSortDescending);
  }
  const int direction = (info.sort_flags & kSortAscending) ? 1 : -1;
  sort_column_ = column;
  const auto col = static_cast<std::size_t>(column);
  std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
    int c;
    if (info.compare) {
      c = info.compare(a.data ? a.data->value : 0, b.data ? b.data->value : 0);
    } else {
      c = CompareTexts(a.texts[col], b.texts[col], info.sort_type);
    }
    return c * direction < 0;
  });
  return true;
}

void CListCtrlEx::ClearSort() {
  std::stable_sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) {
    return (a.data ? a.data->value : 0) < (b.data ? b.data->value : 0);
  });
  for (auto& [column, info] : column_info_)
    if (info.sort_flags & kSortToggle) info.sort_flags &= ~(kSortAscending | kSortDescending);
  sort_column_ = -1;
}

}  // namespace linetool::widgets
