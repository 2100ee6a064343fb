#include "Controls.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

QFont Arial(qreal points, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

QPushButton* PlacePushButton(QWidget* container, const char* name, const QString& caption,
                             QRect geometry) {
  auto* button = Place<QPushButton>(container, name, geometry, Arial(11.25, true));
  button->setText(caption);
  button->setAccessibleName(caption);
  button->setAutoDefault(false);
  return button;
}

namespace {

class SpaceKey : public QObject {
 public:
  SpaceKey(QWidget* list, std::function<void()> act) : QObject(list), act_(std::move(act)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
        act_();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> act_;
};

}  // namespace

void OnSpace(QWidget* list, std::function<void()> act) {
  list->installEventFilter(new SpaceKey(list, std::move(act)));
}

QLabel* ValueLabel(QWidget* window, const char* name, const QString& role) {
  auto* label = new QLabel(window);
  label->setObjectName(QString::fromLatin1(name));
  label->setAccessibleDescription(role);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  return label;
}

QTableView* LongTable(QWidget* window, const char* name, const QString& accessibleName,
                      QAbstractItemModel* model) {
  auto* table = new QTableView(window);
  table->setObjectName(QString::fromLatin1(name));
  table->setAccessibleName(accessibleName);
  table->setModel(model);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setTabKeyNavigation(false);
  table->setWordWrap(false);
  table->verticalHeader()->hide();
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}
