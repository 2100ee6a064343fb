#include "QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

QString DisplayedText(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(u'\r', u'\n');
  return shown;
}

void QtDialogs::showMessage(const QString& text, const QString& title, BoxIcon icon) {
  QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title,
                  DisplayedText(text), QMessageBox::Ok, QApplication::activeWindow());
  // Descriptions come from servers and users: never let them be read as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QString QtDialogs::askInput(const QString& prompt, const QString& title) {
  bool accepted = false;
  const QString answer =
      QInputDialog::getText(QApplication::activeWindow(), title, DisplayedText(prompt),
                            QLineEdit::Normal, QString(), &accepted);
  return accepted ? answer : QString();
}
