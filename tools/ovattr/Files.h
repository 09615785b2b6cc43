// ovattr's files: input read through a memory map (or read whole from a pipe), the format told
// from the bytes, the parse with the library's own message on failure, and output written to a
// file or standard output.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Tessark/OvAttribute/Attribute.h"

namespace ovattr {

namespace OvAttr = ::Tessark::internal::OvAttribute;

// A failure to report: one line, "NAME: what was wrong", and exit status 2.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a path is named in messages: "-" is standard input or output.
std::string displayName(const std::string& path);

// An open file descriptor, closed on destruction.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : m_fd(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const noexcept { return m_fd; }
  // Closes now, reporting a failure of close itself (a write the kernel could not finish).
  void close(const std::string& name);

 private:
  int m_fd;
};

// The bytes of one input: a read-only memory map of a regular file, or, for pipes, terminals
// and other streams, a buffer read to the end. Unmapped on destruction.
class InputBytes {
 public:
  // Throws ToolError when the file cannot be opened, mapped or read. "-" is standard input.
  // Pages of a map are read as they are touched, so that a caller can start on the first ones.
  explicit InputBytes(const std::string& path);
  InputBytes(const InputBytes&) = delete;
  InputBytes& operator=(const InputBytes&) = delete;
  ~InputBytes();

  const char* data() const noexcept { return m_data; }
  // The bytes, to be overwritten as scratch, followed by a NUL: a private map of a file is made
  // writable (the pages written become copies; the file never changes). Throws ToolError when it
  // cannot be.
  char* scratch();
  // Reads every page of a map in now: faster, for a caller that goes through all of them, than
  // faulting them in one by one as they are touched.
  void populate() noexcept;
  size_t size() const noexcept { return m_size; }
  std::string_view view() const noexcept { return {m_data, m_size}; }
  const std::string& name() const noexcept { return m_name; }

 private:
  std::string m_name;
  void* m_map = nullptr;  // the mapping, when there is one
  bool m_writable = false;
  std::vector<char> m_buffer;
  const char* m_data = "";
  size_t m_size = 0;
};

enum class Format { kBinary, kXml };

const char* formatName(Format format) noexcept;
// Binary when the bytes start with the magic OVAB (or are a short prefix of it, so that a
// truncated header is reported as such); XML otherwise.
Format detectFormat(std::string_view bytes) noexcept;

// A parsed input: the value, the format it was read from and the size of its serial form.
struct Loaded {
  OvAttr::Attribute value;
  Format format;
  size_t bytes;
};

// Reads and parses one input. Throws ToolError with the library's own message, which names
// the byte or element where the problem is.
Loaded load(const std::string& path);
// Parses an input already read, as load does. XML is parsed in place, in in.scratch().
OvAttr::Attribute parse(InputBytes& in, Format format);
// The error for a blob that the library refuses with `error`.
ToolError binaryRefusal(const InputBytes& in, const std::string& error);

// Writes `bytes` to `path` ("-": standard output). A failed write removes the partial file.
void writeOutput(const std::string& path, std::string_view bytes);

// Standard output through one buffer; a failed write throws ToolError.
class Output {
 public:
  Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();  // flushes, ignoring errors: call flush() to see them

  Output& operator<<(std::string_view text) {
    if (m_buffer.size() + text.size() > kFlushAt) flushBuffer();
    m_buffer.append(text);
    return *this;
  }
  Output& operator<<(char c) {
    if (m_buffer.size() >= kFlushAt) flushBuffer();
    m_buffer.push_back(c);
    return *this;
  }
  void flush();

 private:
  static constexpr size_t kFlushAt = 1 << 16;
  void flushBuffer();
  std::string m_buffer;
};

// Installs the handler that turns SIGBUS (a mapped file cut short while it is read) into a
// message and exit status 2.
void installSignalHandlers();

}  // namespace ovattr
