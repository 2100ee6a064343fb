#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>

// The cleaning operations, in the order of the main window's list: the 27 first ones,
// then those added since, appended so that a stored position keeps its meaning. An
// operation is known by its caption alone; it asks for zero, one or two answers and
// applies one transformation to each record's text.

enum class OperationKind {
  Plain,                  // no question
  Replacement,            // "Replace With:"
  Characters,             // "Enter User-Defined Character(s):"
  SearchAndReplacement,   // "Find What:", then "Replace With:"
  Number,                 // "Enter Number:"
  PatternAndReplacement,  // "Regular Expression:", then "Replace With:"
  ValueMap,               // "Map:", a JSON array of [old, new] pairs; not listed in the windows
};

struct Answers {
  QString first;
  QString second;
};

struct CleaningOperation {
  qint16 position;
  QStringView caption;
  OperationKind kind;
  // The line of the caption's test in the update run; the other lines follow from it.
  int testLine;
  // The transformation with its arguments taken from the answers. A number answer is
  // converted anew on every call, and may fail there.
  QString (*transform)(const QString& text, const Answers& answers);

  // The short name, for the operations whose name is not made from the caption.
  QStringView name = {};
  // Why the answers cannot be used, checked before any record is read; null when any are.
  QString (*answersProblem)(const Answers& answers) = nullptr;

  // The line of the record loop.
  int loopLine() const;
  // The line of the main window's load procedure that lists the operation.
  int listLine() const;
  // Whether the main window lists it: map-values is made by the values window and recipes.
  bool listed() const { return kind != OperationKind::ValueMap; }
};

// The operations that the first version had; those after them take lines from 1000 on.
inline constexpr int FirstOperationCount = 27;
inline constexpr int OperationCount = 35;

const std::array<CleaningOperation, OperationCount>& Catalogue();

// The questions that an operation of `kind` asks, in order, as its input boxes show them.
QStringList OperationQuestions(OperationKind kind);

// The first operation whose caption equals `caption` exactly, or null.
const CleaningOperation* FindOperation(QStringView caption);

// The operation's short, stable name for the command line. For the first 27: the caption
// in lower case, without "in Selected Field", "With...", "Character(s)" and the like,
// words joined by "-" ("remove-all-spaces", "replace-tabs", "remove-first-x").
QString OperationShortName(const CleaningOperation& operation);
// The operation with this caption or short name; nullptr when there is none.
const CleaningOperation* FindOperationByName(QStringView name);
// The short names nearest to a mistyped `name` (a few letters off), nearest first.
QStringList NearestOperationNames(QStringView name);
