// Free functions: time-sample clean-up, resampling and the name delimiter codec.

#include "Tessark/OvAttribute/Util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "AttributeData.h"
#include "Tessark/OvAttribute/GroupAttribute.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::AttributeData;
using detail::Storage;

// Applies `leaf` to every attribute of a tree that is not a group and rebuilds only the
// groups under which something changed; unchanged subtrees are shared, not copied. Groups are
// walked with an explicit stack, so depth costs heap, not stack.
template <typename LeafFn>
Attribute transformTree(const Attribute& root, LeafFn leaf) {
  if (root.getType() != kAttrTypeGroup) return leaf(root);
  struct Frame {
    GroupAttribute group;
    int64_t next;
    std::vector<Attribute> children;
    bool changed;
  };
  std::vector<Frame> stack;
  stack.push_back({GroupAttribute(root), 0, {}, false});
  for (;;) {
    Frame& frame = stack.back();
    if (frame.next < frame.group.getNumberOfChildren()) {
      Attribute child = frame.group.getChildByIndex(frame.next++);
      if (child.getType() == kAttrTypeGroup) {
        stack.push_back({GroupAttribute(std::move(child)), 0, {}, false});  // `frame` dies
        continue;
      }
      Attribute out = leaf(child);
      frame.changed |= out._data() != child._data();
      frame.children.push_back(std::move(out));
      continue;
    }
    Attribute result;
    if (!frame.changed) {
      result = frame.group;
    } else {
      std::vector<detail::GroupChildInput> inputs;
      inputs.reserve(frame.children.size());
      for (size_t i = 0; i < frame.children.size(); ++i)
        inputs.push_back({frame.group.getChildNameView(static_cast<int64_t>(i)).view(),
                          frame.children[i]._data()});
      result = Attribute(
          detail::newGroupData(inputs.data(), inputs.size(), frame.group.getGroupInherit()));
    }
    AttributeData* original = frame.group._data();
    stack.pop_back();
    if (stack.empty()) return result;
    Frame& parent = stack.back();
    parent.changed |= result._data() != original;
    parent.children.push_back(std::move(result));
  }
}

// fn(KindTag<T>) for a data block of element type T, chosen by what the block holds; anything
// else comes back as it is.
template <typename Fn>
Attribute dispatchData(const Attribute& attribute, Fn fn) {
  AttributeData* data = attribute._data();
  if (!data) return attribute;
  return detail::visitDataKind(static_cast<int>(data->storage), attribute, fn);
}

template <typename T>
bool sameRow(const T* a, const T* b, int64_t count) {
  if constexpr (detail::kIsString<T>) {
    for (int64_t i = 0; i < count; ++i)
      if (std::strcmp(a[i], b[i]) != 0) return false;
    return true;
  } else {
    return count == 0 || std::memcmp(a, b, sizeof(T) * count) == 0;  // bit for bit
  }
}

template <typename T>
Attribute keepSamples(const AttributeData* data, int64_t begin, int64_t end) {
  std::vector<const T*> rows;
  rows.reserve(static_cast<size_t>(end - begin));
  for (int64_t i = begin; i < end; ++i) rows.push_back(detail::rowOf<T>(data, i));
  return Attribute(detail::newTypedData<T>(data->times + begin, end - begin, rows.data(),
                                           data->valueCount, data->tupleSize));
}

}  // namespace

Attribute RemoveTimeSamplesIfAllSame(const Attribute& attribute) {
  return transformTree(attribute, [](const Attribute& leaf) {
    return dispatchData(leaf, [&leaf](auto tag) -> Attribute {
      using T = typename decltype(tag)::type;
      const AttributeData* data = leaf._data();
      if (data->sampleCount < 2) return leaf;
      const T* first = detail::rowOf<T>(data, 0);
      for (int64_t i = 1; i < data->sampleCount; ++i)
        if (!sameRow(first, detail::rowOf<T>(data, i), data->valueCount)) return leaf;
      const float time = 0.0f;
      return Attribute(
          detail::newTypedData<T>(&time, 1, &first, data->valueCount, data->tupleSize));
    });
  });
}

Attribute RemoveTimeSamplesUnneededForShutter(const Attribute& attribute, float shutterOpen,
                                              float shutterClose) {
  if (std::isnan(shutterOpen) || std::isnan(shutterClose)) return attribute;
  const float lo = std::min(shutterOpen, shutterClose);
  const float hi = std::max(shutterOpen, shutterClose);
  return transformTree(attribute, [lo, hi](const Attribute& leaf) {
    return dispatchData(leaf, [&](auto tag) -> Attribute {
      using T = typename decltype(tag)::type;
      const AttributeData* data = leaf._data();
      const int64_t count = data->sampleCount;
      if (count == 0) return leaf;
      const float* times = data->times;
      // The first sample at or after `lo`, less one for the nearest before it; the first after
      // `hi` is the nearest beyond the end and the last kept.
      int64_t begin = std::lower_bound(times, times + count, lo) - times;
      if (begin > 0) --begin;
      int64_t end = std::upper_bound(times, times + count, hi) - times;
      if (end < count) ++end;
      if (begin == 0 && end == data->sampleCount) return leaf;
      return keepSamples<T>(data, begin, end);
    });
  });
}

Attribute ResampleAttrWithInterp(const Attribute& attribute, const DataAttribute& times) {
  const int64_t targetCount = times.getNumberOfTimeSamples();
  if (targetCount <= 0) return attribute;
  std::vector<float> targets(static_cast<size_t>(targetCount));
  for (int64_t i = 0; i < targetCount; ++i) targets[i] = times.getSampleTime(i);

  return transformTree(attribute, [&targets](const Attribute& leaf) {
    return dispatchData(leaf, [&](auto tag) -> Attribute {
      using T = typename decltype(tag)::type;
      const AttributeData* data = leaf._data();
      if (data->sampleCount <= 0) return leaf;
      const DataAttribute view(leaf);
      const int64_t valueCount = data->valueCount;
      std::vector<const T*> rows(targets.size());
      std::vector<T> blended;  // interpolated rows of floats and doubles
      if constexpr (std::is_floating_point_v<T>) {
        const float* sampleTimes = data->times;
        const int64_t count = data->sampleCount;
        for (size_t k = 0; k < targets.size(); ++k) {
          const float t = targets[k];
          const int64_t at = std::lower_bound(sampleTimes, sampleTimes + count, t) - sampleTimes;
          if (at == 0 || at == count || sampleTimes[at] == t) {
            rows[k] = detail::rowOf<T>(data, view.getNearestSampleIndex(t));
            continue;
          }
          rows[k] = nullptr;  // filled below, once `blended` has stopped growing
          const double t0 = sampleTimes[at - 1];
          const double alpha = (static_cast<double>(t) - t0) / (sampleTimes[at] - t0);
          const T* a = detail::rowOf<T>(data, at - 1);
          const T* b = detail::rowOf<T>(data, at);
          for (int64_t j = 0; j < valueCount; ++j) {
            // Equal ends give that value exactly (infinities included).
            blended.push_back(a[j] == b[j] ? a[j] : static_cast<T>(a[j] + (b[j] - a[j]) * alpha));
          }
        }
        const T* cursor = blended.data();
        for (size_t k = 0; k < targets.size(); ++k) {
          if (rows[k]) continue;
          rows[k] = cursor;
          cursor += valueCount;
        }
      } else {
        for (size_t k = 0; k < targets.size(); ++k)
          rows[k] = detail::rowOf<T>(data, view.getNearestSampleIndex(targets[k]));
      }
      return Attribute(detail::newTypedData<T>(targets.data(), static_cast<int64_t>(targets.size()),
                                               rows.data(), valueCount, data->tupleSize));
    });
  });
}

std::string DelimiterEncode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '%':
        out += "%25";
        break;
      case '.':
        out += "%2E";
        break;
      case '/':
        out += "%2F";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DelimiterDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '%' && i + 2 < n && text[i + 1] == '2') {
      char decoded = 0;
      switch (text[i + 2]) {
        case '5':
          decoded = '%';
          break;
        case 'e':
        case 'E':
          decoded = '.';
          break;
        case 'f':
        case 'F':
          decoded = '/';
          break;
      }
      if (decoded) {
        out += decoded;
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace Tessark::internal::OvAttribute
