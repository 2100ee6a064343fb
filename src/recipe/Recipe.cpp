#include "Recipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstring>

#include "NearestNames.h"
#include "NumberText.h"
#include "RunProgress.h"

namespace {

const QString FormatKey = QStringLiteral("klarifeld-recipe");
constexpr int FormatVersion = 1;

int answersAsked(OperationKind kind) {
  return int(OperationQuestions(kind).size());
}

QString stepProblem(qsizetype step, const QString& problem) {
  return QStringLiteral("Step %1: %2").arg(step + 1).arg(problem);
}

// A text of the step's object; nothing when it is missing or not a text.
std::optional<QString> textOf(const QJsonObject& step, const QString& key) {
  const QJsonValue value = step.value(key);
  if (!value.isString() || value.toString().isEmpty()) return std::nullopt;
  return value.toString();
}

std::optional<RecipeStep> parseStep(const QJsonValue& value, QString& problem) {
  if (!value.isObject()) {
    problem = QStringLiteral("not an object with a table, a field and an operation.");
    return std::nullopt;
  }
  const QJsonObject object = value.toObject();
  RecipeStep step;
  for (const auto& [key, text] : {std::pair{QStringLiteral("table"), &step.table},
                                  std::pair{QStringLiteral("field"), &step.field}}) {
    const std::optional<QString> given = textOf(object, key);
    if (!given) {
      problem = QStringLiteral("no \"%1\".").arg(key);
      return std::nullopt;
    }
    *text = *given;
  }
  const QString name = textOf(object, QStringLiteral("operation")).value_or(QString());
  step.operation = FindOperationByName(name);
  if (!step.operation) {
    problem = QStringLiteral("no operation '%1'%2; klarifeld-clean --list-operations lists them.")
                  .arg(name, DidYouMean(NearestOperationNames(name)));
    return std::nullopt;
  }
  QJsonValue answers = object.value(QStringLiteral("answers"));
  // map-values takes its pairs as "map", kept as the JSON text that is its answer.
  if (step.operation->kind == OperationKind::ValueMap) {
    const QJsonValue map = object.value(QStringLiteral("map"));
    if (!map.isArray()) {
      problem = QStringLiteral("the operation \"map-values\" takes its pairs in \"map\".");
      return std::nullopt;
    }
    answers =
        QJsonArray{QString::fromUtf8(QJsonDocument(map.toArray()).toJson(QJsonDocument::Compact))};
  }
  QStringList given;
  bool listOfTexts = answers.isUndefined() || answers.isArray();
  for (const QJsonValue& answer : answers.toArray()) {
    listOfTexts = listOfTexts && answer.isString();
    given << answer.toString();
  }
  if (!listOfTexts) {
    problem = QStringLiteral("\"answers\" is a list of texts.");
    return std::nullopt;
  }
  const QStringList questions = OperationQuestions(step.operation->kind);
  const QString shortName = OperationShortName(*step.operation);
  if (given.size() > questions.size()) {
    problem =
        QStringLiteral("the operation \"%1\" takes %2, not %3.")
            .arg(shortName,
                 CountedText(questions.size(), QStringLiteral("answer"), QStringLiteral("answers")),
                 QString::number(given.size()));
    return std::nullopt;
  }
  // The first answer may not be empty, as a run ends on an empty one; the second may.
  if (!questions.isEmpty() && given.value(0).isEmpty()) {
    problem = QStringLiteral("the operation \"%1\" asks \"%2\"; give it in \"answers\".")
                  .arg(shortName, questions[0]);
    return std::nullopt;
  }
  step.answers = {given.value(0), given.value(1)};
  const QJsonValue where = object.value(QStringLiteral("where"));
  if (!where.isUndefined() && !where.isString()) {
    problem = QStringLiteral("\"where\" is an SQL condition, as text.");
    return std::nullopt;
  }
  step.where = where.toString().trimmed();
  if (const QString refused = StepAnswersProblem(step); !refused.isEmpty()) {
    problem = refused;
    return std::nullopt;
  }
  return step;
}

QString jsonText(const QString& text) {
  const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);  // ["…"]
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

}  // namespace

QStringList RecipeStep::answerList() const {
  const int asked = operation ? answersAsked(operation->kind) : 0;
  return QStringList{answers.first, answers.second}.mid(0, asked);
}

std::vector<std::vector<RecipeField>> RecipeTables(const Recipe& recipe) {
  std::vector<std::vector<RecipeField>> tables;
  for (int i = 0; i < int(recipe.steps.size()); ++i) {
    const RecipeStep& step = recipe.steps[std::size_t(i)];
    auto table = std::find_if(tables.begin(), tables.end(), [&](const auto& fields) {
      return !fields.empty() && fields.front().table == step.table;
    });
    if (table == tables.end()) table = tables.emplace(tables.end());
    auto field = std::find_if(table->begin(), table->end(),
                              [&](const RecipeField& f) { return f.field == step.field; });
    if (field == table->end()) {
      field = table->insert(table->end(), RecipeField{step.table, step.field, {}});
    }
    field->steps.push_back(i);
  }
  return tables;
}

std::optional<Recipe> ParseRecipe(const QByteArray& json, QString& problem) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError) {
    problem = QStringLiteral("The recipe is not valid JSON: %1 (at character %2).")
                  .arg(error.errorString())
                  .arg(error.offset);
    return std::nullopt;
  }
  const QJsonObject object = document.object();
  const QJsonValue format = object.value(FormatKey);
  if (format.isDouble() && format.toInt() > FormatVersion) {
    problem = QStringLiteral(
                  "This recipe is of a later kind (%1 %2) than this version of "
                  "Klarifeld reads (%3).")
                  .arg(FormatKey)
                  .arg(format.toInt())
                  .arg(FormatVersion);
    return std::nullopt;
  }
  if (format.toInt() != FormatVersion) {
    problem =
        QStringLiteral("This is no recipe: it lacks \"%1\": %2.").arg(FormatKey).arg(FormatVersion);
    return std::nullopt;
  }
  const QJsonArray steps = object.value(QStringLiteral("steps")).toArray();
  if (steps.isEmpty()) {
    problem = QStringLiteral("The recipe has no steps.");
    return std::nullopt;
  }
  Recipe recipe;
  for (qsizetype i = 0; i < steps.size(); ++i) {
    QString refused;
    const std::optional<RecipeStep> step = parseStep(steps[i], refused);
    if (!step) {
      problem = stepProblem(i, refused);
      return std::nullopt;
    }
    recipe.steps.push_back(*step);
  }
  return recipe;
}

QByteArray RecipeJson(const Recipe& recipe) {
  QStringList steps;
  for (const RecipeStep& step : recipe.steps) {
    QStringList answers;
    for (const QString& answer : step.answerList()) answers << jsonText(answer);
    const bool map = step.operation->kind == OperationKind::ValueMap;
    const QString where =
        step.where.isEmpty() ? QString() : QStringLiteral(", \"where\": ") + jsonText(step.where);
    steps << QStringLiteral("{\"table\": %1, \"field\": %2, \"operation\": %3, %4%5}")
                 .arg(jsonText(step.table), jsonText(step.field),
                      jsonText(OperationShortName(*step.operation)),
                      map ? QStringLiteral("\"map\": ") + step.answers.first
                          : QStringLiteral("\"answers\": [%1]")
                                .arg(answers.join(QStringLiteral(", "))),
                      where);
  }
  return QStringLiteral("{\"%1\": %2,\n \"steps\": [%3]}\n")
      .arg(FormatKey)
      .arg(FormatVersion)
      .arg(steps.join(QStringLiteral(",\n           ")))
      .toUtf8();
}

// A regular file of at most a few MiB: a device or a pipe could be waited on or read
// forever. Opened without waiting, then looked at, so that what is read is what was checked.
std::optional<Recipe> ReadRecipeFile(const QString& path, QString& problem) {
  constexpr qint64 MaxSize = 4 << 20;
  const int descriptor =
      ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    problem = QStringLiteral("Cannot read the recipe '%1': %2.")
                  .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return std::nullopt;
  }
  QFile file;
  file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
  struct stat status {};
  const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  const QByteArray json = regular ? file.read(MaxSize + 1) : QByteArray();
  if (!regular || json.size() > MaxSize) {
    problem = QStringLiteral("The recipe '%1' is not a file of at most 4 MiB.").arg(path);
    return std::nullopt;
  }
  return ParseRecipe(json, problem);
}

QString WriteRecipeFile(const Recipe& recipe, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(RecipeJson(recipe)) < 0 || !file.commit()) {
    return QStringLiteral("Cannot write the recipe '%1': %2.").arg(path, file.errorString());
  }
  return {};
}

QString CheckRecipeTargets(Recipe& recipe, const TableFields& fieldsOf) {
  for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
    RecipeStep& step = recipe.steps[i];
    const std::optional<QStringList> fields = fieldsOf(step.table);
    if (!fields) {
      return stepProblem(qsizetype(i),
                         QStringLiteral("No table '%1' in the database.").arg(step.table));
    }
    const auto named = std::find_if(fields->begin(), fields->end(), [&](const QString& field) {
      return field.compare(step.field, Qt::CaseInsensitive) == 0;
    });
    if (named == fields->end()) {
      return stepProblem(
          qsizetype(i),
          QStringLiteral("No field '%1' in the table '%2'.").arg(step.field, step.table));
    }
    if (!fields->contains(step.field)) step.field = *named;
  }
  return {};
}

QString StepAnswersProblem(const RecipeStep& step) {
  if (step.operation->kind == OperationKind::Number && !IsNumeric(step.answers.first)) {
    return QStringLiteral("Must enter number");
  }
  if (step.operation->answersProblem) return step.operation->answersProblem(step.answers);
  return {};
}

QString RecipeTitle(const Recipe& recipe) {
  QStringList fields;
  for (const auto& table : RecipeTables(recipe)) {
    for (const RecipeField& field : table) fields << field.table + u'.' + field.field;
  }
  return QStringLiteral("Recipe %1: %2")
      .arg(fields.join(QStringLiteral(", ")),
           CountedText(qint64(recipe.steps.size()), QStringLiteral("step"),
                       QStringLiteral("steps")));
}

QString StepText(const RecipeStep& step) {
  return OperationShortName(*step.operation) + QStringLiteral(" on ") + step.table + u'.' +
         step.field +
         (step.where.isEmpty() ? QString() : QStringLiteral(", rows where ") + step.where);
}
