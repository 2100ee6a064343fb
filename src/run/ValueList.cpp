#include "ValueList.h"

#include "Connection.h"
#include "DbError.h"
#include "RecordSet.h"
#include "RowCondition.h"
#include "SqlText.h"

ValueList::ValueList() : connection_(std::make_unique<Connection>()) {}
ValueList::~ValueList() = default;

void ValueList::count(const QString& connectionString, const QString& table, const QString& field,
                      const QString& rows) {
  if (!open_) {
    connection_->CommandTimeout = 0;  // a big column takes its time; cancel() ends it
    connection_->Open(connectionString);
    open_ = true;
  }
  connection_->Execute(QStringLiteral("DROP TEMPORARY TABLE IF EXISTS klarifeld_values"));
  if (const QString problem = RowConditionProblem(*connection_, table, rows); !problem.isEmpty()) {
    throw DbError(problem);
  }
  const QString value = QuotedName(field);
  const QString bytes = QStringLiteral("CAST(%1 AS BINARY)").arg(value);
  // All of a group's values are the same bytes: MIN picks that one. Each order has a rank
  // of its own, so that any page is found through an index.
  connection_->Execute(
      QStringLiteral(
          "CREATE TEMPORARY TABLE klarifeld_values (PRIMARY KEY (by_count), INDEX (by_value), "
          "INDEX (by_length)) AS SELECT MIN(%1) AS v, COUNT(*) AS n, "
          "ROW_NUMBER() OVER (ORDER BY COUNT(*) DESC, %2) AS by_count, "
          "ROW_NUMBER() OVER (ORDER BY MIN(%1), %2) AS by_value, "
          "ROW_NUMBER() OVER (ORDER BY CHAR_LENGTH(MIN(%1)), %2) AS by_length "
          "FROM %3%4 GROUP BY %2")
          .arg(value, bytes, QuotedName(table), WhereClause(rows)));
  const auto sums =
      connection_->Execute(QStringLiteral("SELECT COALESCE(SUM(n), 0), COUNT(*) FROM "
                                          "klarifeld_values"));
  totals_ = {sums->Value(0).value_or(QString()).toLongLong(),
             sums->Value(1).value_or(QString()).toLongLong()};
  show(Order::Count, false, {}, false);
}

void ValueList::cancel() const {
  if (open_) connection_->Cancel();
}

void ValueList::show(Order order, bool descending, const QString& filter, bool regex) {
  const char* rank = order == Order::Count   ? "by_count"
                     : order == Order::Value ? "by_value"
                                             : "by_length";
  // Matched by characters exactly, as the preview's filter matches: "o" is not "ö".
  const QString exact = QStringLiteral("CONVERT(v USING utf8mb4) COLLATE utf8mb4_bin");
  QString where;
  if (!filter.isEmpty()) {
    where = regex ? QStringLiteral(" WHERE %1 REGEXP %2").arg(exact, TextLiteral(filter))
                  : QStringLiteral(" WHERE LOCATE(%2, %1) > 0").arg(exact, TextLiteral(filter));
  }
  const auto counted =
      connection_->Execute(QStringLiteral("SELECT COUNT(*) FROM klarifeld_values") + where);
  shown_ = counted->Value(0).value_or(QString()).toLongLong();
  where_ = where;
  orderBy_ = QStringLiteral(" ORDER BY %1%2")
                 .arg(QLatin1String(rank), descending ? QStringLiteral(" DESC") : QString());
  pages_.clear();
  pagesRead_.clear();
}

const ValueCount& ValueList::at(qint64 row) {
  const qint64 page = row / PageRows;
  auto found = pages_.find(page);
  if (found == pages_.end()) {
    if (pagesRead_.size() == KeptPages) {
      pages_.erase(pagesRead_.front());
      pagesRead_.pop_front();
    }
    std::vector<ValueCount> values;
    RecordSet read;
    read.Open(QStringLiteral("SELECT v, n FROM klarifeld_values") + where_ + orderBy_ +
                  QStringLiteral(" LIMIT %1 OFFSET %2").arg(PageRows).arg(page * PageRows),
              *connection_);
    for (; !read.Eof(); read.MoveNext()) values.push_back(ValueCountOf(read));
    found = pages_.emplace(page, std::move(values)).first;
    pagesRead_.push_back(page);
  }
  static const ValueCount none;
  const std::vector<ValueCount>& values = found->second;
  const std::size_t at = std::size_t(row % PageRows);
  return at < values.size() ? values[at] : none;
}
