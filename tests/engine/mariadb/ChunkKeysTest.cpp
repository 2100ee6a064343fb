// The set of a chunk's keys: exact by bytes, whatever their hash, through its growth.
#include "ChunkKeys.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <vector>

#include "RowChange.h"

namespace {

// Keys as a chunk packs them; their bytes must outlive the set's views of them.
std::vector<QByteArray> packedKeys(int count) {
  std::vector<QByteArray> keys;
  for (int i = 0; i < count; ++i) {
    QByteArray key;
    AppendPackedValue(key, QByteArray::number(i));
    keys.push_back(key);
  }
  return keys;
}

}  // namespace

TEST(ChunkKeys, KnowsEveryKeyItHoldsAndNoOtherAcrossItsGrowthAndClearing) {
  const std::vector<QByteArray> keys = packedKeys(5000);  // several times its first room
  ChunkKeys set;
  EXPECT_FALSE(set.contains(keys[0]));
  for (std::size_t i = 0; i < keys.size(); i += 2) set.insert(keys[i]);
  set.insert(keys[0]);  // again: still once
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(set.contains(keys[i]), i % 2 == 0) << i;
  }
  // A key is its bytes, not where they are.
  EXPECT_TRUE(set.contains(QByteArray(keys[10].constData(), keys[10].size())));
  // A null key and an empty one differ from each other and from the text "0".
  QByteArray null, empty;
  AppendPackedValue(null, std::nullopt);
  AppendPackedValue(empty, QByteArrayView(""));
  set.insert(null);
  EXPECT_TRUE(set.contains(null));
  EXPECT_FALSE(set.contains(empty));

  set.clear();
  for (const QByteArray& key : keys) EXPECT_FALSE(set.contains(key));
  set.insert(keys[1]);
  EXPECT_TRUE(set.contains(keys[1]));
  EXPECT_FALSE(set.contains(keys[0]));
}
