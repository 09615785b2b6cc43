#include "Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace ovattr {

namespace {

std::string systemError(const std::string& name, const char* what = nullptr) {
  const int error = errno;
  std::string message = name + ": ";
  if (what) message += std::string(what) + ": ";
  return message + std::strerror(error);
}

// Where the live mappings are, so that a SIGBUS (the file was cut short under the mapping) can
// name the file. Written before a mapping is used and cleared before it goes; read only by the
// handler.
struct MappedRange {
  const char* volatile begin;
  const char* volatile end;
  char name[256];
};
MappedRange g_mapped[4];

void noteMapping(const char* begin, size_t size, const std::string& name) {
  for (MappedRange& slot : g_mapped) {
    if (slot.begin) continue;
    const size_t n = std::min(name.size(), sizeof slot.name - 1);
    std::memcpy(slot.name, name.data(), n);
    slot.name[n] = '\0';
    slot.end = begin + size;
    slot.begin = begin;
    return;
  }
}

void forgetMapping(const char* begin) {
  for (MappedRange& slot : g_mapped)
    if (slot.begin == begin) slot.begin = nullptr;
}

void writeRaw(int fd, const char* text) {
  ssize_t ignored = ::write(fd, text, std::strlen(text));
  (void)ignored;
}

void onSigbus(int /*signal*/, siginfo_t* info, void* /*context*/) {
  const char* address = static_cast<const char*>(info->si_addr);
  const char* name = "an input file";
  for (const MappedRange& slot : g_mapped)
    if (slot.begin && address >= slot.begin && address < slot.end) name = slot.name;
  writeRaw(STDERR_FILENO, "ovattr: ");
  writeRaw(STDERR_FILENO, name);
  writeRaw(STDERR_FILENO, ": the file was cut short while it was read\n");
  _exit(2);
}

// Writes all of `bytes`, retrying short writes; false with errno set on failure.
bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string displayName(const std::string& path) { return path == "-" ? "<stdin>" : path; }

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

void FileDescriptor::close(const std::string& name) {
  const int fd = m_fd;
  m_fd = -1;
  if (fd >= 0 && ::close(fd) != 0) throw ToolError(systemError(name));
}

InputBytes::InputBytes(const std::string& path) : m_name(displayName(path)) {
  FileDescriptor owned;
  int fd = STDIN_FILENO;
  if (path != "-") {
    owned = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (owned.get() < 0) throw ToolError(systemError(m_name));
    fd = owned.get();
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw ToolError(systemError(m_name));
  if (S_ISDIR(st.st_mode)) throw ToolError(m_name + ": is a directory");

  // A regular file is mapped whole (standard input too, when it is a file read from its
  // start).
  const bool atStart = path != "-" || ::lseek(fd, 0, SEEK_CUR) == 0;
  if (S_ISREG(st.st_mode) && atStart) {
    m_size = static_cast<size_t>(st.st_size);
    if (m_size == 0) return;
    void* map = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) throw ToolError(systemError(m_name, "cannot map"));
    m_map = map;
    m_data = static_cast<const char*>(map);
    noteMapping(m_data, m_size, m_name);
    return;
  }

  // Pipes, terminals, sockets: read to the end.
  size_t used = 0;
  m_buffer.resize(size_t{1} << 16);
  for (;;) {
    if (used == m_buffer.size()) m_buffer.resize(m_buffer.size() * 2);
    const ssize_t n = ::read(fd, m_buffer.data() + used, m_buffer.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ToolError(systemError(m_name));
    }
    used += static_cast<size_t>(n);
  }
  m_buffer.resize(used);
  m_buffer.push_back('\0');  // what scratch() promises after the bytes
  m_data = m_buffer.data();
  m_size = used;
}

InputBytes::~InputBytes() {
  if (m_map) {
    forgetMapping(m_data);
    ::munmap(m_map, m_size);
  }
}

char* InputBytes::scratch() {
  if (!m_map) return m_buffer.data();
  // Past the end of a file, the rest of its last page reads as zeros in a map; a file that fills
  // its last page has no such byte, and is copied.
  if (m_size % static_cast<size_t>(::sysconf(_SC_PAGESIZE)) == 0) {
    m_buffer.assign(m_data, m_data + m_size);
    m_buffer.push_back('\0');
    return m_buffer.data();
  }
  if (!m_writable && ::mprotect(m_map, m_size, PROT_READ | PROT_WRITE) != 0)
    throw ToolError(systemError(m_name, "cannot map"));
  m_writable = true;
  return static_cast<char*>(m_map);
}

void InputBytes::populate() noexcept {
  // A hint: without it, or on a kernel that does not know it, pages are read as touched.
  if (m_map) ::madvise(m_map, m_size, MADV_POPULATE_READ);
}

const char* formatName(Format format) noexcept {
  return format == Format::kBinary ? "binary" : "xml";
}

Format detectFormat(std::string_view bytes) noexcept {
  constexpr std::string_view kMagic = "OVAB";
  if (bytes.empty()) return Format::kXml;
  const size_t n = std::min(bytes.size(), kMagic.size());
  return bytes.substr(0, n) == kMagic.substr(0, n) ? Format::kBinary : Format::kXml;
}

ToolError binaryRefusal(const InputBytes& in, const std::string& error) {
  return ToolError(in.name() + ": invalid attribute binary: " +
                   (error.empty() ? std::string("refused") : error));
}

OvAttr::Attribute parse(InputBytes& in, Format format) {
  try {
    // The text is scratch once it is parsed, so the XML reader may work in it.
    if (format == Format::kXml) return OvAttr::Attribute::parseXMLInPlace(in.scratch(), in.size());
    in.populate();
    std::string error;
    OvAttr::Attribute value = OvAttr::Attribute::parseBinary(in.data(), in.size(), &error);
    if (!value.isValid()) throw binaryRefusal(in, error);
    return value;
  } catch (const OvAttr::XmlParseError& e) {
    throw ToolError(in.name() + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw ToolError(in.name() + ": out of memory while reading it");
  }
}

Loaded load(const std::string& path) {
  InputBytes in(path);
  const Format format = detectFormat(in.view());
  return Loaded{parse(in, format), format, in.size()};
}

void writeOutput(const std::string& path, std::string_view bytes) {
  if (path == "-") {
    if (!writeAll(STDOUT_FILENO, bytes)) throw ToolError(systemError("<stdout>"));
    return;
  }
  // An existing file is overwritten in place and then cut to length, rather than truncated
  // first: that reuses its cached pages, where truncating frees them (waiting for any that are
  // being written back) and the write then allocates them again, which costs more than the
  // copy itself.
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw ToolError(systemError(path));
  struct stat st {};
  const bool regular = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
  try {
    if (!writeAll(fd.get(), bytes)) throw ToolError(systemError(path));
    if (regular && ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0)
      throw ToolError(systemError(path));
    fd.close(path);
  } catch (const ToolError&) {
    if (regular) ::unlink(path.c_str());  // no half-written output is left behind
    throw;
  }
}

Output::Output() { m_buffer.reserve(kFlushAt); }

Output::~Output() {
  if (!m_buffer.empty()) writeAll(STDOUT_FILENO, m_buffer);
}

void Output::flushBuffer() {
  if (!writeAll(STDOUT_FILENO, m_buffer)) {
    m_buffer.clear();
    throw ToolError(systemError("<stdout>"));
  }
  m_buffer.clear();
}

void Output::flush() { flushBuffer(); }

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_sigaction = onSigbus;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

}  // namespace ovattr
