#include "Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <mutex>

#include "Window.h"

namespace {

class LabelledDropDown : public QAccessibleWidget {
 public:
  explicit LabelledDropDown(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return box()->currentText();
    const QString said = QAccessibleWidget::text(kind);
    return kind == QAccessible::Name && said.isEmpty() ? box()->currentText() : said;
  }
  // Its list, as Qt's own drop-down has it.
  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && child->object() == box()->view() ? 0 : -1;
  }
  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == showMenuAction() || action == pressAction()) {
      box()->showPopup();
    } else {
      QAccessibleWidget::doAction(action);
    }
  }

 private:
  QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* labelledDropDowns(const QString& className, QObject* object) {
  if (className != QLatin1String("QComboBox") || !object || !object->isWidgetType()) {
    return nullptr;
  }
  auto* box = static_cast<QComboBox*>(object);
  return box->isEditable() ? nullptr : new LabelledDropDown(box);
}

QAccessibleInterface* windows(const QString&, QObject* object) {
  auto* window = dynamic_cast<Window*>(object);
  return window ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

}  // namespace

void InstallAccessibility() {
  static std::once_flag once;
  std::call_once(once, [] {
    QAccessible::installFactory(windows);
    QAccessible::installFactory(labelledDropDowns);
  });
}
