#include "IconArt.h"

#include <QPainter>
#include <QPainterPath>

// A database drum with a sparkle: the column gets cleaned.
void PaintIcon(QPainter& painter) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
  painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

  const QColor drum(0xf2, 0xf6, 0xfb);
  painter.setBrush(drum);
  painter.drawRect(QRectF(7, 10, 14, 14));
  painter.drawEllipse(QRectF(7, 20, 14, 6));
  painter.setBrush(QColor(0xc9, 0xd9, 0xee));
  painter.drawEllipse(QRectF(7, 7, 14, 6));
  painter.setPen(QPen(QColor(0x1f, 0x5f, 0xa8), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawArc(QRectF(7, 13, 14, 6), 180 * 16, 180 * 16);
  painter.drawArc(QRectF(7, 17, 14, 6), 180 * 16, 180 * 16);

  QPainterPath sparkle;
  sparkle.moveTo(25, 3);
  sparkle.quadTo(25.6, 8.4, 30, 9);
  sparkle.quadTo(25.6, 9.6, 25, 15);
  sparkle.quadTo(24.4, 9.6, 20, 9);
  sparkle.quadTo(24.4, 8.4, 25, 3);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xff, 0xd2, 0x3f));
  painter.drawPath(sparkle);
  painter.restore();
}
