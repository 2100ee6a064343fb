#include "ClusterValues.h"

#include <QSet>
#include <QString>
#include <random>

namespace {

constexpr const char* Consonants[] = {"b", "c", "d", "f", "g", "h", "j", "k",  "l",  "m",  "n",
                                      "p", "r", "s", "t", "v", "w", "z", "ch", "sh", "th", "st"};
constexpr const char* Vowels[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou", "y"};

QByteArray word(std::mt19937& random) {
  std::uniform_int_distribution<int> syllables(2, 3), consonant(0, std::size(Consonants) - 1),
      vowel(0, std::size(Vowels) - 1);
  QByteArray made;
  for (int i = syllables(random); i > 0; --i) {
    made += Consonants[consonant(random)];
    made += Vowels[vowel(random)];
  }
  made[0] = char(std::toupper(made[0]));
  return made;
}

// Another spelling, changed by characters, never within one.
QByteArray respelled(const QByteArray& utf8, std::mt19937& random) {
  QString value = QString::fromUtf8(utf8);
  std::uniform_int_distribution<int> kind(0, 6);
  std::uniform_int_distribution<qsizetype> at(1, value.size() - 2);
  const qsizetype i = at(random);
  switch (kind(random)) {
    case 0:
      value = value.toLower();
      break;
    case 1:
      value.insert(i, value[i]);  // a letter doubled
      break;
    case 2:
      value.remove(i, 1);
      break;
    case 3:
      std::swap(value[i], value[i + 1]);
      break;
    case 4:
      value.replace(u'e', u'é');
      break;
    case 5:
      value.replace(u' ', QStringLiteral("  "));
      break;
    default:
      value += u'.';
  }
  return value.toUtf8();
}

}  // namespace

std::vector<QByteArray> NameLikeValues(int count) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> words(2, 3), sixth(0, 5);
  std::vector<QByteArray> values;
  values.reserve(std::size_t(count));
  QSet<QByteArray> seen;
  seen.reserve(count);
  while (int(values.size()) < count) {
    QByteArray value;
    if (!values.empty() && sixth(random) == 0) {
      std::uniform_int_distribution<std::size_t> earlier(0, values.size() - 1);
      value = respelled(values[earlier(random)], random);
    } else {
      for (int i = words(random); i > 0; --i) value += (value.isEmpty() ? "" : " ") + word(random);
    }
    if (!seen.contains(value)) {
      seen.insert(value);
      values.push_back(value);
    }
  }
  return values;
}
