// Writes the installed icon files from the program's own drawing: draw-icons FOLDER
// makes FOLDER/hicolor/scalable/apps/NAME.svg and FOLDER/hicolor/SxS/apps/NAME.png.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "IconArt.h"

namespace {

constexpr int PngSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool DrawSvg(const QString& path) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize({IconCanvas, IconCanvas});
  svg.setViewBox(QRect(0, 0, IconCanvas, IconCanvas));
  svg.setTitle(QStringLiteral("Klarifeld"));
  QPainter painter;
  if (!painter.begin(&svg)) return false;
  PaintIcon(painter);
  return painter.end();
}

bool DrawPng(const QString& path, int size) {
  QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.scale(qreal(size) / IconCanvas, qreal(size) / IconCanvas);
  PaintIcon(painter);
  painter.end();
  return picture.save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: draw-icons FOLDER NAME\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/");
  const QString name = QString::fromLocal8Bit(argv[2]);
  const QString scalable = root + QStringLiteral("scalable/apps/");
  bool written = QDir().mkpath(scalable) && DrawSvg(scalable + name + QStringLiteral(".svg"));
  for (int size : PngSizes) {
    const QString folder = root + QStringLiteral("%1x%1/apps/").arg(size);
    written =
        written && QDir().mkpath(folder) && DrawPng(folder + name + QStringLiteral(".png"), size);
  }
  if (!written) std::fprintf(stderr, "draw-icons: cannot write the icons under %s\n", argv[1]);
  return written ? 0 : 1;
}
