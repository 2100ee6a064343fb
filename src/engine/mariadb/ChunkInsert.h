#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <optional>
#include <vector>

#include "ClientHandles.h"

// Fills a chunk table with one prepared INSERT whose parameters are arrays, one element a
// row: the values travel as their bytes and the server parses no literal. A Value goes to
// its column as a string of the session's character set (UTF-8): a text column converts it
// to its own, a binary column keeps its bytes. Bytes go to a binary column as they are,
// with nothing for the server to convert or inspect.
class ChunkInsert {
 public:
  enum class Column { Number, Value, Bytes };
  // Nothing when the server cannot take the statement or arrays of rows.
  static std::unique_ptr<ChunkInsert> Prepare(MYSQL* mysql, const QByteArray& table,
                                              const QByteArray& columnNames,
                                              std::vector<Column> columns);
  ~ChunkInsert();

  // Each row's values, column after column. A value's bytes must stay until execute().
  void addNumber(unsigned number);
  void addValue(std::optional<QByteArrayView> value);  // of a Value or Bytes column
  // Inserts the rows added since the last execute(), and starts anew. Throws DbError.
  void execute();

 private:
  struct Values {
    std::vector<unsigned> numbers;
    std::vector<const char*> data;
    std::vector<unsigned long> lengths;
    std::vector<char> indicators;
  };
  ChunkInsert(StatementHandle statement, std::vector<Column> columns);
  Values& nextValues();  // of the column whose value comes next
  void clear();

  StatementHandle statement_;
  std::vector<Column> columns_;
  std::vector<Values> values_;  // by column
  std::size_t next_ = 0;        // the column of the next value
};
