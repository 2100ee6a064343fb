#include "Form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Appearance.h"
#include "Connection.h"
#include "ConnectionString.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Events.h"
#include "Form2.h"
#include "ListViewWidget.h"
#include "MySQL.h"
#include "ReportingProcedure.h"
#include "SettingsStore.h"

namespace {

const QString Tag = QStringLiteral("Klarifeld2021/08/31.Form1.");

const QString CouldNotConnect = QStringLiteral(
    "Could not connect. Please check with your administrator. Make sure you are allowed to "
    "connect to your database remotely and not just through web-based control panels.");

QLabel* label(QWidget* frame, const char* name, const QString& caption, QRect twips) {
  auto* label = Place<QLabel>(frame, name, twips, Arial(9, true));
  label->setText(caption);
  SetBackColour(*label, Qt::white);
  return label;
}

QLineEdit* box(QWidget* frame, const char* name, QRect twips, QLabel* caption) {
  auto* box = Place<QLineEdit>(frame, name, twips, Arial(9, true));
  if (caption) {
    caption->setBuddy(box);
    box->setAccessibleName(caption->text().chopped(1));  // without the colon
  }
  SelectAllOnFocus(box);
  return box;
}

}  // namespace

Form1::Form1(Dialogs& dialogs, const SettingsStore& settings)
    : Window(QSize(Px(8040), Px(3690))), dialogs_(dialogs), settings_(settings) {
  setObjectName(QStringLiteral("Form1"));
  layOut();
  connectHandlers();
}

Form1::~Form1() = default;

void Form1::layOut() {
  setFont(Arial(9, false));
  SetBackColour(*this, Qt::white);
  Frame1 = Place<QGroupBox>(this, "Frame1", TwipsRect(120, 120, 7800, 2895), Arial(9, true));
  Frame1->setTitle(QStringLiteral("MySQL Login"));
  Frame1->setAccessibleName(Frame1->title());
  SetBackColour(*Frame1, Qt::white);

  Label2 = label(Frame1, "Label2", QStringLiteral("Server:"), TwipsRect(240, 405, 1095, 255));
  Label9 = label(Frame1, "Label9", QStringLiteral("Port:"), TwipsRect(6000, 405, 495, 255));
  Label1 = label(Frame1, "Label1", QStringLiteral("Username:"), TwipsRect(240, 885, 1095, 255));
  Label4 = label(Frame1, "Label4", QStringLiteral("Password:"), TwipsRect(240, 1365, 1095, 255));
  Label3 = label(Frame1, "Label3", QStringLiteral("Database:"), TwipsRect(240, 1845, 975, 255));
  Text1 = box(Frame1, "Text1", TwipsRect(1320, 360, 4575, 345), Label2);
  Text5 = box(Frame1, "Text5", TwipsRect(6480, 360, 1095, 345), Label9);
  Text2 = box(Frame1, "Text2", TwipsRect(1320, 840, 6255, 345), Label1);
  Text3 = box(Frame1, "Text3", TwipsRect(1320, 1320, 6255, 345), Label4);
  Text4 = box(Frame1, "Text4", TwipsRect(1320, 1800, 6255, 345), Label3);
  Text3->setEchoMode(QLineEdit::Password);
  Text3->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"

  PushButton5 = PlacePushButton(Frame1, "PushButton5", QStringLiteral("Test Connection"),
                                TwipsRect(240, 2280, 3600, 405));
  PushButton4 = PlacePushButton(Frame1, "PushButton4", QStringLiteral("Help"),
                                TwipsRect(3960, 2280, 3600, 405));
  PushButton3 = PlacePushButton(this, "PushButton3", QStringLiteral("Next >"),
                                TwipsRect(120, 3150, 7800, 405));

  for (QWidget* control :
       std::initializer_list<QWidget*>{Frame1, Label1, Label2, Label3, Label4, Label9}) {
    control->setFocusPolicy(Qt::NoFocus);
  }
  SetTabOrder({Text1, Text5, Text2, Text3, Text4, PushButton5, PushButton4, PushButton3});
}

void Form1::connectHandlers() {
  storeOnChange(Text1, QStringLiteral("MyServer"), QStringLiteral("Text1_Change"));
  storeOnChange(Text2, QStringLiteral("MyUser"), QStringLiteral("Text2_Change"));
  storeOnChange(Text3, QStringLiteral("MyPassword"), QStringLiteral("Text3_Change"));
  storeOnChange(Text4, QStringLiteral("MyDatabase"), QStringLiteral("Text4_Change"));
  storeOnChange(Text5, QStringLiteral("MyPort"), QStringLiteral("Text5_Change"));
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
  connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
  for (QWidget* control : std::initializer_list<QWidget*>{Frame1, Text1, Text2, Text3, Text4}) {
    hoverSets(control, Pointer::Default);
  }
  for (QWidget* control : {PushButton3, PushButton4, PushButton5})
    hoverSets(control, Pointer::Custom);
}

void Form1::storeOnChange(QLineEdit* box, const QString& key, const QString& tag) {
  connect(box, &QLineEdit::textChanged, this, [this, key, tag](const QString& text) {
    ReportingProcedure(dialogs_, Tag + tag).step(100, [&] { settings_.write(key, text); });
  });
}

QString Form1::connectionString() const {
  return BuildConnectionString(Text1->text(), Text2->text(), Text3->text(), Text4->text(),
                               Text5->text());
}

Form2& Form1::form2() {
  if (!form2_) {
    form2_ = std::make_unique<Form2>(*this, dialogs_, settings_);
    form2_->Form_Load();
  }
  return *form2_;
}

void Form1::start() {
  Form_Load();
  if (!(form2Loaded() && form2_->isVisible())) show();
}

void Form1::Form_Load() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("Form_Load"));
  run.step(100, [&] { ApplySkin(*this); });
  run.step(104, [&] {
    setWindowTitle(FullDisplayName);
    setWindowIcon(WindowIcon());
    SetApplicationTitle(dialogs_);
  });
  if (run.test(124, [] { return FileExists(CursorFilePath()); })) {
    run.step(126, [&] { setCustomCursor(LoadCursorFile(CursorFilePath())); });
  }
  const auto fill = [&](int line, QLineEdit* box, const char* key, const QString& absent) {
    run.step(line, [&] { box->setText(settings_.read(QString::fromLatin1(key), absent)); });
  };
  fill(128, Text1, "MyServer", QStringLiteral("localhost"));
  fill(130, Text2, "MyUser", QString());
  fill(132, Text3, "MyPassword", QString());
  fill(134, Text4, "MyDatabase", QString());
  fill(136, Text5, "MyPort", QStringLiteral("3306"));
  if (run.test(138, [&] { return !Text1->text().isEmpty(); })) {
    if (run.test(140, [&] { return CheckMySQLConnection(connectionString()); })) {
      run.step(142, [&] { PushButton3_Click(); });
    }
  }
}

void Form1::PushButton3_Click() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("PushButton3_Click"));
  if (run.test(100, [&] { return !CheckMySQLConnection(connectionString()); })) return;
  // In place of the tables listed before, so that coming back does not list them twice.
  run.step(102, [&] { form2().relistTables(); });
  run.step(104, [&] { form2().show(); });
  run.step(106, [&] { hide(); });
}

void Form1::PushButton4_Click() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("PushButton4_Click"));
  QString text;
  run.step(104, [&] {
    text = QStringLiteral(
               "If you cannot establish connection to your database with this "
               "program, please go to: ") +
           QStringLiteral("\r\r");
  });
  run.step(106, [&] { text += QStringLiteral("https://dev.mysql.com/downloads/workbench/\r\r"); });
  run.step(108, [&] {
    text += QStringLiteral(
        "Download and install the MySQL Workbench. Try to connect to the same "
        "database (with the same login information you are using here). This "
        "will determine if the login you are using is correct.\r\r");
  });
  run.step(110, [&] {
    text += QStringLiteral(
        "Finally, make sure your host allows a direct connection to your MySQL "
        "database -- not a web based connection, for example.");
  });
  run.step(112, [&] { dialogs_.message(text); });
}

void Form1::PushButton5_Click() {
  ReportingProcedure run(dialogs_, Tag + QStringLiteral("PushButton5_Click"));
  std::unique_ptr<Connection> connection;
  run.step(100, [&] { connection = CreateObjectAs<Connection>(u"ADODB.Connection"); });
  try {
    setPointer(Pointer::Hourglass);
    LetPendingEventsRun();
    Required(connection).Open(connectionString());
    dialogs_.message(QStringLiteral("Connection successful."));
    setPointer(Pointer::Default);
  } catch (...) {
    dialogs_.message(CouldNotConnect);
    setPointer(Pointer::Default);
  }
}
