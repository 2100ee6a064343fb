#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>

// The 27 cleaning operations, in the order of the main window's list. An operation is
// known by its caption alone; it asks for zero, one or two answers and applies one
// transformation to each record's text.

enum class OperationKind {
  Plain,                 // no question
  Replacement,           // "Replace With:"
  Characters,            // "Enter User-Defined Character(s):"
  SearchAndReplacement,  // "Find What:", then "Replace With:"
  Number,                // "Enter Number:"
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

  // The line of the record loop.
  int loopLine() const;
};

inline constexpr int OperationCount = 27;

const std::array<CleaningOperation, OperationCount>& Catalogue();

// The questions that an operation of `kind` asks, in order, as its input boxes show them.
QStringList OperationQuestions(OperationKind kind);

// The first operation whose caption equals `caption` exactly, or null.
const CleaningOperation* FindOperation(QStringView caption);

// The operation's short, stable name for the command line: its caption in lower case,
// without "in Selected Field", "With...", "Character(s)" and the like, words joined by
// "-" ("remove-all-spaces", "replace-tabs", "remove-first-x").
QString OperationShortName(const CleaningOperation& operation);
// The operation with this caption or short name; nullptr when there is none.
const CleaningOperation* FindOperationByName(QStringView name);
