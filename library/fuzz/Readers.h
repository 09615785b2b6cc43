// What the fuzz targets and the library's tests hold every read to: round trips through both
// forms, and hashBinary and readBinary agreeing with parseBinary.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace ovattr_fuzz {

namespace ova = ::Tessark::internal::OvAttribute;

inline void fail(const char* why) {
  if (why) std::fprintf(stderr, "fuzz target: %s\n", why), std::abort();
}

// The message of the XmlParseError that parse() throws, else "" with its result in `a`;
// anything else thrown is a finding.
template <typename Parse>
std::string refusal(ova::Attribute& a, Parse&& parse) {
  try {
    a = parse();
  } catch (const ova::XmlParseError& e) {
    return e.what();
  }
  return "";
}

// Null when `a` reads back equal from both forms and writes them again the same, else which not.
inline const char* roundTripBroken(const ova::Attribute& a) {
  const auto binary = [](const ova::Attribute& v) {
    std::vector<char> out;
    v.getBinary(out);
    return out;
  };
  const std::string xml = a.getXML();
  const std::vector<char> blob = binary(a);
  const ova::Attribute x = ova::Attribute::parseXML(xml);  // a refusal here is a finding too
  const ova::Attribute b = ova::Attribute::parseBinary(blob.data(), blob.size());
  if (!(x == a) || x.getHash() != a.getHash() || x.getType() != a.getType() || x.getXML() != xml ||
      binary(x) != blob)
    return "XML round trip";
  if (!(b == a) || b.getHash() != a.getHash() || b.getType() != a.getType() || binary(b) != blob)
    return "binary round trip";
  return nullptr;
}

// Writes the blob back from readBinary's events (on little-endian hosts), so the bytes come out
// the same exactly when the events tell all that the blob holds, in order. Stops after `budget`.
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
    return put(count), go;
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
// and message, or the same hash and bytes), else which does not.
inline const char* readersDisagree(std::string_view bytes, int64_t budget = -1) {
  std::string error, hashError = "stale", readError = "stale";  // cleared on success
  const ova::Attribute a = ova::Attribute::parseBinary(bytes.data(), bytes.size(), &error);
  ova::Hash hash;
  Rewrite rewrite;
  rewrite.budget = budget;
  const bool hashed = ova::hashBinary(bytes.data(), bytes.size(), &hash, &hashError);
  const auto read = ova::readBinary(bytes.data(), bytes.size(), rewrite, &readError);
  if (hashed != a.isValid() || hashError != error || (hashed && hash != a.getHash()))
    return "hashBinary";
  if (budget > 0) return read == ova::BinaryReadResult::kStopped ? nullptr : "did not stop";
  const auto done = a.isValid() ? ova::BinaryReadResult::kDone : ova::BinaryReadResult::kRefused;
  return read == done && readError == error && (!a.isValid() || rewrite.out == bytes)
             ? nullptr
             : "readBinary";
}

}  // namespace ovattr_fuzz
