#include "RowChange.h"

#include <cstring>

// Written in place: packing is on the path of every value a run writes.
void AppendPackedValue(QByteArray& packed, std::optional<QByteArrayView> value) {
  const qsizetype at = packed.size();
  const quint32 length = value ? quint32(value->size()) : 0;
  packed.resize(at + (value ? qsizetype(1 + sizeof length) + value->size() : 1));
  char* out = packed.data() + at;
  *out = value ? 1 : 0;
  if (!value) return;
  std::memcpy(out + 1, &length, sizeof length);
  if (length) std::memcpy(out + 1 + sizeof length, value->data(), length);
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
