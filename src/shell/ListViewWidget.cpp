#include "ListViewWidget.h"

#include <QHeaderView>
#include <stdexcept>

ListViewWidget::ListViewWidget(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  header()->setStretchLastSection(false);
}

namespace {
constexpr int ExactText = Qt::UserRole;

// One line per entry: line breaks show as a symbol, the entry keeps its exact text.
QString oneLine(const QString& text) {
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QString(QChar(0x21B5)));
  line.replace(u'\r', QChar(0x21B5));
  line.replace(u'\n', QChar(0x21B5));
  return line;
}
}  // namespace

void ListViewWidget::addItem(const QString& text) {
  const bool wasEmpty = topLevelItemCount() == 0;
  auto* item = new QTreeWidgetItem(this, QStringList{oneLine(text)});
  item->setData(0, ExactText, text);
  if (wasEmpty) setCurrentItem(item);
}

void ListViewWidget::clear() {
  QTreeWidget::clear();
}

int ListViewWidget::count() const {
  return topLevelItemCount();
}

int ListViewWidget::selectedIndex() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.front());
}

QString ListViewWidget::selectedText() const {
  const int index = selectedIndex();
  if (index < 0) throw std::runtime_error("Object variable or With block variable not set");
  return topLevelItem(index)->data(0, ExactText).toString();
}
