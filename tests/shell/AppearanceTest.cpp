#include "Appearance.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

// A cursor file: an icon file whose directory says "cursor" and carries the hot spot.
QByteArray cursorFile(QPoint hotSpot) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::red);
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter(&buffer, "ico").write(image);
  QByteArray bytes = buffer.data();
  qToLittleEndian<quint16>(2, bytes.data() + 2);
  qToLittleEndian<quint16>(quint16(hotSpot.x()), bytes.data() + 10);
  qToLittleEndian<quint16>(quint16(hotSpot.y()), bytes.data() + 12);
  return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

}  // namespace

TEST(Appearance, FileExistsNeverFails) {
  QTemporaryDir dir;
  writeFile(dir.filePath("present"), "x");
  EXPECT_TRUE(FileExists(dir.filePath("present")));
  EXPECT_FALSE(FileExists(dir.filePath("absent")));
  EXPECT_FALSE(FileExists(dir.filePath("no/such/folder/file")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(dir.path())) << "a folder is not a file";
}

TEST(Appearance, ACursorFileGivesItsPictureAndHotSpot) {
  QTemporaryDir dir;
  writeFile(dir.filePath("HAND-M.CUR"), cursorFile({5, 3}));
  const QCursor cursor = LoadCursorFile(dir.filePath("HAND-M.CUR"));
  EXPECT_EQ(cursor.hotSpot(), QPoint(5, 3));
  EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));

  writeFile(dir.filePath("broken.cur"), "not a cursor");
  EXPECT_THROW(LoadCursorFile(dir.filePath("broken.cur")), std::runtime_error);
}

TEST(Appearance, ResetBackColorsReachesFramesAndLabelsOnly) {
  QWidget window;
  auto* frame = new QGroupBox(&window);
  auto* label = new QLabel(frame);
  auto* box = new QLineEdit(frame);
  for (QWidget* widget : {&window, static_cast<QWidget*>(frame), static_cast<QWidget*>(label),
                          static_cast<QWidget*>(box)}) {
    SetBackColour(*widget, Qt::white);
  }
  ResetBackColors(window);
  const QColor face = ButtonFaceColour();
  EXPECT_EQ(window.palette().color(QPalette::Window), face);
  EXPECT_EQ(frame->palette().color(QPalette::Window), face);
  EXPECT_EQ(label->palette().color(QPalette::Window), face);
  EXPECT_EQ(box->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST(Appearance, WithoutASkinFileTheLoginKeepsItsLook) {
  ASSERT_FALSE(FileExists(SkinFilePath()));
  QWidget window;
  SetBackColour(window, Qt::white);
  ApplySkin(window);
  EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_TRUE(window.styleSheet().isEmpty());
}

// The user's own copy wins over one beside the program; without either, the path
// beside the program, which the windows find missing and skip.
TEST(Appearance, OptionalFilesComeFromTheUsersDataFolderFirst) {
  QTemporaryDir data;
  const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/x/o.cjs");
  EXPECT_EQ(SkinFilePath(), beside);

  QDir(data.path()).mkpath(QStringLiteral("klarifeld/x"));
  const QString ours = data.path() + QStringLiteral("/klarifeld/x/o.cjs");
  QFile skin(ours);
  ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
  skin.close();
  EXPECT_EQ(SkinFilePath(), ours);
  EXPECT_EQ(CursorFilePath(),
            QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR"));
  qputenv("XDG_DATA_HOME", oldDataHome);
}
