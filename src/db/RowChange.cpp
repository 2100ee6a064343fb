#include "RowChange.h"

#include <algorithm>
#include <cstring>

// Written in place: packing is on the path of every value a run writes.
void AppendPackedValue(QByteArray& packed, std::optional<QByteArrayView> value) {
  const qsizetype at = packed.size();
  const quint32 length = value ? quint32(value->size()) : 0;
  packed.resize(at + PackedSize(value));
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

// Bytes cut short (a damaged journal, say) give a shorter value, never a read beyond them.
std::optional<QByteArrayView> NextPackedValue(QByteArrayView packed, qsizetype& at) {
  if (packed[at++] == 0) return std::nullopt;
  quint32 length = 0;
  if (packed.size() - at < qsizetype(sizeof length)) {
    at = packed.size();
    return QByteArrayView();
  }
  std::memcpy(&length, packed.data() + at, sizeof length);
  at += sizeof length;
  const QByteArrayView value = packed.sliced(at, std::min(qsizetype(length), packed.size() - at));
  at += value.size();
  return value;
}

std::vector<std::optional<QByteArray>> UnpackedValues(const QByteArray& packed) {
  std::vector<std::optional<QByteArray>> values;
  for (qsizetype at = 0; at < packed.size();) {
    const std::optional<QByteArrayView> value = NextPackedValue(packed, at);
    values.push_back(value ? std::optional<QByteArray>(value->toByteArray()) : std::nullopt);
  }
  return values;
}
