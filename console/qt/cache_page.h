// The cache page: the private copy of the cache index while the page shows,
// find, delete, view, refresh and the two figures labels.
#pragma once

#include <QLabel>
#include <QTableWidget>
#include <QWidget>

#include "console/cache_view.h"

namespace brindlex {

class CachePage final : public QWidget {
  Q_OBJECT

 public:
  CachePage(ConsoleEngine& engine, QWidget* parent);
  // Takes a new copy of the index; the selected URL stays selected.
  void Refresh();
  // The page is left: the copy goes.
  void Release();
  void UpdateLabels();
  const CacheList& List() const { return list_; }

 private:
  void Show();
  void Find();
  void FindNext();
  void Delete();
  void View();

  ConsoleEngine& engine_;
  CacheList list_;
  int sortColumn_ = -1;
  bool descending_ = false;
  QTableWidget* table_ = nullptr;
  QLabel* traffic_ = nullptr;
  QLabel* objects_ = nullptr;
};

}  // namespace brindlex
