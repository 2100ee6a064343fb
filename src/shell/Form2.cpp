#include "Form2.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <stdexcept>

#include "Appearance.h"
#include "Controls.h"
#include "Dialogs.h"
#include "FieldUpdateRun.h"
#include "Form1.h"
#include "ListViewWidget.h"
#include "MySQL.h"
#include "NumberText.h"
#include "OperationCatalogue.h"
#include "ReportingProcedure.h"
#include "SettingsStore.h"
#include "TableBrowser.h"

namespace {

const QString Tag = QStringLiteral("Klarifeld2021/08/31.Form2.");
const QString ListHint =
    QStringLiteral("Move | line to right and out of window to reveal full names.");

ListViewWidget* listView(QWidget* window, const char* name, QRect twips) {
  auto* list = Place<ListViewWidget>(window, name, twips, Arial(9, true));
  list->setToolTip(ListHint);
  return list;
}

void addColumn(ListViewWidget* list, const QString& header) {
  list->setHeaderLabels({header});
  list->setAccessibleName(header);
}

void setColumnWidth(ListViewWidget* list, int twips) {
  list->header()->resizeSection(0, Px(twips));
}

}  // namespace

Form2::Form2(Form1& login, Dialogs& dialogs, const SettingsStore& settings)
    : Window(QSize(Px(7680), Px(6885))), login_(login), dialogs_(dialogs), settings_(settings) {
  setObjectName(QStringLiteral("Form2"));
  layOut();
  connectHandlers();
}

void Form2::layOut() {
  setFont(Arial(9, true));
  SetBackColour(*this, Qt::white);
  Frame1 = new QGroupBox(QStringLiteral("Remove/Replace Options"), this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setGeometry(TwipsRect(120, 5520, 7440, 800));
  Frame1->setAccessibleName(Frame1->title());
  Frame1->setFocusPolicy(Qt::NoFocus);
  SetBackColour(*Frame1, Qt::white);
  QPalette caption = Frame1->palette();
  caption.setColor(QPalette::WindowText, Qt::black);
  Frame1->setPalette(caption);

  Combo1 = new QComboBox(Frame1);
  Combo1->setObjectName(QStringLiteral("Combo1"));
  Combo1->setGeometry(TwipsRect(240, 300, 6975, 345));
  Combo1->setAccessibleName(Frame1->title());
  PushButton2 = PlacePushButton(this, "PushButton2", QStringLiteral("Start Removing"),
                                TwipsRect(120, 6430, 3720, 405));
  PushButton3 = PlacePushButton(this, "PushButton3", QStringLiteral("Switch MySQL Database"),
                                TwipsRect(3960, 6430, 3600, 405));
  ListView1 = listView(this, "ListView1", TwipsRect(120, 120, 7440, 2535));
  ListView2 = listView(this, "ListView2", TwipsRect(120, 2760, 3570, 2670));
  ListView3 = listView(this, "ListView3", TwipsRect(3840, 2760, 3720, 2670));
  SetTabOrder({ListView1, ListView2, ListView3, Combo1, PushButton2, PushButton3});
}

void Form2::connectHandlers() {
  ListView1->onPick = [this] { ListView1_Click(); };
  ListView2->onPick = [this] { ListView2_Click(); };
  connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  hoverSets(Frame1, Pointer::Default);
  for (ListViewWidget* list : {ListView1, ListView2, ListView3}) {
    hoverSets(list, Pointer::Default);
    hoverSets(list->viewport(), Pointer::Default);
  }
  hoverSets(PushButton2, Pointer::Custom);
  hoverSets(PushButton3, Pointer::Custom);
}

BrowserLists Form2::lists() const {
  return {*ListView1, *ListView2, *ListView3};
}

void Form2::Form_Load() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("Form_Load"));
  run.step(100, [&] { ResetBackColors(*this); });
  run.step(102, [&] { setWindowIcon(WindowIcon()); });
  if (run.test(106, [] { return FileExists(CursorFilePath()); })) {
    run.step(108, [&] { setCustomCursor(LoadCursorFile(CursorFilePath())); });
  }
  run.step(110, [&] { setWindowTitle(FullDisplayName); });
  for (const CleaningOperation& operation : Catalogue()) {
    run.step(112 + 2 * operation.position, [&] { Combo1->addItem(operation.caption.toString()); });
  }
  run.step(166, [&] {
    Combo1->setCurrentIndex(-1);
    const qint16 index = ToInteger16(settings_.read(QStringLiteral("Combo1"), QStringLiteral("0")));
    if (index < -1 || index >= Combo1->count()) {
      throw std::invalid_argument("Invalid property value");
    }
    Combo1->setCurrentIndex(index);
  });
  run.step(168, [&] { addColumn(ListView1, QStringLiteral("Table(s)")); });
  run.step(170, [&] { setColumnWidth(ListView1, 6500); });
  run.step(172, [&] { addColumn(ListView2, QStringLiteral("Field(s)")); });
  run.step(174, [&] { setColumnWidth(ListView2, 3300); });
  run.step(176, [&] { addColumn(ListView3, QStringLiteral("First 100 Entries (Preview)")); });
  run.step(178, [&] { setColumnWidth(ListView3, 3400); });
}

void Form2::relistTables() {
  // No table has an empty name: with nothing chosen, nothing is found again.
  const QString chosen = ListView1->selectedIndex() < 0 ? QString() : ListView1->selectedText();
  ListView1->clear();
  AddMySQLToList1(*ListView1, login_.connectionString(), dialogs_);
  if (!ListView1->selectEntry(chosen)) {
    ListView2->clear();
    ListView3->clear();
  }
}

void Form2::ListView1_Click() {
  ListTableFields(lists(), login_.connectionString(), *this, dialogs_);
}

void Form2::ListView2_Click() {
  PreviewSelectedField(lists(), login_.connectionString(), *this, dialogs_);
}

void Form2::Combo1_Click() {
  ReportingProcedure(dialogs_, Tag + QStringLiteral("Combo1_Click")).step(100, [&] {
    settings_.write(QStringLiteral("Combo1"), QString::number(Combo1->currentIndex()));
  });
}

void Form2::PushButton2_Click() {
  FieldUpdateRun(lists(), Combo1->currentText(), login_.connectionString(), *this, dialogs_).run();
}

void Form2::PushButton3_Click() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("PushButton3_Click"));
  run.step(100, [&] { login_.show(); });
  run.step(102, [&] { hide(); });
}
