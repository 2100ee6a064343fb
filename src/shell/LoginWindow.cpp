#include "LoginWindow.h"

#include <QComboBox>
#include <QCompleter>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

#include "Appearance.h"
#include "Connection.h"
#include "ConnectionFailure.h"
#include "ConnectionString.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Events.h"
#include "LinkRefusal.h"
#include "ListViewWidget.h"
#include "MainWindow.h"
#include "MySQL.h"
#include "ProfileKeys.h"
#include "ReportingProcedure.h"
#include "SettingsStore.h"

namespace {

// The location tags that error reports show, as users and support know them.
namespace Tags {
const QString Load = QStringLiteral("Klarifeld2021/08/31.Form1.Form_Load");
const QString Next = QStringLiteral("Klarifeld2021/08/31.Form1.PushButton3_Click");
const QString Help = QStringLiteral("Klarifeld2021/08/31.Form1.PushButton4_Click");
const QString TestConnection = QStringLiteral("Klarifeld2021/08/31.Form1.PushButton5_Click");
const QString ServerChange = QStringLiteral("Klarifeld2021/08/31.Form1.Text1_Change");
const QString UserChange = QStringLiteral("Klarifeld2021/08/31.Form1.Text2_Change");
const QString PasswordChange = QStringLiteral("Klarifeld2021/08/31.Form1.Text3_Change");
const QString DatabaseChange = QStringLiteral("Klarifeld2021/08/31.Form1.Text4_Change");
const QString PortChange = QStringLiteral("Klarifeld2021/08/31.Form1.Text5_Change");
const QString EncryptionChange = QStringLiteral("Klarifeld2021/08/31.Form1.Encryption_Change");
const QString CaFileChange = QStringLiteral("Klarifeld2021/08/31.Form1.CAFile_Change");
const QString EngineChange = QStringLiteral("Klarifeld2021/08/31.Form1.Engine_Change");
const QString ChooseCaFile = QStringLiteral("Klarifeld2021/08/31.Form1.ChooseCAFile_Click");
}  // namespace Tags

constexpr std::array Encryptions = {Encryption::Preferred, Encryption::Required,
                                    Encryption::VerifyCa, Encryption::VerifyIdentity};

QString meaningOf(Encryption encryption) {
  switch (encryption) {
    case Encryption::Preferred:
      return QStringLiteral("Encrypted whenever the server offers it.");
    case Encryption::Required:
      return QStringLiteral("Encrypted, or no connection.");
    case Encryption::VerifyCa:
      return QStringLiteral(
          "Encrypted, and only with a server whose certificate the CA file "
          "vouches for.");
    case Encryption::VerifyIdentity:
      return QStringLiteral(
          "Encrypted, and only with a server whose certificate the CA file "
          "vouches for, issued for the server's name.");
  }
  return {};
}

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

LoginWindow::LoginWindow(Dialogs& dialogs, const SettingsStore& settings)
    : Window(QSize(Px(12720), Px(3690))),
      dialogs_(dialogs),
      settings_(settings),
      password_(settings) {
  setObjectName(QStringLiteral("loginWindow"));
  password_.onKeptInFile = [this](const QString& reason) {
    dialogs_.message(QStringLiteral("No secret store of the desktop answered (%1), so the "
                                    "password is kept in the settings file %2, which only you "
                                    "can read.")
                         .arg(reason, settings_.filePath()));
  };
  layOut();
  connectHandlers();
}

LoginWindow::~LoginWindow() = default;

void LoginWindow::layOut() {
  setFont(Arial(9, false));
  SetBackColour(*this, Qt::white);
  loginFrame =
      Place<QGroupBox>(this, "loginFrame", TwipsRect(120, 120, 7800, 2895), Arial(9, true));
  loginFrame->setTitle(QStringLiteral("MySQL Login"));
  loginFrame->setAccessibleName(loginFrame->title());
  SetBackColour(*loginFrame, Qt::white);

  serverLabel =
      label(loginFrame, "serverLabel", QStringLiteral("Server:"), TwipsRect(240, 405, 1095, 255));
  portLabel =
      label(loginFrame, "portLabel", QStringLiteral("Port:"), TwipsRect(6000, 405, 495, 255));
  userLabel =
      label(loginFrame, "userLabel", QStringLiteral("Username:"), TwipsRect(240, 885, 1095, 255));
  passwordLabel = label(loginFrame, "passwordLabel", QStringLiteral("Password:"),
                        TwipsRect(240, 1365, 1095, 255));
  databaseLabel = label(loginFrame, "databaseLabel", QStringLiteral("Database:"),
                        TwipsRect(240, 1845, 975, 255));
  serverBox = box(loginFrame, "serverBox", TwipsRect(1320, 360, 4575, 345), serverLabel);
  portBox = box(loginFrame, "portBox", TwipsRect(6480, 360, 1095, 345), portLabel);
  userBox = box(loginFrame, "userBox", TwipsRect(1320, 840, 6255, 345), userLabel);
  passwordBox = box(loginFrame, "passwordBox", TwipsRect(1320, 1320, 6255, 345), passwordLabel);
  databaseBox = box(loginFrame, "databaseBox", TwipsRect(1320, 1800, 6255, 345), databaseLabel);
  passwordBox->setEchoMode(QLineEdit::Password);
  passwordBox->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"

  testConnectionButton =
      PlacePushButton(loginFrame, "testConnectionButton", QStringLiteral("Test Connection"),
                      TwipsRect(240, 2280, 3600, 405));
  helpButton = PlacePushButton(loginFrame, "helpButton", QStringLiteral("Help"),
                               TwipsRect(3960, 2280, 3600, 405));
  nextButton = PlacePushButton(this, "nextButton", QStringLiteral("Next >"),
                               TwipsRect(120, 3150, 7800, 405));
  nextButton->setDefault(true);  // what Enter presses

  layOutEncryption();
  // Beside "Next >", under the encryption frame: why the saved connection did not open at
  // start-up, which says so in no box.
  connectionNote = ValueLabel(this, "connectionNote", QStringLiteral("Why it did not connect"));
  connectionNote->setGeometry(QRect(536, 205, 304, 38));
  connectionNote->setFont(Arial(8, false));
  connectionNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  for (QWidget* control : std::initializer_list<QWidget*>{
           loginFrame, userLabel, serverLabel, databaseLabel, passwordLabel, portLabel,
           encryptionFrame, engineLabel, encryptionLabel, caFileLabel, encryptionNote}) {
    control->setFocusPolicy(Qt::NoFocus);
  }
  SetTabOrder({serverBox, portBox, userBox, passwordBox, databaseBox, engineBox, encryptionBox,
               caFileBox, chooseCaFileButton, testConnectionButton, helpButton, nextButton});
}

// Beside the login frame, so that the controls before it keep their places: the kind of
// server, and how the link to it is protected.
void LoginWindow::layOutEncryption() {
  encryptionFrame =
      Place<QGroupBox>(this, "encryptionFrame", TwipsRect(8040, 120, 4560, 2895), Arial(9, true));
  encryptionFrame->setTitle(QStringLiteral("Engine and Encryption"));
  encryptionFrame->setAccessibleName(encryptionFrame->title());
  SetBackColour(*encryptionFrame, Qt::white);
  engineLabel = label(encryptionFrame, "engineLabel", QStringLiteral("Engine:"),
                      TwipsRect(240, 405, 1095, 255));
  engineBox = Place<QComboBox>(encryptionFrame, "engineBox", TwipsRect(1320, 360, 3000, 345),
                               Arial(9, true));
  engineBox->addItems({QStringLiteral("MySQL / MariaDB"), QStringLiteral("PostgreSQL")});
  engineLabel->setBuddy(engineBox);
  engineBox->setAccessibleName(QStringLiteral("Engine"));
  encryptionLabel = label(encryptionFrame, "encryptionLabel", QStringLiteral("Encryption:"),
                          TwipsRect(240, 885, 1095, 255));
  encryptionBox = Place<QComboBox>(encryptionFrame, "encryptionBox",
                                   TwipsRect(1320, 840, 3000, 345), Arial(9, true));
  for (Encryption encryption : Encryptions) encryptionBox->addItem(EncryptionCaption(encryption));
  encryptionLabel->setBuddy(encryptionBox);
  encryptionBox->setAccessibleName(QStringLiteral("Encryption"));
  caFileLabel = label(encryptionFrame, "caFileLabel", QStringLiteral("CA file:"),
                      TwipsRect(240, 1365, 1095, 255));
  caFileBox = box(encryptionFrame, "caFileBox", TwipsRect(1320, 1320, 3000, 345), caFileLabel);
  chooseCaFileButton =
      PlacePushButton(encryptionFrame, "chooseCaFileButton", QStringLiteral("Choose CA File..."),
                      TwipsRect(1320, 1800, 3000, 405));
  encryptionNote = Place<QLabel>(encryptionFrame, "encryptionNote", TwipsRect(240, 2265, 4080, 600),
                                 Arial(8, false));
  encryptionNote->setWordWrap(true);
  encryptionNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  encryptionNote->setAccessibleDescription(QStringLiteral("What the encryption setting means"));
  SetBackColour(*encryptionNote, Qt::white);
  showEncryptionNote();
}

QString LoginWindow::engine() const {
  return engineBox->currentIndex() == 1 ? QStringLiteral("PostgreSQL") : QString();
}

// The port follows the engine while it is the other engine's own.
void LoginWindow::onEngineChosen() {
  const bool postgreSql = !engine().isEmpty();
  if (portBox->text() == (postgreSql ? u"3306" : u"5432")) {
    portBox->setText(postgreSql ? QStringLiteral("5432") : QStringLiteral("3306"));
  }
  ReportingProcedure(dialogs_, Tags::EngineChange).step(100, [&] {
    settings_.write(ProfileKeys::Engine, engine());
  });
}

Encryption LoginWindow::encryption() const {
  return Encryptions[std::size_t(std::max(encryptionBox->currentIndex(), 0))];
}

void LoginWindow::showEncryptionNote() {
  encryptionNote->setText(meaningOf(encryption()));
}

// Enter goes on, as "Next >" does; on a button it presses that button. The boxes leave
// Enter to the window.
void LoginWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || (event->modifiers() & ~Qt::KeypadModifier)) {
    Window::keyPressEvent(event);
    return;
  }
  auto* button = qobject_cast<QPushButton*>(focusWidget());
  (button ? button : nextButton)->click();
}

void LoginWindow::connectHandlers() {
  storeOnChange(serverBox, ProfileKeys::Server, Tags::ServerChange);
  storeOnChange(userBox, ProfileKeys::User, Tags::UserChange);
  connect(passwordBox, &QLineEdit::textChanged, this, [this](const QString& text) {
    ReportingProcedure(dialogs_, Tags::PasswordChange).step(100, [&] { password_.write(text); });
  });
  storeOnChange(databaseBox, ProfileKeys::Database, Tags::DatabaseChange);
  storeOnChange(portBox, ProfileKeys::Port, Tags::PortChange);
  storeOnChange(caFileBox, ProfileKeys::CaFile, Tags::CaFileChange);
  connect(engineBox, &QComboBox::activated, this, [this] { onEngineChosen(); });
  connect(encryptionBox, &QComboBox::currentIndexChanged, this, [this] {
    showEncryptionNote();
    ReportingProcedure(dialogs_, Tags::EncryptionChange).step(100, [&] {
      settings_.write(ProfileKeys::Encryption, EncryptionName(encryption()));
    });
  });
  connect(chooseCaFileButton, &QPushButton::clicked, this, [this] { onChooseCaFileClicked(); });
  connect(nextButton, &QPushButton::clicked, this, [this] { onNextClicked(); });
  connect(helpButton, &QPushButton::clicked, this, [this] { onHelpClicked(); });
  connect(testConnectionButton, &QPushButton::clicked, this, [this] { onTestConnectionClicked(); });
  for (QWidget* control :
       std::initializer_list<QWidget*>{loginFrame, serverBox, userBox, passwordBox, databaseBox,
                                       encryptionFrame, engineBox, encryptionBox, caFileBox}) {
    hoverSets(control, Pointer::Default);
  }
  for (QWidget* control : {nextButton, helpButton, testConnectionButton, chooseCaFileButton})
    hoverSets(control, Pointer::Custom);
}

void LoginWindow::storeOnChange(QLineEdit* box, const QString& key, const QString& tag) {
  connect(box, &QLineEdit::textChanged, this, [this, key, tag](const QString& text) {
    ReportingProcedure(dialogs_, tag).step(100, [&] { settings_.write(key, text); });
  });
}

QString LoginWindow::connectionString() const {
  return BuildConnectionString(serverBox->text(), userBox->text(), passwordBox->text(),
                               databaseBox->text(), portBox->text(), encryption(),
                               caFileBox->text(), QString(), engine());
}

MainWindow& LoginWindow::mainWindow() {
  if (!mainWindow_) {
    mainWindow_ = std::make_unique<MainWindow>(*this, dialogs_, settings_);
    mainWindow_->load();
  }
  return *mainWindow_;
}

void LoginWindow::load() {
  ReportingProcedure run(dialogs_, Tags::Load);
  run.step(100, [&] { ApplySkin(*this); });
  run.step(104, [&] {
    setWindowTitle(FullDisplayName);
    setWindowIcon(WindowIcon());
    SetApplicationTitle(dialogs_);
  });
  if (run.test(124, [] { return FileExists(CursorFilePath()); })) {
    run.step(126, [&] { setCustomCursor(LoadCursorFile(CursorFilePath())); });
  }
  const auto fill = [&](int line, QLineEdit* box, const QString& key, const QString& absent) {
    run.step(line, [&] { box->setText(settings_.read(key, absent)); });
  };
  fill(128, serverBox, ProfileKeys::Server, QStringLiteral("localhost"));
  fill(130, userBox, ProfileKeys::User, QString());
  run.step(132, [&] { passwordBox->setText(password_.read()); });
  fill(134, databaseBox, ProfileKeys::Database, QString());
  fill(136, portBox, ProfileKeys::Port, QStringLiteral("3306"));
  bool encryptionKnown = true;
  run.step(137, [&] {
    const QString name = settings_.read(ProfileKeys::Encryption, {});
    const std::optional<Encryption> stored = EncryptionNamed(name);
    encryptionBox->setCurrentIndex(int(stored.value_or(Encryption::Preferred)));
    caFileBox->setText(settings_.read(ProfileKeys::CaFile, QString()));
    const bool postgreSql = settings_.read(ProfileKeys::Engine, QString())
                                .compare(QStringLiteral("PostgreSQL"), Qt::CaseInsensitive) == 0;
    engineBox->setCurrentIndex(postgreSql ? 1 : 0);
    // A mistyped setting must not quietly become a weaker one: nothing connects until the
    // user has chosen.
    if (!name.isEmpty() && !stored) {
      encryptionKnown = false;
      dialogs_.message(QStringLiteral("The stored encryption setting \"%1\" is not one that "
                                      "Klarifeld knows, so it did not connect. Choose the "
                                      "encryption in the Engine and Encryption frame.")
                           .arg(name));
      encryptionBox->setFocus();
    }
  });
  if (encryptionKnown && run.test(138, [&] { return !serverBox->text().isEmpty(); })) {
    if (run.test(140, [&] { return connects(false); })) {
      run.step(142, [&] { onNextClicked(); });
    }
  }
}

// The window shows first: a saved server that does not answer must not leave the user
// with nothing on the screen.
void LoginWindow::start() {
  show();
  load();
}

bool LoginWindow::connects(bool sayWhy) {
  if (databaseBox->text().isEmpty()) {
    if (sayWhy) {
      dialogs_.message(
          QStringLiteral("Enter the name of a database in the Database box: "
                         "Klarifeld cleans the tables of one database."));
      databaseBox->setFocus();
    }
    return false;
  }
  connectionNote->clear();
  const ConnectAttempt attempt = ConnectAttempt::run(this, connectionString());
  if (attempt.result == ConnectAttempt::Result::Failed) {
    const QString why = whyNot(attempt);
    if (sayWhy) {
      dialogs_.message(QStringLiteral("Could not connect: ") + why);
    } else {
      showConnectionNote(QString::fromUtf8(attempt.failure->what()), why);
    }
  }
  return attempt.result == ConnectAttempt::Result::Connected;
}

// The server's words on the two lines there are, cut short with "…" when they are longer;
// the whole reason, with what to do, as the line's tip.
void LoginWindow::showConnectionNote(const QString& reason, const QString& whole) {
  const QFontMetrics metrics(connectionNote->font());
  const QRect room(QPoint(0, 0), connectionNote->size());
  QString text = QStringLiteral("Not connected: ") + reason;
  const auto fits = [&](const QString& candidate) {
    return metrics.boundingRect(room, Qt::TextWordWrap, candidate).height() <= room.height();
  };
  while (text.size() > 1 && !fits(text)) text = text.chopped(2) + u'…';
  connectionNote->setText(text);
  connectionNote->setToolTip(QStringLiteral("Could not connect: ") + whole);
}

QString LoginWindow::whyNot(const ConnectAttempt& attempt) {
  const DbError& failure = *attempt.failure;
  if (attempt.refusedForSafety) return QString::fromUtf8(failure.what());
  QString text = ConnectionFailureText(failure);
  if (failure.cause() == DbError::Cause::UnknownDatabase) {
    try {
      const QStringList names = DatabasesOn(connectionString());
      offerDatabases(names);
      if (!names.isEmpty()) {
        text += QStringLiteral(" It has: ") + names.join(QStringLiteral(", ")) + u'.';
      }
    } catch (const DbError&) {
      // The hint stands without the list.
    }
  }
  return text;
}

void LoginWindow::offerDatabases(const QStringList& names) {
  auto* suggestions = new QCompleter(names, databaseBox);
  suggestions->setCaseSensitivity(Qt::CaseInsensitive);
  delete databaseBox->completer();
  databaseBox->setCompleter(suggestions);
}

void LoginWindow::onNextClicked() {
  ReportingProcedure run(dialogs_, Tags::Next);
  if (run.test(100, [&] { return !connects(true); })) return;
  // In place of the tables listed before, so that coming back does not list them twice.
  run.step(102, [&] { mainWindow().relistTables(); });
  run.step(104, [&] { mainWindow().show(); });
  run.step(106, [&] { hide(); });
}

void LoginWindow::onHelpClicked() {
  ReportingProcedure run(dialogs_, Tags::Help);
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

void LoginWindow::onChooseCaFileClicked() {
  ReportingProcedure run(dialogs_, Tags::ChooseCaFile);
  run.step(100, [&] {
    const QString chosen =
        dialogs_.chooseFile(QStringLiteral("CA File"),
                            QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    if (!chosen.isEmpty()) caFileBox->setText(chosen);
  });
}

void LoginWindow::onTestConnectionClicked() {
  ReportingProcedure run(dialogs_, Tags::TestConnection);
  std::unique_ptr<Connection> connection;
  run.step(100, [&] { connection = CreateObjectAs<Connection>(u"ADODB.Connection"); });
  setPointer(Pointer::Hourglass);
  const ConnectAttempt attempt = ConnectAttempt::run(this, connectionString());
  setPointer(Pointer::Default);
  switch (attempt.result) {
    case ConnectAttempt::Result::Connected:
      try {
        offerDatabases(DatabasesOn(connectionString()));
      } catch (const DbError&) {
        // The suggestions are a convenience: the test itself succeeded.
      }
      dialogs_.message(
          QStringLiteral("Connection successful (%1).").arg(attempt.connection->linkDescription()));
      return;
    case ConnectAttempt::Result::Failed:
      // The server's own reason, after the advice that users know.
      dialogs_.message(CouldNotConnect + QStringLiteral("\r\r") + whyNot(attempt));
      return;
    case ConnectAttempt::Result::Cancelled:
      return;
  }
}
