#include "Controls.h"

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
