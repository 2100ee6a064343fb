#include "RecipeRun.h"

#include <algorithm>
#include <limits>
#include <span>

#include "ChangeRule.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "DbError.h"
#include "Dialogs.h"
#include "Engine.h"
#include "RecordSet.h"
#include "RewriteRun.h"
#include "RowCondition.h"
#include "RowUpdater.h"
#include "RunJournal.h"
#include "SqlText.h"
#include "WorkerThread.h"

namespace {

constexpr int PreviewTimeoutSeconds = 5000;
// What values changed meanwhile are said to have changed since, in a run that reads and
// writes a table at once.
const QString StreamedSince = QStringLiteral("they were read");

// A field's part of the recipe, as the journal and the progress window name it: its
// operations in order, and their answers.
RunDescription describeField(const Recipe& recipe, const RecipeField& field) {
  RunDescription description{.table = field.table, .field = field.field, .operation = {}};
  QStringList operations, conditions;
  for (int at : field.steps) {
    const RecipeStep& step = recipe.steps[std::size_t(at)];
    operations << step.operation->caption.toString();
    description.answers << step.answerList();
    if (!step.where.isEmpty() && !conditions.contains(step.where)) conditions << step.where;
  }
  description.rows = conditions.join(QStringLiteral("; "));
  description.operation = operations.join(QStringLiteral(", then "));
  description.since = QStringLiteral("the preview");
  return description;
}

// How the summary names a field's part of the run: "t.v (steps 1, 2)".
QString partName(const RecipeField& field) {
  QStringList steps;
  for (int at : field.steps) steps << QString::number(at + 1);
  return field.table + u'.' + field.field +
         (steps.size() == 1 ? QStringLiteral(" (step ") : QStringLiteral(" (steps ")) +
         steps.join(QStringLiteral(", ")) + u')';
}

// The fields of one table: how its rows are read, and each field's place among them.
struct TableReading {
  QString select;
  std::vector<int> readAt;  // by field of the recipe's table, its column in the reading
  QByteArrayList keyColumns;
  // The rows each step cleans: for a step with a condition, the column that says whether it
  // holds for the record (after the others); -1: every row.
  std::vector<int> stepHolds;
};

std::vector<int> positionsOf(const FieldCollection& tableFields,
                             const std::vector<RecipeField>& fields) {
  std::vector<int> positions;
  for (const RecipeField& field : fields) {
    int position = 0;
    while (tableFields.Name(position) != field.field) ++position;  // checked to be there
    positions.push_back(position);
  }
  return positions;
}

TableReading readingOf(const Engine& engine, Session& session, const FieldCollection& tableFields,
                       const std::vector<RecipeField>& fields, const QString& table,
                       const Recipe& recipe) {
  const std::vector<int> positions = positionsOf(tableFields, fields);
  TableReading reading;
  const std::vector<int> columns =
      FieldsForWriting(session, tableFields, positions, &reading.keyColumns);
  QStringList names;
  for (int column : columns) names << engine.quotedName(tableFields.Name(column));
  for (int position : positions) {
    reading.readAt.push_back(
        int(std::distance(columns.begin(), std::find(columns.begin(), columns.end(), position))));
  }
  // A row that no step's condition holds for is not read at all, unless a step cleans
  // every row.
  reading.stepHolds.assign(recipe.steps.size(), -1);
  QStringList conditions;
  bool everyRow = false;
  for (const RecipeField& field : fields) {
    for (int at : field.steps) {
      const QString& where = recipe.steps[std::size_t(at)].where;
      everyRow = everyRow || where.isEmpty();
      if (where.isEmpty()) continue;
      if (!conditions.contains(where)) conditions << where;
      reading.stepHolds[std::size_t(at)] = int(columns.size() + conditions.indexOf(where));
    }
  }
  // A table without a key finds its rows by every column read: a condition read beside them
  // would count as one.
  if (!conditions.isEmpty() && reading.keyColumns.isEmpty()) {
    throw DbError(QStringLiteral("A step with \"where\" needs a table with a primary or unique "
                                 "key, and '%1' has none.")
                      .arg(table));
  }
  for (const QString& where : conditions) names << QStringLiteral("(%1) IS TRUE").arg(where);
  reading.select = QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                   QStringLiteral(" FROM ") + engine.quotedTable(table);
  if (!everyRow && !conditions.isEmpty()) {
    reading.select += QStringLiteral(" WHERE (") + conditions.join(QStringLiteral(") OR (")) + u')';
  }
  return reading;
}

// A table's fields as the recipe cleans them, each kept in its preview.
struct CleanedField {
  ChangePreview* preview;
  int column;  // in the reading
  NewValueRule rule;
  ColumnLimits limits;
  int identitySlot;  // its place among the columns that find the rows; -1: none
};

// What the recipe makes of the fields of one table, read once over a connection of its own.
class TableCleaning {
 public:
  // Whether the rows are read while the run writes them.
  enum class Reading { Alone, BesideWrites };
  TableCleaning(const Recipe& recipe, const std::vector<RecipeField>& fields,
                const ConnectionAttributes& login, Reading reading = Reading::Alone) {
    for (Connection* connection : {&reads_, &asks_}) {
      connection->CommandTimeout = PreviewTimeoutSeconds;
      connection->Open(login);
    }
    const QString& table = fields.front().table;
    const Engine& engine = EngineOf(reads_);
    const FieldCollection tableFields = engine.fieldsOf(reads_, table);
    reading_ = readingOf(engine, *asks_.session(), tableFields, fields, table, recipe);
    const QString prefix =
        reading == Reading::BesideWrites ? engine.readingBesideWrites() : QString();
    records_.Open(prefix + reading_.select, reads_, RecordSet::Keyset, RecordSet::Optimistic);
    records_.WriteThrough(asks_, reading_.keyColumns);
  }

  RowIdentity identity() { return records_.IdentityColumns(); }
  const QString& database() const { return reads_.attributes().database; }
  const FieldInfo& info(std::size_t field) const {
    return records_.Fields().at(reading_.readAt[field]);
  }

  // Each field's steps in order, each step seeing the one before's result, counted in
  // `preview.stepChanges` where it changes the value.
  void cleanInto(RecipePreview& preview, const std::vector<RecipeField>& fields,
                 std::span<ChangePreview* const> changes) {
    const RowIdentity found = identity();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      NewValueRule rule = [this, &preview, steps = fields[i].steps](const FieldValue& stored) {
        QString value = ReplaceNull(stored, QString());
        for (int at : steps) {
          if (!holds(at)) continue;
          const RecipeStep& step = preview.recipe.steps[std::size_t(at)];
          QString next = NewValueOf(*step.operation, step.answers, value);
          if (stored && next != value) ++preview.stepChanges[std::size_t(at)];
          value = std::move(next);
        }
        return value;
      };
      cleaned_.push_back({changes[i], reading_.readAt[i], std::move(rule),
                          EngineOf(asks_).columnLimits(asks_, info(i)),
                          int(found.columns.indexOf(fields[i].field.toUtf8()))});
    }
  }

  // Whether step `at` cleans the current record.
  bool holds(int at) const {
    const int column = reading_.stepHolds[std::size_t(at)];
    return column < 0 || records_.RawValue(column).value_or(QByteArrayView()) == "1";
  }

  // The next record into the previews; false once the records have ended. A field that
  // finds the rows (a column of the key, or any column of a table without one) is written
  // before the fields after it: they find the row by its new value.
  bool next() {
    if (records_.Eof()) return false;
    std::optional<RowValues> written;  // the identity as the fields so far leave it
    for (const CleanedField& field : cleaned_) {
      const std::optional<QByteArray> after =
          PreviewRecord(*field.preview, records_, field.column, position_, field.rule, field.limits,
                        written ? &*written : nullptr);
      if (after && field.identitySlot >= 0) {
        if (!written) written = records_.CurrentIdentity().values;
        (*written)[std::size_t(field.identitySlot)] = after;
      }
    }
    ++position_;
    records_.MoveNext();
    return true;
  }

 private:
  Connection reads_, asks_;
  TableReading reading_;
  RecordSet records_;
  std::vector<CleanedField> cleaned_;
  qint64 position_ = 0;
};

// Reads one table once and keeps what the recipe makes of each of its fields.
void previewTable(RecipePreview& preview, const std::vector<RecipeField>& fields,
                  const ConnectionAttributes& login, const PreviewSetup& setUp) {
  TableCleaning cleaning(preview.recipe, fields, login);
  const RowIdentity identity = cleaning.identity();
  const QString& database = cleaning.database();
  std::vector<ChangePreview*> changes;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& info = cleaning.info(i);
    preview.fields.push_back(std::make_unique<ChangePreview>(
        describeField(preview.recipe, fields[i]),
        RewriteTarget{database, fields[i].table, identity.columns, identity.keyed, info.column},
        info.binary));
    changes.push_back(preview.fields.back().get());
    if (setUp) setUp(*changes.back());
  }
  cleaning.cleanInto(preview, fields, changes);
  RunWhileServingEvents([&] {
    while (cleaning.next()) {
    }
    for (ChangePreview* field : changes) field->drainRest();
  });
}

// The changes of the `asked` fields of one table as rewrites row by row: each row's next to
// each other, in the order the rows were read. False when the visitor wanted no more.
bool visitByRow(const ChangePreviews& fields, const PartRange& asked, const RewriteVisitor& visit) {
  std::vector<qsizetype> next(asked.count, 0);
  const auto changes = [&](std::size_t j) -> const ChangePreview& {
    return *fields[asked.first + j];
  };
  const auto waiting = [&](std::size_t j) { return next[j] < changes(j).size(); };
  for (;;) {
    qint64 position = std::numeric_limits<qint64>::max();
    for (std::size_t j = 0; j < asked.count; ++j) {
      if (waiting(j)) position = std::min(position, changes(j).position(next[j]));
    }
    if (position == std::numeric_limits<qint64>::max()) return true;
    for (std::size_t j = 0; j < asked.count; ++j) {
      if (waiting(j) && changes(j).position(next[j]) == position) {
        const qsizetype entry = next[j]++;
        if (!changes(j).leftOut(entry) && !visit(changes(j).rewrite(entry, asked.first + j))) {
          return false;
        }
      }
    }
  }
}

}  // namespace

QString CheckRecipeTargetsOn(Recipe& recipe, Connection& connection) {
  const QStringList tables = EngineOf(connection).tables(connection);
  const QString missing =
      CheckRecipeTargets(recipe, [&](const QString& table) -> std::optional<QStringList> {
        if (!tables.contains(table)) return std::nullopt;
        const FieldCollection fields = EngineOf(connection).fieldsOf(connection, table);
        QStringList names;
        for (int i = 0; i < fields.count(); ++i) names << fields.Name(i);
        return names;
      });
  if (!missing.isEmpty()) return missing;
  // Each step's rows are tried before any is read.
  for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
    const RecipeStep& step = recipe.steps[i];
    if (const QString problem = RowConditionProblem(connection, step.table, step.where);
        !problem.isEmpty()) {
      return QStringLiteral("Step %1: %2").arg(i + 1).arg(problem);
    }
  }
  return {};
}

namespace {

// A preview of `recipe` with nothing read yet, its names as the tables spell them; nothing
// when a step is refused (the user is told why).
std::unique_ptr<RecipePreview> checkedPreview(const Recipe& recipe, Connection& connection,
                                              Dialogs& dialogs) {
  auto preview = std::make_unique<RecipePreview>();
  preview->recipe = recipe;
  preview->stepChanges.assign(recipe.steps.size(), 0);
  if (const QString refused = CheckRecipeTargetsOn(preview->recipe, connection);
      !refused.isEmpty()) {
    dialogs.message(refused);
    return nullptr;
  }
  return preview;
}

void previewTables(RecipePreview& preview, const ConnectionAttributes& login,
                   const PreviewSetup& setUp) {
  for (const std::vector<RecipeField>& fields : RecipeTables(preview.recipe)) {
    previewTable(preview, fields, login, setUp);
  }
}

}  // namespace

std::unique_ptr<RecipePreview> PreviewRecipe(const Recipe& recipe,
                                             const ConnectionAttributes& login, Dialogs& dialogs,
                                             const PreviewSetup& setUp) {
  try {
    Connection connection;
    connection.Open(login);
    std::unique_ptr<RecipePreview> preview = checkedPreview(recipe, connection, dialogs);
    if (!preview) return nullptr;
    connection.Close();
    previewTables(*preview, login, setUp);
    return preview;
  } catch (const std::exception& failure) {
    dialogs.message(QString::fromUtf8(failure.what()));
    return nullptr;
  }
}

namespace {

// The fields of `preview` as the parts of one run, their rewrites handed by `source`.
std::optional<qint64> runFields(const RecipePreview& preview, RewriteRun& rewrites,
                                const RewriteSource& source, const QString& since) {
  std::vector<RewritePart> parts;
  QStringList where, tables;
  for (const std::vector<RecipeField>& table : RecipeTables(preview.recipe)) {
    tables << table.front().table;
    for (const RecipeField& field : table) {
      const ChangePreview& changes = *preview.fields[parts.size()];
      parts.push_back({partName(field), changes.target(),
                       JournalRunOf(changes.description(), rewrites.login()), changes.chosen()});
      where << field.table + u'.' + field.field;
    }
  }
  // The progress window names the tables and their fields; the journal keeps the fields as
  // the whole run's place, with no field of its own (JournalRunWhere).
  const RunDescription description{.table = tables.join(QStringLiteral(", ")),
                                   .field = where.join(QStringLiteral(", ")),
                                   .operation = RecipeTitle(preview.recipe),
                                   .since = since};
  JournalRun whole = JournalRunOf(description, rewrites.login());
  whole.table = description.field;
  whole.field.clear();
  return rewrites.runParts(parts, source, RewriteOrder::ByRow, whole, description);
}

// Changes kept at most while a table is read and written at once.
constexpr qsizetype StreamedBatch = 20000;

// Adds the fields of one table to `counted`, each with no changes kept, as the parts of a
// run that writes the table while reading it; false when it cannot: a table whose reading
// holds its rows against writes (not InnoDB), without a key, or whose key the recipe changes.
bool addStreamedFields(RecipePreview& counted, Connection& connection,
                       const std::vector<RecipeField>& fields, const QString& database) {
  const QString& table = fields.front().table;
  const Engine& engine = EngineOf(connection);
  if (!engine.tableFacts(connection, table).readsBesideWrites) return false;
  const FieldCollection tableFields = engine.fieldsOf(connection, table);
  const std::vector<int> positions = positionsOf(tableFields, fields);
  QByteArrayList key;
  FieldsForWriting(*connection.session(), tableFields, positions, &key);
  if (key.isEmpty()) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& info = tableFields.at(positions[i]);
    if (key.contains(info.column)) return false;
    RunDescription description = describeField(counted.recipe, fields[i]);
    description.since = StreamedSince;
    counted.fields.push_back(std::make_unique<ChangePreview>(
        description, RewriteTarget{database, table, key, true, info.column}, info.binary));
  }
  return true;
}

// The rewrites of the `asked` fields of `counted` (of one table), computed as the table is
// read and handed on a batch at a time.
void streamFields(RecipePreview& counted, const std::vector<RecipeField>& fields,
                  const PartRange& asked, const ConnectionAttributes& login,
                  const RewriteVisitor& visit) {
  TableCleaning cleaning(counted.recipe, fields, login, TableCleaning::Reading::BesideWrites);
  std::vector<ChangePreview*> changes;
  for (std::size_t i = asked.first; i < asked.first + asked.count; ++i) {
    changes.push_back(counted.fields[i].get());
  }
  // The rows are written where they are found by the key that the run began with.
  if (cleaning.identity().columns != changes.front()->target().identityColumns) {
    throw DbError(QStringLiteral("The key of %1 changed during the run: the rest of it was not "
                                 "written.")
                      .arg(fields.front().table));
  }
  cleaning.cleanInto(counted, fields, changes);
  const auto handOn = [&] {
    const bool going = visitByRow(counted.fields, asked, visit);
    for (ChangePreview* field : changes) field->dropKept();
    return going;
  };
  while (cleaning.next()) {
    qsizetype kept = 0;
    for (const ChangePreview* field : changes) kept += field->size();
    if (kept >= StreamedBatch && !handOn()) return;
  }
  handOn();
}

}  // namespace

std::optional<qint64> ApplyRecipe(const RecipePreview& preview, RewriteRun& rewrites) {
  const RewriteSource source = [&](const PartRange& asked, const RewriteVisitor& visit) {
    visitByRow(preview.fields, asked, visit);
  };
  return runFields(preview, rewrites, source, QStringLiteral("the preview"));
}

RecipeRan RunRecipe(const Recipe& recipe, RewriteRun& rewrites, Dialogs& dialogs) {
  const ConnectionAttributes& login = rewrites.login();
  std::unique_ptr<RecipePreview> counted;
  std::vector<RecipeField> fields;  // in the order of the run's parts
  try {
    Connection connection;
    connection.Open(login);
    counted = checkedPreview(recipe, connection, dialogs);
    if (!counted) return {};
    for (const std::vector<RecipeField>& table : RecipeTables(counted->recipe)) {
      if (!addStreamedFields(*counted, connection, table, connection.attributes().database)) {
        connection.Close();
        counted->fields.clear();
        previewTables(*counted, login, nullptr);
        RecipeRan ran;
        ran.run = ApplyRecipe(*counted, rewrites);
        ran.counted = std::move(counted);
        return ran;
      }
      fields.insert(fields.end(), table.begin(), table.end());
    }
  } catch (const std::exception& failure) {
    dialogs.message(QString::fromUtf8(failure.what()));
    return {};
  }
  const RewriteSource source = [&](const PartRange& asked, const RewriteVisitor& visit) {
    streamFields(*counted,
                 {fields.begin() + std::ptrdiff_t(asked.first),
                  fields.begin() + std::ptrdiff_t(asked.first + asked.count)},
                 asked, login, visit);
  };
  RecipeRan ran;
  ran.run = runFields(*counted, rewrites, source, StreamedSince);
  ran.counted = std::move(counted);
  return ran;
}

QStringList StepCountsTexts(const RecipePreview& preview) {
  QStringList texts;
  for (std::size_t i = 0; i < preview.recipe.steps.size(); ++i) {
    texts << QStringLiteral("Step %1, %2: %3.")
                 .arg(i + 1)
                 .arg(StepText(preview.recipe.steps[i]),
                      CountedText(preview.stepChanges[i], QStringLiteral("record changes"),
                                  QStringLiteral("records change")));
  }
  return texts;
}
