#include "OperationCatalogue.h"

#include <algorithm>
#include <vector>

#include "Fundamental.h"
#include "NearestNames.h"
#include "NumberText.h"
#include "RegexReplace.h"
#include "UnicodeCleaning.h"
#include "ValueMap.h"

using namespace Fundamental;
using namespace UnicodeCleaning;

namespace {

using Kind = OperationKind;
using A = Answers;

// clang-format off
const std::array<CleaningOperation, OperationCount> Operations = {{
  {0, u"Remove All Spaces in Selected Field", Kind::Plain, 128,
   [](const QString& t, const A&) { return RemoveAllSpaces(t); }},
  {1, u"Replace All Spaces in Selected Field With...", Kind::Replacement, 144,
   [](const QString& t, const A& a) { return ReplaceAllSpaces(t, a.first); }},
  {2, u"Remove Extra Spaces at Beginning of Selected Field", Kind::Plain, 164,
   [](const QString& t, const A&) { return RemoveLeadingSpaces(t); }},
  {3, u"Remove Extra Spaces at End of Selected Field", Kind::Plain, 180,
   [](const QString& t, const A&) { return RemoveTrailingSpaces(t); }},
  {4, u"Remove All Spaces Except for Single Spaces Between Words in Selected Field", Kind::Plain, 196,
   [](const QString& t, const A&) { return CollapseSpaces(t); }},
  {5, u"Remove Enters (Carriage Returns) in Selected Field", Kind::Plain, 212,
   [](const QString& t, const A&) { return RemoveEnters(t); }},
  {6, u"Replace Enters (Carriage Returns) in Selected Field With...", Kind::Replacement, 228,
   [](const QString& t, const A& a) { return ReplaceEnters(t, a.first); }},
  {7, u"Remove Tabs in Selected Field", Kind::Plain, 248,
   [](const QString& t, const A&) { return RemoveTabs(t); }},
  {8, u"Replace Tabs in Selected Field With...", Kind::Replacement, 264,
   [](const QString& t, const A& a) { return ReplaceTabs(t, a.first); }},
  {9, u"Remove Alphabet Character(s) in Selected Field", Kind::Plain, 284,
   [](const QString& t, const A&) { return RemoveAlphabetCharacters(t); }},
  {10, u"Replace Alphabet Character(s) in Selected Field With...", Kind::Replacement, 300,
   [](const QString& t, const A& a) { return ReplaceAlphabetCharacters(t, a.first); }},
  {11, u"Remove Numeric Character(s) in Selected Field", Kind::Plain, 320,
   [](const QString& t, const A&) { return RemoveNumericCharacters(t); }},
  {12, u"Replace Numeric Character(s) in Selected Field With...", Kind::Replacement, 336,
   [](const QString& t, const A& a) { return ReplaceNumericCharacters(t, a.first); }},
  {13, u"Remove Alphanumeric Character(s) in Selected Field", Kind::Plain, 356,
   [](const QString& t, const A&) { return RemoveAlphanumericCharacters(t); }},
  {14, u"Replace Alphanumeric Character(s) in Selected Field With...", Kind::Replacement, 372,
   [](const QString& t, const A& a) { return ReplaceAlphanumericCharacters(t, a.first); }},
  {15, u"Remove Non-Alphanumeric Character(s) in Selected Field", Kind::Plain, 392,
   [](const QString& t, const A&) { return RemoveNonAlphanumericCharacters(t); }},
  {16, u"Replace Non-Alphanumeric Character(s) in Selected Field With...", Kind::Replacement, 408,
   [](const QString& t, const A& a) { return ReplaceNonAlphanumericCharacters(t, a.first); }},
  {17, u"Remove User-Defined Character(s) in Selected Field", Kind::Characters, 428,
   [](const QString& t, const A& a) { return RemoveUserDefinedCharacters(t, a.first); }},
  {18, u"Replace User-Defined Character(s) in Selected Field With...", Kind::SearchAndReplacement, 448,
   [](const QString& t, const A& a) { return ReplaceUserDefinedCharacters(t, a.first, a.second); }},
  {19, u"Remove All Text After User-Defined Character(s) in Selected Field", Kind::Characters, 470,
   [](const QString& t, const A& a) { return RemoveTextAfterCharacters(t, a.first); }},
  {20, u"Replace All Text After User-Defined Character(s) in Selected Field With...", Kind::SearchAndReplacement, 490,
   [](const QString& t, const A& a) { return ReplaceTextAfterCharacters(t, a.first, a.second); }},
  {21, u"Remove All Text Before User-Defined Character(s) in Selected Field", Kind::Characters, 512,
   [](const QString& t, const A& a) { return RemoveTextBeforeCharacters(t, a.first); }},
  {22, u"Replace All Text Before User-Defined Character(s) in Selected Field With...", Kind::SearchAndReplacement, 532,
   [](const QString& t, const A& a) { return ReplaceTextBeforeCharacters(t, a.first, a.second); }},
  {23, u"Remove First x Character(s) in Selected Field", Kind::Number, 554,
   [](const QString& t, const A& a) { return RemoveFirstCharacters(t, ToInteger16(a.first)); }},
  {24, u"Remove Last x Character(s) in Selected Field", Kind::Number, 578,
   [](const QString& t, const A& a) { return RemoveLastCharacters(t, ToInteger16(a.first)); }},
  {25, u"Remove All Text After x Position in Field", Kind::Number, 602,
   [](const QString& t, const A& a) { return RemoveTextAfterPosition(t, ToInteger16(a.first)); }},
  {26, u"Remove All Text Before x Position in Field", Kind::Number, 626,
   [](const QString& t, const A& a) { return RemoveTextBeforePosition(t, ToInteger16(a.first)); }},
  {27, u"Replace Text Matching a Regular Expression in Selected Field With...", Kind::PatternAndReplacement, 1000,
   [](const QString& t, const A& a) { return ReplaceRegex(t, a.first, a.second); },
   u"replace-regex", [](const A& a) { return RegexProblem(a.first, a.second); }},
  {28, u"Remove Extra Spaces at Both Ends of Selected Field", Kind::Plain, 1024,
   [](const QString& t, const A&) { return TrimBothEnds(t); }, u"trim-both-ends"},
  {29, u"Change Selected Field to Upper Case", Kind::Plain, 1040,
   [](const QString& t, const A&) { return ToUpperCase(t); }, u"upper-case"},
  {30, u"Change Selected Field to Lower Case", Kind::Plain, 1056,
   [](const QString& t, const A&) { return ToLowerCase(t); }, u"lower-case"},
  {31, u"Replace Unicode Spaces (No-Break, Thin, Ideographic...) in Selected Field With a Space", Kind::Plain, 1072,
   [](const QString& t, const A&) { return ReplaceUnicodeSpaces(t); }, u"plain-spaces"},
  {32, u"Remove Zero-Width and Control Characters in Selected Field", Kind::Plain, 1088,
   [](const QString& t, const A&) { return RemoveInvisibleCharacters(t); }, u"remove-invisible"},
  {33, u"Title Case in Selected Field", Kind::Plain, 1104,
   [](const QString& t, const A&) { return ToTitleCase(t); }, u"title-case"},
  {34, u"Map Values in Selected Field", Kind::ValueMap, 1120,
   [](const QString& t, const A& a) { return MapValue(t, a.first); },
   u"map-values", [](const A& a) { return ValueMapProblem(a.first); }},
}};
// clang-format on

}  // namespace

int CleaningOperation::loopLine() const {
  switch (kind) {
    case Kind::Plain:
      return testLine + 2;
    case Kind::Replacement:
    case Kind::Characters:
    case Kind::ValueMap:
      return testLine + 6;
    case Kind::SearchAndReplacement:
    case Kind::Number:
    case Kind::PatternAndReplacement:
      return testLine + 8;
  }
  return testLine;
}

int CleaningOperation::listLine() const {
  return position < FirstOperationCount ? 112 + 2 * position
                                        : 1000 + 2 * (position - FirstOperationCount);
}

const std::array<CleaningOperation, OperationCount>& Catalogue() {
  return Operations;
}

QStringList OperationQuestions(OperationKind kind) {
  const QString replaceWith = QStringLiteral("Replace With:");
  switch (kind) {
    case OperationKind::Plain:
      return {};
    case OperationKind::Replacement:
      return {replaceWith};
    case OperationKind::Characters:
      return {QStringLiteral("Enter User-Defined Character(s):")};
    case OperationKind::SearchAndReplacement:
      return {QStringLiteral("Find What:"), replaceWith};
    case OperationKind::Number:
      return {QStringLiteral("Enter Number:")};
    case OperationKind::PatternAndReplacement:
      return {QStringLiteral("Regular Expression:"), replaceWith};
    case OperationKind::ValueMap:
      return {QStringLiteral("Map:")};
  }
  return {};
}

const CleaningOperation* FindOperation(QStringView caption) {
  for (const CleaningOperation& operation : Operations) {
    if (operation.caption == caption) return &operation;
  }
  return nullptr;
}

QString OperationShortName(const CleaningOperation& operation) {
  if (!operation.name.isEmpty()) return operation.name.toString();
  QString name = operation.caption.toString();
  for (const char* dropped : {" in Selected Field", " of Selected Field", " in Field", " With...",
                              " Character(s)", " (Carriage Returns)"}) {
    name.remove(QLatin1String(dropped));
  }
  name = name.toLower();
  QString joined;
  for (const QChar c : name) {
    if (c.isLetterOrNumber()) {
      joined += c;
    } else if (!joined.endsWith(u'-')) {
      joined += u'-';
    }
  }
  while (joined.endsWith(u'-')) joined.chop(1);
  return joined;
}

const CleaningOperation* FindOperationByName(QStringView name) {
  if (const CleaningOperation* byCaption = FindOperation(name)) return byCaption;
  for (const CleaningOperation& operation : Catalogue()) {
    if (OperationShortName(operation) == name) return &operation;
  }
  return nullptr;
}

QStringList NearestOperationNames(QStringView name) {
  QStringList names;
  for (const CleaningOperation& operation : Catalogue()) names << OperationShortName(operation);
  return NearestNames(name, names);
}
