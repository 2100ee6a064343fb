#include "PatternDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>

#include "Controls.h"
#include "VisibleText.h"

PatternDialog::PatternDialog(QWidget* parent, const QString& title, PatternQuestion question)
    : QDialog(parent), question_(std::move(question)) {
  setObjectName(QStringLiteral("patternDialog"));
  setWindowTitle(title);
  setAccessibleName(title);
  layOut();
  connect(patternEdit, &QLineEdit::textChanged, this, [this] { follow(); });
  connect(replacementEdit, &QLineEdit::textChanged, this, [this] { follow(); });
  follow();
}

void PatternDialog::layOut() {
  patternEdit = new QLineEdit(this);
  patternEdit->setObjectName(QStringLiteral("patternEdit"));
  problemText = ValueLabel(this, "problemText", QStringLiteral("What is wrong with the pattern"));
  replacementEdit = new QLineEdit(this);
  replacementEdit->setObjectName(QStringLiteral("replacementEdit"));
  syntaxText = ValueLabel(this, "syntaxText", QStringLiteral("Syntax"));
  syntaxText->setText(
      QStringLiteral("Perl-compatible: \\d a digit, \\s a space, [a-z] one of these, + one or "
                     "more, (…) a group, (?i) any case. In the replacement, $1 or ${name} puts a "
                     "group back and $$ a dollar."));
  sampleList = new QTreeWidget(this);
  sampleList->setObjectName(QStringLiteral("sampleList"));
  sampleList->setAccessibleName(QStringLiteral("The field's first values, before and after"));
  sampleList->setRootIsDecorated(false);
  sampleList->setHeaderLabels({QStringLiteral("Before"), QStringLiteral("After")});
  sampleList->header()->setSectionResizeMode(QHeaderView::Stretch);
  sampleList->setFocusPolicy(Qt::NoFocus);  // to look at; Tab goes from field to button
  sampleList->setMinimumHeight(sampleList->fontMetrics().height() * 8);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  okButton = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* form = new QFormLayout;
  // Each field is named by its question, as its label reads.
  const auto labelled = [&](const QString& prompt, QLineEdit* edit) {
    auto* label = new QLabel(prompt, this);
    label->setBuddy(edit);
    edit->setAccessibleName(prompt);
    form->addRow(label, edit);
  };
  labelled(question_.patternPrompt, patternEdit);
  form->addRow(QString(), problemText);
  labelled(question_.replacementPrompt, replacementEdit);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(syntaxText);
  layout->addWidget(sampleList, 1);
  layout->addWidget(buttons);
  resize(620, 420);
}

// The check and the samples follow every key: a pattern is refused before it is answered.
void PatternDialog::follow() {
  const QString pattern = patternEdit->text(), replacement = replacementEdit->text();
  const QString problem = pattern.isEmpty() ? QString() : question_.problem(pattern, replacement);
  problemText->setText(problem);
  problemText->setVisible(!problem.isEmpty());
  okButton->setEnabled(!pattern.isEmpty() && problem.isEmpty());
  sampleList->clear();
  for (const QString& sample : question_.samples) {
    QString after;
    if (pattern.isEmpty() || !problem.isEmpty()) {
      after = sample;
    } else {
      try {
        after = question_.apply(sample, pattern, replacement);
      } catch (const std::exception& failure) {
        after = QStringLiteral("(%1)").arg(QString::fromUtf8(failure.what()));
      }
    }
    auto* item =
        new QTreeWidgetItem(sampleList, {WithVisibleMarks(sample), WithVisibleMarks(after)});
    item->setToolTip(1, item->text(1));
  }
}
