#pragma once

#include <QString>

// A one-column list of a window, as the database code fills and reads it.
class ListView {
 public:
  virtual ~ListView() = default;
  // Adds an entry at the end; a list that was empty selects its first entry.
  virtual void addItem(const QString& text) = 0;
  // Adds a field's value as `shown`; where that is blank, a screen reader hears whether the
  // value is NULL or the empty text, which look the same.
  virtual void addValue(const QString& shown, bool isNull) {
    (void)isNull;
    addItem(shown);
  }
  virtual void clear() = 0;
  virtual int count() const = 0;
  // -1 when no entry is selected.
  virtual int selectedIndex() const = 0;
  // The text of the selected entry; fails when none is selected.
  virtual QString selectedText() const = 0;
  // The text of the entry at `index`, from 0.
  virtual QString text(int index) const = 0;
};
