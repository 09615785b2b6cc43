// ovattr_bench: times the ovattr tool against the library calls it makes, in one run, on files
// it writes to a scratch folder and removes afterwards.
//
//   ovattr_bench [--values N] [--hash-mib M] [--repeat R] [--dir DIR] [--tool PATH]
//
// - convert: a binary file of N random floats (default 1,000,000) to XML and back; the
//   library's side is parseBinary + getXML and parseXML + getBinary on the bytes in memory,
//   timed in this process (warm: its heap is faulted in already) and in a fresh process of its
//   own, as the tool runs (this program again, with --library-once).
//   Both directions also into a file that does not exist yet, as a first conversion writes.
// - hash: binary files of 64 MiB and of M MiB of floats (default 1024), read from a warm page
//   cache; the library's side is parseBinary + getHash, and hashBinary, on the bytes in memory.
// - cat: how long each of those files takes to show its first byte of output, and all of it.
// Each time is the best of R runs (default 5; 3 for the large files). The machine's noise is
// not averaged away: run the program a few times, alternating with what it is compared to.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

extern char** environ;

namespace {

using namespace Tessark::internal::OvAttribute;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double best(int repeat, const std::function<void()>& run) {
  double fastest = 1e30;
  for (int i = 0; i < repeat; ++i) {
    const auto start = Clock::now();
    run();
    fastest = std::min(fastest, seconds(start));
  }
  return fastest;
}

// A scratch file, removed on destruction.
struct ScratchFile {
  std::string path;
  ~ScratchFile() { std::remove(path.c_str()); }
};

void writeFile(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `program` with its standard output on /dev/null, or on a pipe when `output` is given:
// then `output` gets what it printed and `firstByte` (if given) the seconds until its first
// byte arrived. Returns the seconds until the program exited.
double run(const std::string& program, const std::vector<std::string>& args,
           std::string* output = nullptr, double* firstByte = nullptr) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) {
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  const auto start = Clock::now();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot run " + program + ": " + std::strerror(rc));
  if (output) {
    close(pipeFds[1]);
    char buffer[1 << 16];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0) break;
      if (firstByte && output->empty()) *firstByte = seconds(start);
      if (output->size() < 4096) output->append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double elapsed = seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(program + " " + args.front() + " failed");
  return elapsed;
}

// --library-once MODE FILE: reads FILE into memory, then prints the seconds that one library
// call takes on it, in this fresh process: to-xml (parseBinary, getXML), to-binary (parseXML,
// getBinary).
int libraryOnce(const std::string& mode, const std::string& path) {
  const std::string bytes = readFile(path);
  const auto start = Clock::now();
  if (mode == "to-xml") {
    const std::string text = Attribute::parseBinary(bytes.data(), bytes.size()).getXML();
    if (text.empty()) return 1;
  } else {
    std::vector<char> blob;
    Attribute::parseXML(bytes).getBinary(blob);
    if (blob.empty()) return 1;
  }
  std::printf("%.9f\n", seconds(start));
  return 0;
}

void row(const char* what, double toolSeconds, double librarySeconds, double bytes) {
  std::printf("%-34s %9.1f ms %9.1f ms %7.2fx %9.2f GB/s\n", what, toolSeconds * 1e3,
              librarySeconds * 1e3, toolSeconds / librarySeconds, bytes / toolSeconds / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  int64_t values = 1000000, hashMib = 1024;
  int repeat = 5;
  std::string dir = "/tmp", tool;
  if (argc == 4 && std::string(argv[1]) == "--library-once") return libraryOnce(argv[2], argv[3]);
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--values") values = std::stoll(value);
    if (flag == "--hash-mib") hashMib = std::stoll(value);
    if (flag == "--repeat") repeat = std::stoi(value);
    if (flag == "--dir") dir = value;
    if (flag == "--tool") tool = value;
  }
  std::vector<char> self(4096);
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  const std::string exe(self.data(), n > 0 ? static_cast<size_t>(n) : 0);
  if (tool.empty()) tool = exe.substr(0, exe.rfind('/') + 1) + "ovattr";  // as the build puts it
  // The library's time for one call in a fresh process: the best of `repeat` runs.
  auto fresh = [&](const char* mode, const std::string& path) {
    double fastest = 1e30;
    for (int i = 0; i < repeat; ++i) {
      std::string out;
      run(exe, {"--library-once", mode, path}, &out);
      fastest = std::min(fastest, std::stod(out));
    }
    return fastest;
  };
  const std::string stem = dir + "/ovattr-bench-" + std::to_string(getpid());

  try {
    std::printf("%-34s %12s %12s %8s %14s\n", "", "ovattr", "library", "ratio", "ovattr rate");

    // convert: random floats, so that number text is as long as real data makes it.
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    std::vector<float> floats(static_cast<size_t>(values));
    for (float& v : floats) v = dist(rng);
    const FloatAttribute array(floats.data(), values, 3);
    std::vector<char> blob;
    array.getBinary(blob);
    ScratchFile bin{stem + ".ovab"}, xml{stem + ".xml"}, back{stem + "-back.ovab"};
    writeFile(bin.path, blob.data(), blob.size());
    std::string text;
    const double toXmlLibrary =
        best(repeat, [&] { text = Attribute::parseBinary(blob.data(), blob.size()).getXML(); });
    const double getXmlOnly = best(repeat, [&] { text = array.getXML(); });
    std::vector<char> again;
    const double toBinaryLibrary =
        best(repeat, [&] { Attribute::parseXML(text).getBinary(again); });
    const double parseXmlOnly = best(repeat, [&] { Attribute::parseXML(text); });
    run(tool, {"convert", bin.path, xml.path});  // warm-up: page cache, loader
    const double toXml = best(repeat, [&] { run(tool, {"convert", bin.path, xml.path}); });
    const double toBinary = best(repeat, [&] { run(tool, {"convert", xml.path, back.path}); });
    const double toXmlFresh = fresh("to-xml", bin.path);
    const double toBinaryFresh = fresh("to-binary", xml.path);
    // Into files that do not exist yet: the page cache has to find room for the output.
    ScratchFile newXml{stem + "-new.xml"}, newBinary{stem + "-new.ovab"};
    const double toXmlNew = best(repeat, [&] {
      std::remove(newXml.path.c_str());
      run(tool, {"convert", bin.path, newXml.path});
    });
    const double toBinaryNew = best(repeat, [&] {
      std::remove(newBinary.path.c_str());
      run(tool, {"convert", xml.path, newBinary.path});
    });
    if (readFile(back.path) != std::string(blob.data(), blob.size()))
      throw std::runtime_error("convert did not give the same bytes back");
    const std::string label = std::to_string(values) + " random floats";
    std::printf("convert, %s: binary %zu bytes, xml %zu bytes\n", label.c_str(), blob.size(),
                text.size());
    row("binary->xml vs parseBinary+getXML", toXml, toXmlLibrary, double(blob.size()));
    row("  vs the same in a fresh process", toXml, toXmlFresh, double(blob.size()));
    row("  vs getXML alone", toXml, getXmlOnly, double(blob.size()));
    row("  into a new file, vs parseBinary+getXML", toXmlNew, toXmlLibrary, double(blob.size()));
    row("xml->binary vs parseXML+getBinary", toBinary, toBinaryLibrary, double(text.size()));
    row("  vs the same in a fresh process", toBinary, toBinaryFresh, double(text.size()));
    row("  vs parseXML alone", toBinary, parseXmlOnly, double(text.size()));
    row("  into a new file, vs parseXML+getBinary", toBinaryNew, toBinaryLibrary,
        double(text.size()));

    // hash and cat of large files.
    for (const int64_t mib : {int64_t{64}, hashMib}) {
      const int64_t count = mib * (int64_t{1} << 20) / 4;
      std::vector<float> many(static_cast<size_t>(count));
      for (int64_t i = 0; i < count; ++i)
        many[static_cast<size_t>(i)] = static_cast<float>(i) * 0.5f;
      const FloatAttribute large(many.data(), count, 1);
      std::vector<float>().swap(many);
      large.getBinary(blob);
      ScratchFile big{stem + "-large.ovab"};
      writeFile(big.path, blob.data(), blob.size());
      const int bigRepeat = std::min(repeat, 3);
      const double hashLibrary = best(bigRepeat, [&] {
        if (Attribute::parseBinary(blob.data(), blob.size()).getHash() != large.getHash())
          throw std::runtime_error("hash differs");
      });
      double hashOnly = 1e30;  // getHash alone, on a value parsed beforehand
      for (int i = 0; i < bigRepeat; ++i) {
        const Attribute parsed = Attribute::parseBinary(blob.data(), blob.size());
        const auto start = Clock::now();
        parsed.getHash();
        hashOnly = std::min(hashOnly, seconds(start));
      }
      const double blobHash = best(bigRepeat, [&] {
        Hash h;
        if (!hashBinary(blob.data(), blob.size(), &h) || h != large.getHash())
          throw std::runtime_error("hashBinary differs");
      });
      run(tool, {"hash", big.path});  // warm-up: the page cache
      const double hash = best(bigRepeat, [&] { run(tool, {"hash", big.path}); });
      std::printf("hash, %zu MiB binary (%lld floats)\n", blob.size() >> 20,
                  static_cast<long long>(count));
      row("ovattr hash vs parseBinary+getHash", hash, hashLibrary, double(blob.size()));
      row("  vs getHash alone", hash, hashOnly, double(blob.size()));
      row("  vs hashBinary", hash, blobHash, double(blob.size()));
      double firstByte = 1e30, cat = 1e30;
      for (int i = 0; i < bigRepeat; ++i) {
        double first = 0;
        std::string listing;
        cat = std::min(cat, run(tool, {"cat", big.path}, &listing, &first));
        firstByte = std::min(firstByte, first);
      }
      std::printf("cat of the same file: first output after %.1f ms, done after %.1f ms\n",
                  firstByte * 1e3, cat * 1e3);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ovattr_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
