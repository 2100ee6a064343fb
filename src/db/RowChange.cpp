#include "RowChange.h"

#include <cstring>

void AppendPackedValue(QByteArray& packed, std::optional<QByteArrayView> value) {
  packed += char(value ? 1 : 0);
  if (!value) return;
  const quint32 length = quint32(value->size());
  packed.append(reinterpret_cast<const char*>(&length), sizeof length);
  packed += *value;
}

QByteArray PackedValues(const RowValues& values) {
  QByteArray out;
  for (const std::optional<QByteArray>& value : values) {
    AppendPackedValue(out, value ? std::optional<QByteArrayView>(*value) : std::nullopt);
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
