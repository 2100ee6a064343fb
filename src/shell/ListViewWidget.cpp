#include "ListViewWidget.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <stdexcept>

ListViewWidget::ListViewWidget(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemClicked, this, [this] {
    clickedSincePress_ = true;
    onPick();
  });
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

void ListViewWidget::addValue(const QString& shown, bool isNull) {
  addItem(shown);
  if (isNull || shown.isEmpty()) {
    topLevelItem(topLevelItemCount() - 1)
        ->setData(0, Qt::AccessibleTextRole,
                  isNull ? QStringLiteral("NULL") : QStringLiteral("empty text"));
  }
}

bool ListViewWidget::selectEntry(const QString& text) {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->data(0, ExactText).toString() == text) {
      setCurrentItem(topLevelItem(i));
      return true;
    }
  }
  return false;
}

QStringList ListViewWidget::texts() const {
  QStringList all;
  for (int i = 0; i < topLevelItemCount(); ++i)
    all << topLevelItem(i)->data(0, ExactText).toString();
  return all;
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

QString ListViewWidget::text(int index) const {
  return topLevelItem(index)->data(0, ExactText).toString();
}

void ListViewWidget::keyPressEvent(QKeyEvent* event) {
  const int before = selectedIndex();
  QTreeWidget::keyPressEvent(event);
  if (selectedIndex() != before) onPick();
}

void ListViewWidget::mousePressEvent(QMouseEvent* event) {
  selectedAtPress_ = selectedIndex();
  clickedSincePress_ = false;
  QTreeWidget::mousePressEvent(event);
}

// A press on one entry and a release on another is no click, but the selection moved.
void ListViewWidget::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  if (!clickedSincePress_ && selectedIndex() != selectedAtPress_) onPick();
}
