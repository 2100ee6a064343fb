#pragma once

#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QRect>
#include <QString>

class QWidget;

// Twips, the unit of the layouts: 15 to a pixel at 96 dpi.
constexpr int Px(int twips) {
  return (twips + 7) / 15;
}
inline QRect TwipsRect(int left, int top, int width, int height) {
  return {Px(left), Px(top), Px(width), Px(height)};
}

// True when the file's time of last change can be read; never fails.
bool FileExists(const QString& path);

// An optional file (the cursor, the skin), looked up in the user's own data folder
// ($XDG_DATA_HOME/klarifeld), beside the program, in the installed data folder
// (share/klarifeld) and in the system's data folders, in that order. When none holds it,
// the path beside the program.
QString OptionalFilePath(const QString& name);
QString CursorFilePath();
QString SkinFilePath();

// A Windows cursor file as a cursor, its hot spot from the file's header.
// Throws std::runtime_error ("Invalid picture") when the file cannot be read as one.
QCursor LoadCursorFile(const QString& path);

// The colour of button faces, which the windows take when their colours are reset.
QColor ButtonFaceColour();
// Gives the window, and its frames and labels, the button-face colour.
void ResetBackColors(QWidget& window);
// With a skin file: resets the login window's colours, then applies the skin (a Qt style
// sheet) to it. Without one, the window keeps its designed look.
void ApplySkin(QWidget& loginWindow);

// The window icon that every window carries, sharp at any size.
QIcon WindowIcon();

// Sets a widget's background colour, painted.
void SetBackColour(QWidget& widget, const QColor& colour);
