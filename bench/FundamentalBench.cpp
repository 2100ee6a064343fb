// Throughput of each text transformation over 1 MiB (of UTF-16) of mixed text, and a
// regular expression against the operation it stands in for, over a million short values.
#include <benchmark/benchmark.h>

#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "Fundamental.h"
#include "RegexReplace.h"
#include "UnicodeCleaning.h"

using namespace Fundamental;
using namespace UnicodeCleaning;

namespace {

// Words, digits, runs of spaces, tabs, line breaks, punctuation and non-ASCII letters.
QString mixedText() {
  const QStringList pieces = {"Lorem",
                              "ipsum",
                              "42",
                              "  ",
                              "     ",
                              "\t",
                              "\r\n",
                              "k=v",
                              "--",
                              QStringLiteral("Ærø"),
                              QStringLiteral("Жук"),
                              "x1y2",
                              " ",
                              " ",
                              " ",
                              "a-b",
                              QStringLiteral("\U0001F600"),
                              ";"};
  QRandomGenerator random(1);
  QString text = QStringLiteral("   ");
  const qsizetype units = 1024 * 1024 / sizeof(char16_t);
  while (text.size() < units) text += pieces[random.bounded(pieces.size())];
  text.truncate(units - 3);
  return text + QStringLiteral("   ");
}

using Transformation = std::function<QString(const QString&)>;

struct Case {
  const char* name;
  Transformation transform;
};

std::vector<Case> cases() {
  const QString r = QStringLiteral("_");
  return {
      {"RemoveAllSpaces", [](auto& t) { return RemoveAllSpaces(t); }},
      {"ReplaceAllSpaces", [r](auto& t) { return ReplaceAllSpaces(t, r); }},
      {"RemoveLeadingSpaces", [](auto& t) { return RemoveLeadingSpaces(t); }},
      {"RemoveTrailingSpaces", [](auto& t) { return RemoveTrailingSpaces(t); }},
      {"CollapseSpaces", [](auto& t) { return CollapseSpaces(t); }},
      {"RemoveEnters", [](auto& t) { return RemoveEnters(t); }},
      {"ReplaceEnters", [r](auto& t) { return ReplaceEnters(t, r); }},
      {"RemoveTabs", [](auto& t) { return RemoveTabs(t); }},
      {"ReplaceTabs", [r](auto& t) { return ReplaceTabs(t, r); }},
      {"RemoveAlphabetCharacters", [](auto& t) { return RemoveAlphabetCharacters(t); }},
      {"ReplaceAlphabetCharacters", [r](auto& t) { return ReplaceAlphabetCharacters(t, r); }},
      {"RemoveNumericCharacters", [](auto& t) { return RemoveNumericCharacters(t); }},
      {"ReplaceNumericCharacters", [r](auto& t) { return ReplaceNumericCharacters(t, r); }},
      {"RemoveAlphanumericCharacters", [](auto& t) { return RemoveAlphanumericCharacters(t); }},
      {"ReplaceAlphanumericCharacters",
       [r](auto& t) { return ReplaceAlphanumericCharacters(t, r); }},
      {"RemoveNonAlphanumericCharacters",
       [](auto& t) { return RemoveNonAlphanumericCharacters(t); }},
      {"ReplaceNonAlphanumericCharacters",
       [r](auto& t) { return ReplaceNonAlphanumericCharacters(t, r); }},
      {"RemoveUserDefinedCharacters", [](auto& t) { return RemoveUserDefinedCharacters(t, "--"); }},
      {"ReplaceUserDefinedCharacters",
       [r](auto& t) { return ReplaceUserDefinedCharacters(t, "ipsum", r); }},
      {"RemoveTextAfterCharacters", [](auto& t) { return RemoveTextAfterCharacters(t, "="); }},
      {"ReplaceTextAfterCharacters",
       [r](auto& t) { return ReplaceTextAfterCharacters(t, "=", r); }},
      {"RemoveTextBeforeCharacters", [](auto& t) { return RemoveTextBeforeCharacters(t, "="); }},
      {"ReplaceTextBeforeCharacters",
       [r](auto& t) { return ReplaceTextBeforeCharacters(t, "=", r); }},
      {"RemoveFirstCharacters", [](auto& t) { return RemoveFirstCharacters(t, 100); }},
      {"RemoveLastCharacters", [](auto& t) { return RemoveLastCharacters(t, 100); }},
      {"RemoveTextAfterPosition", [](auto& t) { return RemoveTextAfterPosition(t, 100); }},
      {"RemoveTextBeforePosition", [](auto& t) { return RemoveTextBeforePosition(t, 100); }},
      {"ReplaceRegex",
       [r, p = QStringLiteral(R"(\s{2,})")](auto& t) { return ReplaceRegex(t, p, r); }},
      {"TrimBothEnds", [](auto& t) { return TrimBothEnds(t); }},
      {"ToUpperCase", [](auto& t) { return ToUpperCase(t); }},
      {"ToLowerCase", [](auto& t) { return ToLowerCase(t); }},
      {"ReplaceUnicodeSpaces", [](auto& t) { return ReplaceUnicodeSpaces(t); }},
      {"RemoveInvisibleCharacters", [](auto& t) { return RemoveInvisibleCharacters(t); }},
  };
}

void run(benchmark::State& state, const Transformation& transform, const QString& text) {
  for (auto _ : state) {
    QString result = transform(text);
    benchmark::DoNotOptimize(result.constData());
  }
  state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(char16_t)));
}

// A single run of 500,000 spaces: cost must not grow with the run's halvings.
void collapseLongRun(benchmark::State& state) {
  const QString text = "a" + QString(500000, ' ') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(CollapseSpaces(text));
  state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(char16_t)));
}

// A million values like a name column's, half of them with trailing spaces.
std::vector<QString> millionValues() {
  std::vector<QString> values;
  values.reserve(1'000'000);
  for (int i = 0; i < 1'000'000; ++i) {
    values.push_back(QStringLiteral("Customer %1").arg(i) + (i % 2 ? QStringLiteral("   ") : ""));
  }
  return values;
}

void overValues(benchmark::State& state, const Transformation& transform) {
  static const std::vector<QString> values = millionValues();
  for (auto _ : state) {
    for (const QString& value : values) benchmark::DoNotOptimize(transform(value).constData());
  }
  state.SetItemsProcessed(state.iterations() * qint64(values.size()));
}

}  // namespace

int main(int argc, char** argv) {
  static const QString text = mixedText();
  for (const Case& c : cases()) {
    benchmark::RegisterBenchmark(c.name, [transform = c.transform](benchmark::State& state) {
      run(state, transform, text);
    })->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("CollapseSpaces/OneLongRun", collapseLongRun)
      ->Unit(benchmark::kMicrosecond);
  // The regular expression should take at most three times as long as the operation.
  benchmark::RegisterBenchmark("MillionValues/RemoveTrailingSpaces", [](benchmark::State& state) {
    overValues(state, [](auto& t) { return RemoveTrailingSpaces(t); });
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("MillionValues/ReplaceRegex", [](benchmark::State& state) {
    // The answers are made once, as a run makes them.
    const QString pattern = QStringLiteral(R"(\s+$)");
    const QString nothing;
    overValues(state, [&](auto& t) { return ReplaceRegex(t, pattern, nothing); });
  })->Unit(benchmark::kMillisecond);
  // A pattern that matches empty text, over one long value: linear in its length (compare
  // the time per byte at 100,000 and at 1,000,000 characters).
  benchmark::RegisterBenchmark(
      "LongValue/ReplaceRegexMatchingEmpty",
      [](benchmark::State& state) {
        const QString value = QString(state.range(0) / 2, u'a') + QString(state.range(0) / 2, u' ');
        const QString pattern = QStringLiteral(R"(\s*)");
        const QString nothing;
        run(
            state, [&](auto& t) { return ReplaceRegex(t, pattern, nothing); }, value);
      })
      ->Arg(100'000)
      ->Arg(1'000'000)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
