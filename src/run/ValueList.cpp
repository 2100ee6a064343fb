#include "ValueList.h"

#include "Connection.h"
#include "DbError.h"
#include "Engine.h"
#include "RecordSet.h"
#include "RowCondition.h"

ValueList::ValueList() : connection_(std::make_unique<Connection>()) {}
ValueList::~ValueList() = default;

void ValueList::count(const QString& connectionString, const QString& table, const QString& field,
                      const QString& rows) {
  if (!open_) {
    connection_->CommandTimeout = 0;  // a big column takes its time; cancel() ends it
    connection_->Open(connectionString);
    open_ = true;
  }
  if (const QString problem = RowConditionProblem(*connection_, table, rows); !problem.isEmpty()) {
    throw DbError(problem);
  }
  EngineOf(*connection_).keepValueCounts(*connection_, table, field, rows);
  field_ = field;  // of the values kept; a count that failed leaves the last one's
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
  const QString where =
      filter.isEmpty()
          ? QString()
          : QStringLiteral(" WHERE ") + EngineOf(*connection_).keptValuesFilter(filter, regex);
  const auto counted =
      connection_->Execute(QStringLiteral("SELECT COUNT(*) FROM klarifeld_values") + where);
  shown_ = counted->Value(0).value_or(QString()).toLongLong();
  where_ = where;
  orderBy_ = QStringLiteral(" ORDER BY %1%2")
                 .arg(QLatin1String(rank), descending ? QStringLiteral(" DESC") : QString());
  pages_.clear();
  pagesRead_.clear();
}

QString ValueList::rowsHolding(const ValueCount& counted) const {
  return EngineOf(*connection_)
      .rowsHoldingValue(
          field_, counted.value ? std::optional(QString::fromUtf8(*counted.value)) : std::nullopt);
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
