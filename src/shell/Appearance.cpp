#include "Appearance.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QtEndian>
#include <stdexcept>

bool FileExists(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo file(path);
  return file.isFile() && file.lastModified().isValid();
}

QString CursorFilePath() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR");
}

QString SkinFilePath() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/x/o.cjs");
}

QCursor LoadCursorFile(const QString& path) {
  QFile file(path);
  QImageReader reader(&file, "cur");
  const QImage image = reader.read();
  if (image.isNull() || !file.seek(0)) throw std::runtime_error("Invalid picture");
  // The first entry of the cursor directory holds the hot spot at bytes 10 to 13.
  const QByteArray header = file.read(14);
  QPoint hotSpot(image.width() / 2, image.height() / 2);
  if (header.size() == 14 && qFromLittleEndian<quint16>(header.constData() + 2) == 2) {
    hotSpot = {qFromLittleEndian<quint16>(header.constData() + 10),
               qFromLittleEndian<quint16>(header.constData() + 12)};
  }
  return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

QColor ButtonFaceColour() {
  return QApplication::palette().color(QPalette::Button);
}

void SetBackColour(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

void ResetBackColors(QWidget& window) {
  const QColor face = ButtonFaceColour();
  SetBackColour(window, face);
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control) ||
        qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control)) {
      SetBackColour(*control, face);
    }
  }
}

void ApplySkin(QWidget& loginWindow) {
  const QString path = SkinFilePath();
  if (!FileExists(path)) return;
  ResetBackColors(loginWindow);
  QFile skin(path);
  if (!skin.open(QIODevice::ReadOnly))
    throw std::runtime_error("Cannot read the skin file " + path.toStdString());
  loginWindow.setStyleSheet(QString::fromUtf8(skin.readAll()));
}

// A database drum with a sparkle: the column gets cleaned.
QIcon WindowIcon() {
  QPixmap picture(32, 32);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
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
  painter.end();
  return QIcon(picture);
}
