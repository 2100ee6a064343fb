#pragma once

#include <QString>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "ColumnValues.h"

class Connection;

// A column's distinct values with their counts for a window to page through: counted once
// on the server (by their bytes) into a temporary table of the list's own connection,
// ranked there in each order it can be shown in, then read a page at a time. The client
// holds a few pages, however many values there are.
class ValueList {
 public:
  enum class Order { Count, Value, Length };
  struct Totals {
    qint64 rows = 0;
    qint64 values = 0;
  };

  ValueList();
  ~ValueList();
  // Counts the values of the rows where `rows` holds (every row when empty), again on the
  // same connection when asked again; throws DbError, also for a condition that cannot be
  // used. Run off the window thread: cancel() ends it.
  void count(const QString& connectionString, const QString& table, const QString& field,
             const QString& rows = {});
  void cancel() const;
  const Totals& totals() const { return totals_; }

  // The values shown from now on: those that hold `filter` (or match it, as a regular
  // expression of the server's, when `regex`), in `order`, most first or least first.
  // Throws DbError for an expression the server refuses.
  void show(Order order, bool descending, const QString& filter, bool regex);
  qint64 shown() const { return shown_; }
  // The value shown at `row`, read with its page when it is not at hand.
  const ValueCount& at(qint64 row);
  // The condition that holds for the rows whose field holds exactly `counted`'s value.
  QString rowsHolding(const ValueCount& counted) const;

 private:
  static constexpr qint64 PageRows = 200;
  static constexpr std::size_t KeptPages = 8;

  std::unique_ptr<Connection> connection_;
  std::atomic<bool> open_ = false;  // cancel() may reach the server
  QString field_;
  Totals totals_;
  QString where_;
  QString orderBy_;
  qint64 shown_ = 0;
  std::map<qint64, std::vector<ValueCount>> pages_;
  std::deque<qint64> pagesRead_;  // oldest first: the first to go
};
