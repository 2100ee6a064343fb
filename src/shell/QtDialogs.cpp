#include "QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>

#include "PatternDialog.h"

QString DisplayedText(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(u'\r', u'\n');
  return shown;
}

namespace {
// Descriptions come from servers and users: never let them be read as markup.
void showPlainText(QMessageBox& box, const QString& text) {
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayedText(text));
}

QMessageBox::Icon iconOf(BoxIcon icon) {
  return icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon;
}
}  // namespace

void QtDialogs::showMessage(const QString& text, const QString& title, BoxIcon icon) {
  QMessageBox box(iconOf(icon), title, QString(), QMessageBox::Ok, QApplication::activeWindow());
  showPlainText(box, text);
  box.exec();
}

ReportAnswer QtDialogs::showMessageOfferingStop(const QString& text, const QString& title,
                                                BoxIcon icon) {
  QMessageBox box(iconOf(icon), title, QString(), QMessageBox::Ok, QApplication::activeWindow());
  showPlainText(box, text);
  QPushButton* stop = box.addButton(QStringLiteral("Stop Run"), QMessageBox::RejectRole);
  QPushButton* rest =
      box.addButton(QStringLiteral("Report the Rest in the Summary"), QMessageBox::ActionRole);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
  if (box.clickedButton() == stop) return ReportAnswer::StopRun;
  return box.clickedButton() == rest ? ReportAnswer::ReportRest : ReportAnswer::Ok;
}

bool QtDialogs::askYesNo(const QString& question) {
  QMessageBox box(QMessageBox::Question, applicationTitle(), QString(),
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  showPlainText(box, question);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::askInput(const QString& prompt, const QString& title) {
  bool accepted = false;
  const QString answer =
      QInputDialog::getText(QApplication::activeWindow(), title, DisplayedText(prompt),
                            QLineEdit::Normal, QString(), &accepted);
  return accepted ? answer : QString();
}

std::optional<QString> QtDialogs::editText(const QString& prompt, const QString& text) {
  bool accepted = false;
  const QString answer =
      QInputDialog::getText(QApplication::activeWindow(), applicationTitle(), DisplayedText(prompt),
                            QLineEdit::Normal, text, &accepted);
  if (!accepted) return std::nullopt;
  return answer;
}

std::pair<QString, QString> QtDialogs::askPattern(const PatternQuestion& question) {
  PatternDialog dialog(QApplication::activeWindow(), applicationTitle(), question);
  if (dialog.exec() != QDialog::Accepted) return {};
  return {dialog.patternEdit->text(), dialog.replacementEdit->text()};
}

QString QtDialogs::chooseFile(const QString& title, const QString& filter) {
  return pickFile(title, filter, QFileDialog::AcceptOpen);
}

QString QtDialogs::chooseNewFile(const QString& title, const QString& filter) {
  return pickFile(title, filter, QFileDialog::AcceptSave);
}

// Starts where the last file was picked, else in the user's documents (never the folder the
// program was started from); a name typed without a suffix gets the filter's first, so that
// the file is listed when it is opened again.
QString QtDialogs::pickFile(const QString& title, const QString& filter, int acceptMode) {
  if (lastFolder_.isEmpty()) {
    lastFolder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QFileInfo(lastFolder_).isDir()) lastFolder_ = QDir::homePath();
  }
  QFileDialog dialog(QApplication::activeWindow(), title, lastFolder_, filter);
  const auto mode = QFileDialog::AcceptMode(acceptMode);
  dialog.setObjectName(QStringLiteral("filePicker"));
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(FirstSuffixOf(filter));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString chosen = dialog.selectedFiles().front();
  lastFolder_ = QFileInfo(chosen).absolutePath();
  return chosen;
}

QString FirstSuffixOf(const QString& filter) {
  static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
  return pattern.match(filter).captured(1);
}
