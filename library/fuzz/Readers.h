// hashBinary and readBinary held to parseBinary, by the fuzz target and the library's tests.
#pragma once

#include <string>
#include <string_view>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace ovattr_fuzz {

namespace ova = ::Tessark::internal::OvAttribute;

// Writes the blob back from readBinary's events (on little-endian hosts): the bytes read come
// out exactly when the events tell all that the blob holds, in order. Stops after `budget`.
struct Rewrite : ova::BinaryVisitor {
  std::string out = std::string("OVAB\1\0\0\0", 8);
  int64_t budget = -1;

  template <typename T>
  void put(T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void pad(size_t align) { out.append((align - out.size() % align) % align, '\0'); }
  bool head(ova::Platform::StringView name, int kind, int flags) {  // the root has no name
    if (!name.empty()) put(uint64_t{name.size()}), out.append(name.data(), name.size());
    put(static_cast<uint8_t>(kind)), put(static_cast<uint8_t>(flags));
    return --budget != 0;
  }
  bool beginGroup(ova::Platform::StringView name, bool inherit, int64_t count) override {
    const bool go = head(name, ova::kAttrTypeGroup, inherit);
    put(count);
    return go;
  }
  bool null(ova::Platform::StringView name) override { return head(name, ova::kAttrTypeNull, 0); }
  bool beginData(ova::Platform::StringView name, const ova::BinaryData& d) override {
    const bool go = head(name, d.type, 0);
    put(d.tupleSize), put(d.valueCount), put(d.sampleCount), pad(4);
    for (size_t i = 0; i < d.times.size(); ++i) put(d.times[i]);
    return go;
  }
  bool sample(const ova::BinarySample& s) override {
    for (const auto v : s.strings()) put(uint64_t{v.size()}), out.append(v.data(), v.size());
    pad(s.getType() == ova::kAttrTypeString ? 1 : s.getType() == ova::kAttrTypeDouble ? 8 : 4);
    for (size_t i = 0; i < s.ints().size(); ++i) put(s.ints()[i]);
    for (size_t i = 0; i < s.floats().size(); ++i) put(s.floats()[i]);
    for (size_t i = 0; i < s.doubles().size(); ++i) put(s.doubles()[i]);
    return --budget != 0;
  }
};

// Null when hashBinary and readBinary agree with parseBinary on the bytes (the same refusal
// and message, or the same hash and bytes written back), else what differs.
inline const char* readersDisagree(std::string_view bytes, int64_t budget = -1) {
  const char* data = bytes.data();
  const size_t size = bytes.size();
  std::string error, hashError, readError;
  const ova::Attribute a = ova::Attribute::parseBinary(data, size, &error);
  ova::Hash hash;
  Rewrite rewrite;
  rewrite.budget = budget;
  const bool hashed = ova::hashBinary(data, size, &hash, &hashError);
  const ova::BinaryReadResult read = ova::readBinary(data, size, rewrite, &readError);
  if (hashed != a.isValid() || hashError != error || (hashed && hash != a.getHash()))
    return "hashBinary";
  if (budget > 0) return read == ova::BinaryReadResult::kStopped ? nullptr : "did not stop";
  const auto done = a.isValid() ? ova::BinaryReadResult::kDone : ova::BinaryReadResult::kRefused;
  const bool same = !a.isValid() || rewrite.out == bytes;
  return read == done && readError == error && same ? nullptr : "readBinary";
}

}  // namespace ovattr_fuzz
