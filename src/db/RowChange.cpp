#include "RowChange.h"

#include <cstring>

QByteArray PackedValues(const std::vector<std::optional<QByteArray>>& values) {
  QByteArray out;
  for (const std::optional<QByteArray>& value : values) {
    out += char(value ? 1 : 0);
    if (!value) continue;
    const quint32 length = quint32(value->size());
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    out += *value;
  }
  return out;
}

std::vector<std::optional<QByteArray>> UnpackedValues(const QByteArray& packed) {
  std::vector<std::optional<QByteArray>> values;
  qsizetype at = 0;
  while (at < packed.size()) {
    if (packed[at++] == 0) {
      values.emplace_back();
      continue;
    }
    quint32 length = 0;
    std::memcpy(&length, packed.constData() + at, sizeof length);
    at += sizeof length;
    values.emplace_back(packed.mid(at, length));
    at += length;
  }
  return values;
}
