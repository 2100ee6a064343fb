#include "TableKeys.h"

#include <algorithm>

#include "MariaDbError.h"

std::vector<UniqueKey> UniqueKeysOf(MYSQL* mysql, const QByteArray& table) {
  const QByteArray sql = "SHOW KEYS FROM " + table;
  if (mysql_real_query(mysql, sql.constData(), sql.size())) throw MariaDbError(mysql);
  const ResultHandle keys(mysql_store_result(mysql));
  if (!keys) throw MariaDbError(mysql);
  std::vector<UniqueKey> unique;
  while (const MYSQL_ROW row = mysql_fetch_row(keys.get())) {
    // Table, Non_unique, Key_name, Seq_in_index, Column_name, ..., Null (10th)
    if (QByteArray(row[1]) != "0") continue;
    const QByteArray name(row[2]);
    if (unique.empty() || unique.back().name != name) unique.push_back({name, {}});
    unique.back().columns << QByteArray(row[4]);
    if (row[9] && QByteArray(row[9]) == "YES") unique.back().nullable = true;
  }
  std::stable_partition(unique.begin(), unique.end(),
                        [](const UniqueKey& key) { return key.primary(); });
  return unique;
}
