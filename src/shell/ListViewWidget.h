#pragma once

#include <QTreeWidget>
#include <functional>

#include "ListView.h"

// A list view of a window: one column under a visible header, entries in the order added,
// each on one line.
class ListViewWidget : public QTreeWidget, public ListView {
 public:
  explicit ListViewWidget(QWidget* parent = nullptr);

  void addItem(const QString& text) override;
  void addValue(const QString& shown, bool isNull) override;
  void clear() override;
  int count() const override;
  int selectedIndex() const override;
  QString selectedText() const override;
  QString text(int index) const override;
  // Selects the first entry with exactly this text, as the program (no pick); false when
  // there is none.
  bool selectEntry(const QString& text);
  // Every entry's exact text, in order.
  QStringList texts() const;

  // Runs when the user picks an entry: a click on one, and also a selection moved by the
  // keyboard or by dragging, which must not leave the lists that follow this one behind.
  // Changes made by the program do not count.
  std::function<void()> onPick = [] {};

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int selectedAtPress_ = -1;
  bool clickedSincePress_ = false;
};
