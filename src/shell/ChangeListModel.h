#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStyledItemDelegate>
#include <vector>

class ChangePreview;

// The changes of a preview as a table (key, before, after, note) that fetches only the
// rows shown, narrowed to those whose values hold a text. The changes of several previews
// (a recipe's fields) follow one another, with a column naming each one's table and field.
// Each change has a tick in its first column, ticked until the user takes it out.
class ChangeListModel : public QAbstractTableModel {
 public:
  enum Column { Key, Before, After, Note, Field };
  // The value itself, without marks, for the painter of the changed parts.
  static constexpr int RawTextRole = Qt::UserRole;
  // The other value of the row, so the painter can find what changed.
  static constexpr int OtherTextRole = Qt::UserRole + 1;

  explicit ChangeListModel(ChangePreview& preview, QObject* parent = nullptr);
  explicit ChangeListModel(std::vector<ChangePreview*> previews, QObject* parent = nullptr);

  void setFilter(const QString& text);
  // Ticks, or unticks, the changes of these rows, or of every row shown.
  void tick(const QList<int>& rows, bool ticked);
  void tickShown(bool ticked);
  bool ticked(int row) const;
  // The changes ticked, of all, shown or not.
  qsizetype tickedChanges() const;
  qsizetype changes() const { return entries(); }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct At {
    ChangePreview* preview;
    qsizetype entry;
  };
  At entryAt(int row) const;
  At entryNumbered(qsizetype n) const;
  qsizetype entries() const { return starts_.back(); }

  std::vector<ChangePreview*> previews_;
  std::vector<qsizetype> starts_;  // where each preview's entries begin, then their end
  bool filtered_ = false;
  std::vector<qsizetype> shown_;  // the entries that hold the filter's text
};

// Paints a value with its invisible characters marked in grey and the part that changes
// on a highlight.
class ChangeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};
