// ovattr's commands. Each returns the process's exit status and throws ToolError for a file it
// cannot read, parse or write. Every walk of a value keeps its own stack on the heap, so groups
// nested 10,000 deep cost no thread stack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Files.h"

namespace ovattr {

// The tree: path, kind, tuple size, sample times and values of every attribute, values
// shortened unless `full`, printed as the file is read.
int runCat(const std::string& path, bool full);

// XML <-> binary. `to` is "xml", "binary" or empty: then .xml (any case) for XML, binary for
// any other name, and the other form of the input for "-".
int runConvert(const std::string& in, const std::string& out, const std::string& to);

// The first `maxReports` differences by child path; 0 when the values are equal, 1 otherwise.
int runDiff(const std::string& a, const std::string& b, int64_t maxReports);

// The content hash of each file, one "HASH  NAME" line each.
int runHash(const std::vector<std::string>& paths);

// Counts by kind, children, depth and data sizes.
int runStats(const std::string& path);

}  // namespace ovattr
