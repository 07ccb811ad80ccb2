// The cache page without its list widget: the page's private copy of the
// cache index, the cell texts, the ordering, the URL search and the two
// figures labels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/console_engine.h"

namespace brindlex {

inline constexpr int kCacheColumns = 6;
enum CacheColumn {
  kCacheUrl = 0,
  kCacheLength = 1,
  kCacheCreated = 2,
  kCacheAccepted = 3,
  kCacheUsed = 4,
  kCacheValidUntil = 5
};
std::vector<std::string> CacheColumnCaptions();

// A cache time as the page prints it ("%d/%m/%y %X" of the Greenwich
// seconds), "-" when the record has none (0 or -1).
std::string CacheTimeText(std::int64_t greenwichSeconds);

class CacheList {
 public:
  // Takes every entry with a URL; the row of the URL that was selected stays
  // selected when it is still there.
  void Load(std::vector<ConsoleCacheEntry> entries);
  // Leaving the page: the copy is let go (the search text stays).
  void Release();

  const std::vector<ConsoleCacheEntry>& Rows() const { return rows_; }
  std::string Cell(std::size_t row, int column) const;
  // Numbers for the length and time columns, the URL byte by byte for the
  // URL column and for equal numbers; `descending` reverses the order.
  void Sort(int column, bool descending);

  std::optional<std::size_t> Selected() const { return selected_; }
  void Select(std::size_t row);

  // Remembers the text and selects the first row from the top whose URL
  // holds it (letter case counts). False, selection unchanged, on no row.
  bool Find(const std::string& text);
  // The same from the row after the selection; false without a text.
  bool FindNext();
  const std::string& SearchText() const { return search_; }

  // Asks the engine to delete the selected object and removes its row.
  bool DeleteSelected(ConsoleEngine& engine);

 private:
  bool FindFrom(std::size_t first);

  std::vector<ConsoleCacheEntry> rows_;
  std::optional<std::size_t> selected_;
  std::string search_;
};

// "Internet: n Mb; Cache: m Mb;" with the cache's share of both in percent.
std::string CacheTrafficLabel(const CacheFigures& figures);
// "Objects: n; Size: m Mb;"
std::string CacheObjectsLabel(const CacheFigures& figures);

}  // namespace brindlex
