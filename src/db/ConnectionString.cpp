#include "ConnectionString.h"

#include <QHash>
#include <array>

namespace {

// A value that would end early at a ";" or read as braced goes in braces, with "}"
// doubled inside; every other value goes in unchanged.
QString attribute(const char* key, const QString& value) {
  const bool braced = value.contains(u';') || value.startsWith(u'{');
  return QLatin1String(key) + u'=' +
         (braced ? u'{' + QString(value).replace(u'}', QStringLiteral("}}")) + u'}' : value) + u';';
}

}  // namespace

namespace {
constexpr std::array EncryptionNames = {"PREFERRED", "REQUIRED", "VERIFY_CA", "VERIFY_IDENTITY"};
constexpr std::array EncryptionCaptions = {"Preferred", "Required", "Verify CA",
                                           "Verify CA and host name"};
}  // namespace

QString EncryptionName(Encryption encryption) {
  return QLatin1String(EncryptionNames[std::size_t(encryption)]);
}

QString EncryptionCaption(Encryption encryption) {
  return QLatin1String(EncryptionCaptions[std::size_t(encryption)]);
}

std::optional<Encryption> EncryptionNamed(const QString& name) {
  for (std::size_t i = 0; i < EncryptionNames.size(); ++i) {
    if (name.compare(QLatin1String(EncryptionNames[i]), Qt::CaseInsensitive) == 0) {
      return Encryption(i);
    }
  }
  return std::nullopt;
}

QString BuildConnectionString(const QString& server, const QString& user, const QString& password,
                              const QString& database, const QString& port, Encryption encryption,
                              const QString& caFile, const QString& socket, const QString& engine) {
  QString built = QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};") + attribute("SERVER", server) +
                  attribute("USER", user) + attribute("PASSWORD", password) +
                  attribute("DATABASE", database) + attribute("PORT", port);
  if (encryption != Encryption::Preferred)
    built += attribute("SSLMODE", EncryptionName(encryption));
  if (!caFile.isEmpty()) built += attribute("SSLCA", caFile);
  if (!socket.isEmpty()) built += attribute("SOCKET", socket);
  if (!engine.isEmpty()) built += attribute("ENGINE", engine);
  return built;
}

namespace {

// Reads one value starting at `at`: up to the next ";", or a braced value up to its "}"
// ("}}" stands for one "}"). Leaves `at` behind the value's closing ";".
QString readValue(QStringView text, qsizetype& at) {
  QString value;
  if (at < text.size() && text[at] == u'{') {
    ++at;
    while (at < text.size()) {
      if (text[at] == u'}') {
        if (at + 1 < text.size() && text[at + 1] == u'}') {
          value += u'}';
          at += 2;
          continue;
        }
        ++at;
        break;
      }
      value += text[at++];
    }
  }
  const qsizetype end = text.indexOf(u';', at);
  // Anything between a closing brace and the ";" belongs to an unbraced value.
  value += text.sliced(at, (end < 0 ? text.size() : end) - at);
  at = end < 0 ? text.size() : end + 1;
  return value;
}

}  // namespace

QString ServerNameProblem(const QString& server) {
  const auto refused = [&] {
    return QStringLiteral(
               "The server \"%1\" is not a host name or an address. Give a host name such as "
               "db1.example.com, an IPv4 or IPv6 address, or localhost.")
        .arg(server);
  };
  if (server.isEmpty()) return {};
  if (server.count(u':') >= 2) {  // IPv6, perhaps with an IPv4 tail
    for (const QChar c : server) {
      if (!isxdigit(c.unicode() < 128 ? c.toLatin1() : 'x') && c != u':' && c != u'.') {
        return refused();
      }
    }
    return {};
  }
  if (server.size() > 253) return refused();
  for (const QString& label : server.split(u'.')) {
    if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-')) return refused();
    for (const QChar c : label) {
      const bool plain = c.unicode() < 128 && (c.isLetterOrNumber() || c == u'-' || c == u'_');
      if (!plain) return refused();
    }
  }
  return {};
}

ConnectionAttributes ParseConnectionString(const QString& connectionString) {
  QHash<QString, QString> found;
  const QStringView text(connectionString);
  qsizetype at = 0;
  while (at < text.size()) {
    const qsizetype equals = text.indexOf(u'=', at);
    const qsizetype semicolon = text.indexOf(u';', at);
    if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
      // A piece without "=" names no attribute.
      at = semicolon < 0 ? text.size() : semicolon + 1;
      continue;
    }
    const QString key = text.sliced(at, equals - at).trimmed().toString().toUpper();
    at = equals + 1;
    const QString value = readValue(text, at);
    if (!found.contains(key)) found.insert(key, value);
  }
  return {found.value(QStringLiteral("DRIVER")),   found.value(QStringLiteral("SERVER")),
          found.value(QStringLiteral("USER")),     found.value(QStringLiteral("PASSWORD")),
          found.value(QStringLiteral("DATABASE")), found.value(QStringLiteral("PORT")),
          found.value(QStringLiteral("SSLMODE")),  found.value(QStringLiteral("SSLCA")),
          found.value(QStringLiteral("SOCKET")),   found.value(QStringLiteral("ENGINE"))};
}

bool IsPostgreSql(const ConnectionAttributes& attributes) {
  return attributes.engine.compare(QStringLiteral("PostgreSQL"), Qt::CaseInsensitive) == 0;
}
