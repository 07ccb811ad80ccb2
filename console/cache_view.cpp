#include "console/cache_view.h"

#include <algorithm>
#include <ctime>

#include "core/clock.h"
#include "core/display_forms.h"
#include "core/strings.h"
#include "core/value_codec.h"

namespace brindlex {

namespace {

std::int64_t ColumnNumber(const ConsoleCacheEntry& entry, int column) {
  switch (column) {
    case kCacheLength:
      return entry.length;
    case kCacheCreated:
      return entry.created;
    case kCacheAccepted:
      return entry.accepted;
    case kCacheUsed:
      return entry.used;
    case kCacheValidUntil:
      return entry.validUntil;
    default:
      return 0;
  }
}

}  // namespace

std::vector<std::string> CacheColumnCaptions() {
  std::vector<std::string> captions;
  for (int column = 0; column < kCacheColumns; ++column) captions.push_back(Str(7 + column));
  return captions;
}

std::string CacheTimeText(std::int64_t greenwichSeconds) {
  if (greenwichSeconds == 0 || greenwichSeconds == -1) return "-";
  // The date form of every other page; local seconds are broken down without
  // any zone shift, so Greenwich time stays Greenwich time.
  return FormatDateAndTime(greenwichSeconds);
}

void CacheList::Load(std::vector<ConsoleCacheEntry> entries) {
  std::string selectedUrl;
  if (selected_) selectedUrl = rows_[*selected_].url;
  rows_.clear();
  selected_.reset();
  for (ConsoleCacheEntry& entry : entries)
    if (!entry.url.empty()) rows_.push_back(std::move(entry));
  if (selectedUrl.empty()) return;
  for (std::size_t row = 0; row < rows_.size(); ++row)
    if (rows_[row].url == selectedUrl) {
      selected_ = row;
      break;
    }
}

void CacheList::Release() {
  rows_.clear();
  rows_.shrink_to_fit();
  selected_.reset();
}

std::string CacheList::Cell(std::size_t row, int column) const {
  if (row >= rows_.size()) return "";
  const ConsoleCacheEntry& entry = rows_[row];
  switch (column) {
    case kCacheUrl:
      return entry.url;
    case kCacheLength:
      return std::to_string(entry.length);
    case kCacheCreated:
    case kCacheAccepted:
    case kCacheUsed:
    case kCacheValidUntil:
      return CacheTimeText(ColumnNumber(entry, column));
    default:
      return "";
  }
}

void CacheList::Sort(int column, bool descending) {
  std::string selectedUrl;
  if (selected_) selectedUrl = rows_[*selected_].url;
  auto less = [column](const ConsoleCacheEntry& a, const ConsoleCacheEntry& b) {
    const std::int64_t first = ColumnNumber(a, column), second = ColumnNumber(b, column);
    return first != second ? first < second : a.url < b.url;
  };
  std::stable_sort(rows_.begin(), rows_.end(), [&](const ConsoleCacheEntry& a, const ConsoleCacheEntry& b) {
    return descending ? less(b, a) : less(a, b);
  });
  if (!selected_) return;
  for (std::size_t row = 0; row < rows_.size(); ++row)
    if (rows_[row].url == selectedUrl) selected_ = row;
}

void CacheList::Select(std::size_t row) {
  if (row < rows_.size()) selected_ = row;
}

bool CacheList::FindFrom(std::size_t first) {
  for (std::size_t row = first; row < rows_.size(); ++row)
    if (rows_[row].url.find(search_) != std::string::npos) {
      selected_ = row;
      return true;
    }
  return false;
}

bool CacheList::Find(const std::string& text) {
  search_ = text;
  return FindFrom(0);
}

bool CacheList::FindNext() {
  if (search_.empty()) return false;
  return FindFrom(selected_ ? *selected_ + 1 : 0);
}

bool CacheList::DeleteSelected(ConsoleEngine& engine) {
  if (!selected_) return false;
  const std::size_t row = *selected_;
  // The row goes even when the engine no longer had the object: it is gone either way.
  engine.DeleteCacheEntry(rows_[row].url);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  if (row < rows_.size())
    selected_ = row;
  else if (rows_.empty())
    selected_.reset();
  else
    selected_ = rows_.size() - 1;
  return true;
}

std::string CacheTrafficLabel(const CacheFigures& figures) {
  std::string text = Str(1190) + FormatTrafficIn(figures.internetBytes, TrafficUnit::Mb, figures.bytesPerMb) +
                     Str(1191) + FormatTrafficIn(figures.cacheBytes, TrafficUnit::Mb, figures.bytesPerMb) + Str(1192);
  const std::int64_t both = figures.internetBytes + figures.cacheBytes;
  if (both != 0)
    text += " (" + FormatNumberText(static_cast<double>(figures.cacheBytes) * 100.0 / static_cast<double>(both)) + "%)";
  return text;
}

std::string CacheObjectsLabel(const CacheFigures& figures) {
  return Str(1193) + std::to_string(figures.objects) + "; " + Str(1194) +
         FormatNumberText(static_cast<double>(figures.objectBytes) / 1048576.0) + Str(1192);
}

}  // namespace brindlex
