#include "Controls.h"

#include <QLabel>
#include <QPushButton>

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

QLabel* ValueLabel(QWidget* window, const char* name, const QString& role) {
  auto* label = new QLabel(window);
  label->setObjectName(QString::fromLatin1(name));
  label->setAccessibleDescription(role);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  return label;
}
