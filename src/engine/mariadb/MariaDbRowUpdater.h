#pragma once

#include <QByteArray>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "ClientHandles.h"
#include "RowUpdater.h"

class MariaDbSession;

// Writes single rows of MariaDB and MySQL: values travel as parameters of prepared
// statements and compare byte for byte as read (BIT values as numbers, FLOAT keys near and
// as shown); a write that a deadlock undid is tried again.
class MariaDbRowUpdater final : public RowUpdater {
 public:
  MariaDbRowUpdater(MariaDbSession& session, const FieldCollection& fields,
                    const QByteArrayList* knownKey = nullptr);
  ~MariaDbRowUpdater() override;

  void write(const std::vector<FieldBytes>& current, const Assignments& assignments,
             WriteObserver* observer = nullptr) override;
  bool tryWrite(const std::vector<FieldBytes>& current, const Assignments& assignments,
                WriteObserver* observer = nullptr) override;
  bool rowExists(const std::vector<FieldBytes>& current,
                 const std::vector<int>& exactFields) override;
  bool readsBack() const override;
  // Not FLOAT, which is found near its shown value, nor BIT, found as a number.
  bool comparesAsBytes(int field) const override;

  // Of a table without a key, in the session's open transaction: writes `value` into
  // `field` of up to `count` rows that hold `current`'s values byte for byte (rows alike in
  // every byte are interchangeable), and returns how many it wrote. Never waits for a lock.
  qulonglong writeAlike(const std::vector<FieldBytes>& current, int field,
                        const std::optional<QByteArray>& value, qulonglong count);

  // The table, quoted: `database`.`table`.
  const QByteArray& table() const { return table_; }

 private:
  // How the row condition matches one field's value as read.
  struct Match {
    enum Form {
      KeyEqual,   // by the key's own equality, which its index serves
      ShownKey,   // a FLOAT key: near the value shown, and shown alike
      ByteExact,  // byte for byte, as read; null-safe
      Bits,       // a BIT column, as the number that its bytes spell; null-safe
    };
    int field;
    Form form;
  };
  struct Statement;
  Statement& statementFor(const Assignments& assignments);
  Statement& prepared(const QByteArray& cacheKey, const QByteArray& head,
                      const std::vector<int>& exactFields, const QByteArray& tail);
  class Parameters;
  void bindConditions(Parameters& parameters, const Statement& statement,
                      const std::vector<FieldBytes>& current) const;
  Match::Form matchOfKey(int field) const;
  QByteArray condition(const Match& match) const;
  void findRowKey();
  bool hasTriggerBeforeUpdate() const;
  std::optional<QByteArray> valueOf(const std::vector<FieldBytes>& current, int field);

  MariaDbSession& session_;
  QByteArray table_;                       // quoted `database`.`table`
  mutable std::optional<bool> readsBack_;  // not asked yet
  std::map<QByteArray, std::unique_ptr<Statement>> statements_;
};
