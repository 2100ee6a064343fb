#pragma once

#include <QByteArray>
#include <vector>

#include "PgSession.h"
#include "RowUpdater.h"

// Writes single rows of PostgreSQL. A row is found by its key (its own equality, which the
// key's index serves), or in a table without one by all its values, one row of those that
// hold them; the values written are found where they still stand byte for byte as read,
// compared as the UTF-8 of their text form (so that neither a collation that calls "a" and
// "A" equal nor char(n)'s padding decides), bytea as bytes. Each write reads back what the
// row holds, in the same statement.
class PgRowUpdater final : public RowUpdater {
 public:
  PgRowUpdater(PgSession& session, const FieldCollection& fields,
               const QByteArrayList* knownKey = nullptr);

  void write(const std::vector<FieldBytes>& current, const Assignments& assignments,
             WriteObserver* observer = nullptr) override;
  bool tryWrite(const std::vector<FieldBytes>& current, const Assignments& assignments,
                WriteObserver* observer = nullptr) override;
  bool rowExists(const std::vector<FieldBytes>& current,
                 const std::vector<int>& exactFields) override;
  bool readsBack() const override { return true; }
  bool comparesAsBytes(int) const override { return true; }

 private:
  void findRowKey();
  QByteArray column(int field) const;
  // The condition that holds for the rows of `current`'s key (every row alike, without a
  // key) with `exactFields` as read, its values added to `parameters`.
  QByteArray rowsCondition(const std::vector<FieldBytes>& current,
                           const std::vector<int>& exactFields,
                           std::vector<PgParameter>& parameters) const;
  // The same, narrowed to one row.
  QByteArray rowCondition(const std::vector<FieldBytes>& current,
                          const std::vector<int>& exactFields,
                          std::vector<PgParameter>& parameters) const;
  QByteArray standsAsRead(int field, const FieldBytes& value,
                          std::vector<PgParameter>& parameters) const;

  PgSession& session_;
  QByteArray table_;  // "schema"."table"
};
