#pragma once

#include <QDialog>

#include "Dialogs.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The pattern and its replacement in one window: the pattern checked as it is typed, with
// the library's message under it, and the field's first values before and after.
class PatternDialog : public QDialog {
 public:
  PatternDialog(QWidget* parent, const QString& title, PatternQuestion question);

  QLineEdit* patternEdit;
  QLabel* problemText;
  QLineEdit* replacementEdit;
  QLabel* syntaxText;
  QTreeWidget* sampleList;
  QPushButton* okButton;

 private:
  void layOut();
  void follow();

  PatternQuestion question_;
};
