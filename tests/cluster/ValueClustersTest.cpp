#include "ValueClusters.h"

#include <gtest/gtest.h>

#include "Fingerprints.h"

namespace {

ClusterSettings method(ClusterMethod chosen, int radius = 2, int block = 6) {
  ClusterSettings settings;
  settings.method = chosen;
  settings.radius = radius;
  settings.block = block;
  return settings;
}

std::vector<ValueCluster> clustered(std::vector<ClusterValue> values,
                                    const ClusterSettings& settings) {
  return ClusterValues(std::move(values), settings).value();
}

// Each cluster's values, as text, in the cluster's order.
std::vector<std::vector<QByteArray>> valuesOf(const std::vector<ValueCluster>& clusters) {
  std::vector<std::vector<QByteArray>> texts;
  for (const ValueCluster& cluster : clusters) {
    texts.emplace_back();
    for (const ClusterValue& value : cluster.values) texts.back().push_back(value.value);
  }
  return texts;
}

using Texts = std::vector<std::vector<QByteArray>>;

}  // namespace

TEST(Fingerprint, FoldsCaseAccentsPunctuationSpacingAndWordOrder) {
  EXPECT_EQ(Fingerprint("  New  York. "), "new york");
  EXPECT_EQ(Fingerprint("NEW-YORK"), "newyork");
  EXPECT_EQ(Fingerprint("Lee, Ann"), Fingerprint("ann LEE"));
  EXPECT_EQ(Fingerprint("Zoë"), "zoe");
  EXPECT_EQ(Fingerprint("Straße"), "strasse");
  EXPECT_EQ(Fingerprint("Ärzte Müller"), "arzte muller");
  // Scripts other than Latin keep their letters, case folded.
  EXPECT_EQ(Fingerprint("Жанна Иванова"), "жанна иванова");
  // Invisible characters and the no-break space do not make a value apart.
  EXPECT_EQ(Fingerprint("New\u200B York"), "new york");
  EXPECT_EQ(Fingerprint("New\u00A0York"), "new york");
  EXPECT_EQ(Fingerprint("new york new"), "new york");
  EXPECT_EQ(Fingerprint("..."), "");
}

TEST(Fingerprint, NgramsIgnoreSpacesAndOrderOfRepeats) {
  EXPECT_EQ(NgramFingerprint("New York", 2), NgramFingerprint("new-york", 2));
  EXPECT_EQ(NgramFingerprint("abab", 2), "abba");  // "ab", "ba": each once, sorted
  EXPECT_EQ(NgramFingerprint("ab", 6), "ab");      // shorter than n: the whole text
  EXPECT_EQ(NgramFingerprint("Zoë", 1), "eoz");
}

TEST(ClusterValues, FingerprintClustersTheSpellingsOfOneThingLargestFirst) {
  const std::vector<ValueCluster> clusters = clustered({{"New York", 40},
                                                        {"new york", 3},
                                                        {"NEW  YORK", 2},
                                                        {"Boston", 30},
                                                        {"boston ", 30},
                                                        {"Lee, Ann", 1},
                                                        {"Ann Lee", 2},
                                                        {"Chicago", 100}},
                                                       method(ClusterMethod::Fingerprint));
  EXPECT_EQ(valuesOf(clusters), (Texts{{"Boston", "boston "},
                                       {"New York", "new york", "NEW  YORK"},
                                       {"Ann Lee", "Lee, Ann"}}));
  EXPECT_EQ(clusters[1].suggested, "New York");
  EXPECT_EQ(clusters[1].rows, 45);
  EXPECT_EQ(clusters[2].suggested, "Ann Lee");
  // A value alone is no cluster: "Chicago" is in none.
}

TEST(ClusterValues, TheSuggestionOfEquallyFrequentValuesIsTheOneWithoutInvisibleCharacters) {
  const std::vector<ValueCluster> clusters =
      clustered({{"Zoe\u200B", 5}, {"Zoë", 5}, {"Zoe", 5}}, method(ClusterMethod::Fingerprint));
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].values.size(), 3u);
  EXPECT_EQ(clusters[0].suggested, "Zoe");  // no marks; by bytes before "Zoë"
  // Stray spaces count as marks, a space between words does not; then the longest wins.
  EXPECT_EQ(clustered({{"New York ", 1}, {"NewYork", 1}, {"New York", 1}},
                      method(ClusterMethod::NgramFingerprint))[0]
                .suggested,
            "New York");
  EXPECT_EQ(clustered({{"Bostn", 1}, {"Boston", 1}}, method(ClusterMethod::Levenshtein, 1, 3))[0]
                .suggested,
            "Boston");
}

TEST(ClusterValues, NgramFingerprintJoinsValuesThatFingerprintKeepsApart) {
  const std::vector<ClusterValue> values = {{"New York", 2}, {"NewYork", 1}, {"new-york", 1}};
  EXPECT_EQ(clustered(values, method(ClusterMethod::Fingerprint)).size(), 1u);
  EXPECT_EQ(valuesOf(clustered(values, method(ClusterMethod::Fingerprint))),
            (Texts{{"NewYork", "new-york"}}));
  ClusterSettings ngrams = method(ClusterMethod::NgramFingerprint);
  EXPECT_EQ(valuesOf(clustered(values, ngrams)), (Texts{{"New York", "NewYork", "new-york"}}));
}

TEST(ClusterValues, EditDistanceFindsDoubledLettersTranspositionsAndAccentsByCharacters) {
  const std::vector<ValueCluster> clusters =
      clustered({{"Mississippi", 9}, {"Missisippi", 2}, {"Mississipi", 1}, {"Minnesota", 4}},
                method(ClusterMethod::Levenshtein, 2, 4));
  EXPECT_EQ(valuesOf(clusters), (Texts{{"Mississippi", "Missisippi", "Mississipi"}}));
  // One character apart, though two bytes apart in UTF-8.
  EXPECT_EQ(clustered({{"Zoë Chen", 1}, {"Zoe Chen", 1}}, method(ClusterMethod::Levenshtein, 1, 4))
                .size(),
            1u);
  // A transposition is two edits.
  EXPECT_TRUE(
      clustered({{"Nwe York", 1}, {"New York", 1}}, method(ClusterMethod::Levenshtein, 1, 3))
          .empty());
  EXPECT_EQ(clustered({{"Nwe York", 1}, {"New York", 1}}, method(ClusterMethod::Levenshtein, 2, 3))
                .size(),
            1u);
}

TEST(ClusterValues, EditDistanceComparesOnlyValuesThatShareABlock) {
  // "Nwe York" and "New York" share "Yor" but no run of six characters.
  const std::vector<ClusterValue> values = {{"Nwe York", 1}, {"New York", 3}};
  EXPECT_TRUE(clustered(values, method(ClusterMethod::Levenshtein, 2, 6)).empty());
  EXPECT_EQ(clustered(values, method(ClusterMethod::Levenshtein, 2, 3)).size(), 1u);
  // A value shorter than the block is a run of its own: it meets a value holding it whole
  // only through a block no longer than itself.
  const std::vector<ClusterValue> short_ = {{"Ann", 1}, {"Anne", 1}};
  EXPECT_TRUE(clustered(short_, method(ClusterMethod::Levenshtein, 1, 6)).empty());
  EXPECT_EQ(clustered(short_, method(ClusterMethod::Levenshtein, 1, 3)).size(), 1u);
}

TEST(ClusterValues, StopsWhenTold) {
  std::vector<ClusterValue> values;
  for (int i = 0; i < 10000; ++i) values.push_back({QByteArray::number(i), 1});
  for (ClusterMethod chosen : {ClusterMethod::Fingerprint, ClusterMethod::Levenshtein}) {
    EXPECT_FALSE(
        ClusterValues(values, method(chosen), [](qint64 done, qint64) { return done == 0; }));
  }
}

// Where every value shares one block, Stop still ends the work long before the values run
// out: it is asked as values are compared, not only between values.
TEST(ClusterValues, StopsWithinAValueThatMeetsEveryOther) {
  std::vector<ClusterValue> values;
  for (int i = 0; i < 20000; ++i) values.push_back({"name " + QByteArray::number(i * 7919), 1});
  std::vector<qint64> asked;
  EXPECT_FALSE(
      ClusterValues(values, method(ClusterMethod::Levenshtein, 1, 2), [&](qint64 done, qint64) {
        asked.push_back(done);
        return asked.size() < 2;
      }));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_LT(asked[1], 4096) << "asked again before the first 4,096 values were done";
}

TEST(ClusterValues, SettingsOutOfRangeAreRefusedInWords) {
  ClusterSettings settings;
  settings.ngram = 7;
  EXPECT_EQ(ClusterSettingsProblem(settings), "The n-gram size must be from 1 to 6.");
  settings = {};
  settings.radius = 0;
  EXPECT_EQ(ClusterSettingsProblem(settings), "The radius must be from 1 to 5.");
  EXPECT_EQ(ClusterMethodNamed("ngram-fingerprint"), ClusterMethod::NgramFingerprint);
  EXPECT_FALSE(ClusterMethodNamed("soundex"));
}
