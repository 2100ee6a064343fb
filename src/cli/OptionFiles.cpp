#include "OptionFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool isReadGroup(QStringView group) {
  for (const char* name : {"client", "client-server", "client-mariadb", "klarifeld-clean"}) {
    if (group.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

// "\n", "\t", "\s" (a space) and the like, as the standard clients read them; any other
// backslash stays as written.
QChar escaped(QChar c) {
  switch (c.unicode()) {
    case 'b':
      return u'\b';
    case 't':
      return u'\t';
    case 'n':
      return u'\n';
    case 'r':
      return u'\r';
    case 's':
      return u' ';
    case '\\':
    case '\'':
    case '"':
      return c;
    default:
      return QChar();
  }
}

// A value up to its closing quote, or up to a "#" comment when unquoted.
QString readValue(QStringView text) {
  const QChar quote = !text.isEmpty() && (text[0] == u'"' || text[0] == u'\'') ? text[0] : QChar();
  QString value;
  for (qsizetype at = quote.isNull() ? 0 : 1; at < text.size(); ++at) {
    const QChar c = text[at];
    if (!quote.isNull() && c == quote) return value;
    if (quote.isNull() && c == u'#') break;
    if (c == u'\\' && at + 1 < text.size() && !escaped(text[at + 1]).isNull()) {
      value += escaped(text[++at]);
      continue;
    }
    value += c;
  }
  return quote.isNull() ? value.trimmed() : value;
}

}  // namespace

std::vector<OptionSetting> ReadOptionFileText(const QByteArray& text, const QString& file) {
  std::vector<OptionSetting> settings;
  bool reading = false;
  for (const QByteArray& rawLine : text.split('\n')) {
    const QString line = QString::fromUtf8(rawLine).trimmed();
    if (line.isEmpty() || line[0] == u'#' || line[0] == u';' || line[0] == u'!') continue;
    if (line[0] == u'[') {
      const qsizetype close = line.indexOf(u']');
      reading = close > 0 && isReadGroup(QStringView(line).sliced(1, close - 1).trimmed());
      continue;
    }
    if (!reading) continue;
    const qsizetype equals = line.indexOf(u'=');
    QString key = (equals < 0 ? line.section(u'#', 0, 0) : line.left(equals)).trimmed();
    key.replace(u'_', u'-');
    if (key.startsWith(QStringLiteral("loose-"))) key.remove(0, 6);
    if (key.isEmpty()) continue;
    std::optional<QString> value;
    if (equals >= 0) value = readValue(QStringView(line).sliced(equals + 1).trimmed());
    settings.push_back({key, value, file});
  }
  return settings;
}

namespace {

// The settings of `path`; nothing when it is missing and not `required`.
std::vector<OptionSetting> readFile(const QString& path, bool required, QStringList& warnings,
                                    QString& error) {
  const QFileInfo info(path);
  if (!info.exists() && !required) return {};
  // A device or a pipe could be waited on or read forever.
  constexpr qint64 MaxSize = 1 << 20;
  if (info.exists() && (!info.isFile() || info.size() > MaxSize)) {
    error = QStringLiteral("The option file '%1' is not a text file of at most 1 MiB.").arg(path);
    return {};
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error =
        QStringLiteral("The option file '%1' could not be read: %2.").arg(path, file.errorString());
    return {};
  }
  if (info.permissions() & QFile::WriteOther) {
    warnings << QStringLiteral(
                    "warning: the option file '%1' can be changed by every user, so "
                    "it is ignored.")
                    .arg(path);
    return {};
  }
  return ReadOptionFileText(file.read(MaxSize), path);
}

}  // namespace

std::vector<OptionSetting> ReadOptionFiles(const OptionFileChoice& choice, QStringList& warnings,
                                           QString& error) {
  if (choice.none) return {};
  if (!choice.only.isEmpty()) return readFile(choice.only, true, warnings, error);
  std::vector<OptionSetting> settings;
  if (!choice.extra.isEmpty()) settings = readFile(choice.extra, true, warnings, error);
  if (!error.isEmpty()) return {};
  for (OptionSetting& setting :
       readFile(QDir::homePath() + QStringLiteral("/.my.cnf"), false, warnings, error)) {
    settings.push_back(std::move(setting));
  }
  return settings;
}
