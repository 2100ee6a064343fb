#include "RecipeRun.h"

#include <algorithm>
#include <limits>

#include "ChangeRule.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "Dialogs.h"
#include "RewriteRun.h"
#include "RowUpdater.h"
#include "RunJournal.h"
#include "TableBrowser.h"
#include "WorkerThread.h"

namespace {

constexpr int PreviewTimeoutSeconds = 5000;

// A field's part of the recipe, as the journal and the progress window name it: its
// operations in order, and their answers.
RunDescription describeField(const Recipe& recipe, const RecipeField& field) {
  RunDescription description{.table = field.table, .field = field.field, .operation = {}};
  QStringList operations;
  for (int at : field.steps) {
    const RecipeStep& step = recipe.steps[std::size_t(at)];
    operations << step.operation->caption.toString();
    description.answers << step.answerList();
  }
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
};

TableReading readingOf(Session& session, const FieldCollection& tableFields,
                       const std::vector<RecipeField>& fields, const QString& table) {
  std::vector<int> positions;
  for (const RecipeField& field : fields) {
    int position = 0;
    while (tableFields.Name(position) != field.field) ++position;  // checked to be there
    positions.push_back(position);
  }
  TableReading reading;
  const std::vector<int> columns =
      FieldsForWriting(session, tableFields, positions, &reading.keyColumns);
  QStringList names;
  for (int column : columns) names << QuotedName(tableFields.Name(column));
  for (int position : positions) {
    reading.readAt.push_back(
        int(std::distance(columns.begin(), std::find(columns.begin(), columns.end(), position))));
  }
  reading.select = QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                   QStringLiteral(" FROM ") + QuotedName(table);
  return reading;
}

// Reads one table once and keeps what the recipe makes of each of its fields.
void previewTable(RecipePreview& preview, const std::vector<RecipeField>& fields,
                  const QString& connectionString, const PreviewSetup& setUp) {
  Connection reads, asks;
  for (Connection* connection : {&reads, &asks}) {
    connection->CommandTimeout = PreviewTimeoutSeconds;
    connection->Open(connectionString);
  }
  const QString& table = fields.front().table;
  const FieldCollection tableFields =
      reads.Execute(SelectAllStatement(table) + QStringLiteral(" LIMIT 0"))->Fields();
  const TableReading reading = readingOf(*asks.session(), tableFields, fields, table);
  RecordSet records;
  records.Open(reading.select, reads, RecordSet::Keyset, RecordSet::Optimistic);
  records.WriteThrough(asks, reading.keyColumns);
  const RowIdentity identity = records.IdentityColumns();
  const QString database = ParseConnectionString(connectionString).database;

  struct Cleaned {
    ChangePreview* preview;
    int column;
    NewValueRule rule;
    ColumnLimits limits;
  };
  std::vector<Cleaned> cleaned;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int column = reading.readAt[i];
    const FieldInfo info = records.Fields().at(column);
    auto changes = std::make_unique<ChangePreview>(
        describeField(preview.recipe, fields[i]),
        RewriteTarget{database, table, identity.columns, identity.keyed, info.column}, info.binary);
    // Each step sees the one before's result; a step changes a record when its result does.
    NewValueRule rule = [&preview, steps = fields[i].steps](const FieldValue& stored) {
      QString value = ReplaceNull(stored, QString());
      for (int at : steps) {
        const RecipeStep& step = preview.recipe.steps[std::size_t(at)];
        QString next = NewValueOf(*step.operation, step.answers, value);
        if (stored && next != value) ++preview.stepChanges[std::size_t(at)];
        value = std::move(next);
      }
      return value;
    };
    if (setUp) setUp(*changes);
    cleaned.push_back({changes.get(), column, std::move(rule), ColumnLimitsOf(asks, info)});
    preview.fields.push_back(std::move(changes));
  }
  // A field that finds the rows (a column of the key, or any column of a table without one)
  // is written before the fields after it: they find the rows by its new values.
  std::vector<int> identitySlots;
  for (const RecipeField& field : fields) {
    identitySlots.push_back(int(identity.columns.indexOf(field.field.toUtf8())));
  }
  RunWhileServingEvents([&] {
    for (qint64 position = 0; !records.Eof(); ++position, records.MoveNext()) {
      std::optional<RowValues> written;  // the identity as the fields so far leave it
      for (std::size_t i = 0; i < cleaned.size(); ++i) {
        const Cleaned& field = cleaned[i];
        const std::optional<QByteArray> after =
            PreviewRecord(*field.preview, records, field.column, position, field.rule, field.limits,
                          written ? &*written : nullptr);
        if (after && identitySlots[i] >= 0) {
          if (!written) written = records.CurrentIdentity().values;
          (*written)[std::size_t(identitySlots[i])] = after;
        }
      }
    }
    for (const Cleaned& field : cleaned) field.preview->drainRest();
  });
}

// The changes of the `asked` fields of one table as rewrites row by row: each row's next to
// each other, in the order the rows were read.
void visitByRow(const ChangePreviews& fields, const PartRange& asked,
                const std::function<void(const Rewrite&)>& visit) {
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
    if (position == std::numeric_limits<qint64>::max()) return;
    for (std::size_t j = 0; j < asked.count; ++j) {
      if (waiting(j) && changes(j).position(next[j]) == position) {
        visit(changes(j).rewrite(next[j]++, asked.first + j));
      }
    }
  }
}

}  // namespace

QString CheckRecipeTargetsOn(Recipe& recipe, Connection& connection) {
  QStringList tables;
  const auto listed = connection.Execute(QStringLiteral("SHOW TABLES"));
  for (; listed->isOpen() && !listed->Eof(); listed->MoveNext()) {
    tables << listed->Value(0).value_or(QString());
  }
  return CheckRecipeTargets(recipe, [&](const QString& table) -> std::optional<QStringList> {
    if (!tables.contains(table)) return std::nullopt;
    const FieldCollection fields =
        connection.Execute(SelectAllStatement(table) + QStringLiteral(" LIMIT 0"))->Fields();
    QStringList names;
    for (int i = 0; i < fields.count(); ++i) names << fields.Name(i);
    return names;
  });
}

std::unique_ptr<RecipePreview> PreviewRecipe(const Recipe& recipe, const QString& connectionString,
                                             Dialogs& dialogs, const PreviewSetup& setUp) {
  auto preview = std::make_unique<RecipePreview>();
  preview->recipe = recipe;
  preview->stepChanges.assign(recipe.steps.size(), 0);
  try {
    Connection connection;
    connection.Open(connectionString);
    if (const QString refused = CheckRecipeTargetsOn(preview->recipe, connection);
        !refused.isEmpty()) {
      dialogs.message(refused);
      return nullptr;
    }
    connection.Close();
    for (const std::vector<RecipeField>& fields : RecipeTables(preview->recipe)) {
      previewTable(*preview, fields, connectionString, setUp);
    }
  } catch (const std::exception& failure) {
    dialogs.message(QString::fromUtf8(failure.what()));
    return nullptr;
  }
  return preview;
}

std::optional<qint64> ApplyRecipe(const RecipePreview& preview, RewriteRun& rewrites,
                                  const QString& connectionString) {
  const ConnectionAttributes login = ParseConnectionString(connectionString);
  std::vector<RewritePart> parts;
  QStringList where, tables;
  for (const std::vector<RecipeField>& table : RecipeTables(preview.recipe)) {
    tables << table.front().table;
    for (const RecipeField& field : table) {
      const ChangePreview& changes = *preview.fields[parts.size()];
      parts.push_back({partName(field), changes.target(),
                       JournalRunOf(changes.description(), login), changes.size()});
      where << field.table + u'.' + field.field;
    }
  }
  const RewriteSource source = [&](const PartRange& asked,
                                   const std::function<void(const Rewrite&)>& visit) {
    visitByRow(preview.fields, asked, visit);
  };
  // The progress window names the tables and their fields; the journal keeps the fields as
  // the whole run's place, with no field of its own (JournalRunWhere).
  const RunDescription description{.table = tables.join(QStringLiteral(", ")),
                                   .field = where.join(QStringLiteral(", ")),
                                   .operation = RecipeTitle(preview.recipe),
                                   .since = QStringLiteral("the preview")};
  JournalRun whole = JournalRunOf(description, login);
  whole.table = description.field;
  whole.field.clear();
  return rewrites.runParts(parts, source, RewriteOrder::ByRow, whole, description);
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
