// The connections page: the tree of addresses, user sessions and connections
// painted line by line, and the action button beside the selected line.
#pragma once

#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include "console/connections_tree.h"

namespace brindlex {

class ConnectionsPage final : public QWidget {
  Q_OBJECT

 public:
  ConnectionsPage(ConsoleEngine& engine, QWidget* parent);
  // Takes the tree again (skipped while the accounts lock is busy) and paints.
  void Repaint();
  // Once a second: the action button's count-down.
  void Second();
  const ConnectionsTree& Tree() const { return tree_; }
  QPushButton* ActionButton() { return button_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void PlaceButton();

  ConsoleEngine& engine_;
  ConnectionsTree tree_;
  QScrollBar* scroll_ = nullptr;
  QPushButton* button_ = nullptr;
};

}  // namespace brindlex
