#include "Appearance.h"

#include "IconArt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QIconEngine>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QStandardPaths>
#include <QtEndian>
#include <stdexcept>

bool FileExists(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo file(path);
  return file.isFile() && file.lastModified().isValid();
}

QString OptionalFilePath(const QString& name) {
  const QString program = QCoreApplication::applicationDirPath();
  const QString ours = QStringLiteral("/klarifeld/");
  QStringList places{QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + ours,
                     program + u'/', program + QStringLiteral("/" KLARIFELD_DATA_FROM_PROGRAM "/")};
  for (const QString& folder :
       QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    places << folder + ours;
  }
  places.removeDuplicates();  // the user's folder is the first of the system's too
  for (const QString& folder : places) {
    if (FileExists(folder + name)) return QDir::cleanPath(folder + name);
  }
  return program + u'/' + name;
}

QString CursorFilePath() {
  return OptionalFilePath(QStringLiteral("HAND-M.CUR"));
}

QString SkinFilePath() {
  return OptionalFilePath(QStringLiteral("x/o.cjs"));
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

namespace {

// Paints the icon at whatever size is asked, so it stays sharp at every scale factor.
class PaintedIconEngine final : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    painter->save();
    painter->translate(rect.topLeft());
    painter->scale(qreal(rect.width()) / IconCanvas, qreal(rect.height()) / IconCanvas);
    PaintIcon(*painter);
    painter->restore();
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(&painter, QRect(QPoint(), size), mode, state);
    return picture;
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
  QIconEngine* clone() const override { return new PaintedIconEngine; }
};

}  // namespace

QIcon WindowIcon() {
  return QIcon(new PaintedIconEngine);
}
