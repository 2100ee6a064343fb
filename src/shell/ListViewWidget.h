#pragma once

#include <QTreeWidget>

#include "ListView.h"

// A list view of a window: one column under a visible header, entries in the order added,
// each on one line.
class ListViewWidget : public QTreeWidget, public ListView {
 public:
  explicit ListViewWidget(QWidget* parent = nullptr);

  void addItem(const QString& text) override;
  void clear() override;
  int count() const override;
  int selectedIndex() const override;
  QString selectedText() const override;
};
