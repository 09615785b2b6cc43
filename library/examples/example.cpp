// A tour of the attribute library: make values, share them, read samples, build a group,
// hash, and tidy time samples. Prints what each step does.

#include <cstdint>
#include <iostream>
#include <string>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace ov = Tessark::internal::OvAttribute;

namespace {

template <typename T>
void printSample(const char* label, const ov::ConstVector<T>& sample) {
  std::cout << label << ": [";
  for (size_t i = 0; i < sample.size(); ++i) std::cout << (i ? ", " : "") << sample[i];
  std::cout << "]\n";
}

}  // namespace

int main() {
  // Data: a flat array grouped into tuples of 3, one sample at time 0.
  const float position[] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  ov::FloatAttribute points(position, 6, 3);
  std::cout << "points: " << points.getNumberOfValues() << " values in "
            << points.getNumberOfTuples() << " tuples of " << points.getTupleSize() << "\n";

  // Copies share one immutable value; nothing is copied.
  ov::Attribute copy = points;
  std::cout << "a copy shares the value: " << (copy._data() == points._data() ? "yes" : "no")
            << ", equal: " << (copy == points ? "yes" : "no") << "\n";

  // Time samples: stored in time order, looked up by nearest time.
  const float times[] = {1.0f, 0.0f};
  const double open[] = {10.0}, close[] = {20.0};
  const double* rows[] = {close, open};
  ov::DoubleAttribute motion(times, 2, rows, 1, 1);
  std::cout << "motion samples at " << motion.getSampleTime(0) << " and " << motion.getSampleTime(1)
            << "\n";
  printSample("nearest to 0.4", motion.getNearestSample(0.4f));
  printSample("nearest to 0.6", motion.getNearestSample(0.6f));
  std::cout << "value (sample nearest 0): " << motion.getValue(0.0, true) << "\n";

  // A sample vector keeps its values alive after every handle is gone.
  ov::ConstVector<const char*> names;
  {
    const char* words[] = {"left", "right"};
    names = ov::StringAttribute(words, 2, 1).getNearestSample(0.0f);
  }
  printSample("strings outliving their attribute", names);

  // Groups: dotted names are paths in the normal builder mode.
  ov::GroupBuilder builder;
  builder.set("geometry.points", points).set("geometry.motion", motion);
  builder.setWithUniqueName("name", ov::StringAttribute("a"));
  builder.setWithUniqueName("name", ov::StringAttribute("b"));
  ov::GroupAttribute group = builder.build();
  std::cout << "group children:";
  for (int64_t i = 0; i < group.getNumberOfChildren(); ++i)
    std::cout << " " << group.getChildName(i);
  std::cout << "\n";
  std::cout << "geometry.motion found by path: "
            << (group.getChildByName("geometry.motion") == motion ? "yes" : "no") << "\n";

  // Hashes: the same value built another way hashes alike.
  ov::GroupBuilder other;
  other.set("geometry", ov::GroupBuilder().set("points", points).set("motion", motion).build());
  other.set("name", ov::StringAttribute("a")).set("name1", ov::StringAttribute("b"));
  ov::GroupAttribute same = other.build();
  std::cout << "hash " << group.getHash().str() << "\n"
            << "same value, other route: " << (same == group ? "equal" : "different") << "\n";

  // Utilities: resample onto new times, and names that must stay one path step.
  const float halfway = 0.5f;
  ov::DoubleAttribute resampled(
      ov::ResampleAttrWithInterp(motion, ov::FloatAttribute(&halfway, 1, nullptr, 0, 1)));
  std::cout << "motion resampled at 0.5: " << resampled.getValue(0.0, true) << "\n";
  std::string encoded = ov::DelimiterEncode("file.v2/final");
  std::cout << "encoded name: " << encoded << " -> " << ov::DelimiterDecode(encoded) << "\n";
  return 0;
}
