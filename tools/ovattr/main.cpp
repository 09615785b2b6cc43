// ovattr: look at, convert, compare and hash attribute files. docs/ovattr.1 is its manual page;
// the --help text here says the same in short.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "Commands.h"
#include "Text.h"

namespace {

constexpr const char* kFooter = R"(FILES
  An attribute file is the XML or the binary form of one attribute value. The form is told
  from the content: the binary form starts with the bytes OVAB, anything else is read as XML.
  "-" reads standard input (and, for convert, writes standard output). Files are read through
  a memory map; pipes are read to their end.

EXIT STATUS
  0 success (diff: the values are equal), 1 diff: the values differ, 2 an error: a file that
  cannot be read, parsed or written, or bad arguments. Errors are one line on standard error
  naming the file, where in it the problem is and what it is.

Run "ovattr COMMAND --help" for the output of each command; ovattr(1) (docs/ovattr.1) is the
manual.)";

constexpr const char* kCatFooter = R"(OUTPUT
  One line per attribute, parents before children: its path ("/" is the root, "/a/b" the
  child b of the group a; in a name, %XX stands for '%', '/', control bytes and bytes that are
  not UTF-8), two spaces, then what it is:
    group, N children[, inherit false]
    null
    KIND, tuple size T, S samples of V values
  A data attribute is followed by one line per sample, "  t=TIME: VALUES", tuples in
  parentheses. Numbers are written as the XML form writes them (inf, -inf, nan, -nan,
  nan:0x<bits>); strings in double quotes with C escapes (\", \\, \n, \t, \r, \xNN).
  Lines are printed as the file is read, so they start at once however large it is. A file
  that turns out bad further on still ends in the one-line error and exit status 2, after the
  lines printed before the fault (an XML file is checked whole before anything is printed).)";

constexpr const char* kConvertFooter = R"(OUTPUT
  The XML or binary form of the value in IN, written to OUT (replaced if it exists; nothing is
  left behind when writing fails). IN and OUT may be the same file. Converting back gives
  the same bytes as the original when the original was written by this library.)";

constexpr const char* kDiffFooter = R"(OUTPUT
  Nothing when the values are equal. Otherwise one line per difference, "PATH: WHAT", in path
  order, children matched by name:
    added (KIND)                 removed (KIND)              kind A -> B
    inherit A -> B               tuple size A -> B           values per sample A -> B
    sample times (A..) -> (B..)  children in another order, from child I: "A" -> "B"
    sample I (t=TIME), value K (tuple J): A -> B    the first value that differs
  Values are equal when they are equal bit for bit (so -0 differs from 0, and NaNs by their
  bits). Exit status 0 when equal, 1 when different.)";

constexpr const char* kHashFooter = R"(OUTPUT
  "HASH  FILE" per file: 32 lower-case hexadecimal digits of the 128-bit content hash. Equal
  values have equal hashes, whichever form they were read from. A binary file is hashed
  straight from its bytes, without making the value in memory.)";

constexpr const char* kStatsFooter = R"(OUTPUT
  A first line with the form and size of the file, then one row per kind present and a total:
  attributes, time samples, values (in all samples) and data bytes (the size of each value's
  own block in memory). A last line gives the number of children, the most in one group and
  how deep groups nest (a group at the root is 1 deep).)";

}  // namespace

int main(int argc, char** argv) {
  ovattr::installSignalHandlers();

  CLI::App app{"Look at, convert, compare and hash attribute files (XML or binary).", "ovattr"};
  app.set_version_flag("--version", OVATTR_VERSION);
  app.require_subcommand(1);

  std::string file, second, to;
  std::vector<std::string> files;
  bool full = false;
  int64_t maxDifferences = 20;

  CLI::App* cat = app.add_subcommand(
      "cat", "Print every attribute: its path, kind, tuple size, sample times and values.");
  cat->add_option("FILE", file, "the attribute file")->required();
  cat->add_flag("--full", full,
                "print every value, sample and string byte (else 12 values a sample, 8 samples "
                "and 64 bytes a string, saying how many were left out)");

  CLI::App* convert = app.add_subcommand("convert", "Write the other form of a file.");
  convert->add_option("IN", file, "the attribute file to read")->required();
  convert->add_option("OUT", second, "the file to write (\"-\": standard output)")->required();
  convert
      ->add_option("--to", to,
                   "the form to write; by default XML when OUT ends in .xml, binary for any other "
                   "name, and the other form of IN for \"-\"")
      ->check(CLI::IsMember({"xml", "binary"}).description(""))
      ->type_name("xml|binary");

  CLI::App* diff = app.add_subcommand(
      "diff", "Show where two values differ, by child path; exit 0 equal, 1 different.");
  diff->add_option("A", file, "the first attribute file")->required();
  diff->add_option("B", second, "the second attribute file")->required();
  diff->add_option("-n,--max-differences", maxDifferences,
                   "stop after this many differences (default 20)")
      ->check(CLI::Range(int64_t{1}, INT64_MAX).description(""))
      ->type_name("N");

  CLI::App* hash = app.add_subcommand(
      "hash", "Print the 128-bit content hash of each value: \"HASH  FILE\" lines.");
  hash->add_option("FILE", files,
                   "attribute files; the XML and binary forms of one value hash "
                   "the same")
      ->required();

  CLI::App* stats = app.add_subcommand(
      "stats", "Count attributes, samples, values and data bytes by kind; children and depth.");
  stats->add_option("FILE", file, "the attribute file")->required();

  // Set last, so that the commands do not take this footer over.
  app.footer(kFooter);
  cat->footer(kCatFooter);
  convert->footer(kConvertFooter);
  diff->footer(kDiffFooter);
  hash->footer(kHashFooter);
  stats->footer(kStatsFooter);

  for (CLI::App* command : app.get_subcommands({}))
    for (CLI::Option* option : command->get_options())
      if (option->get_positional()) option->type_name("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  try {
    if (*cat) return ovattr::runCat(file, full);
    if (*convert) return ovattr::runConvert(file, second, to);
    if (*diff) return ovattr::runDiff(file, second, maxDifferences);
    if (*hash) return ovattr::runHash(files);
    if (*stats) return ovattr::runStats(file);
  } catch (const ovattr::ToolError& e) {
    std::cerr << "ovattr: " << ovattr::oneLine(e.what()) << std::endl;
  } catch (const std::bad_alloc&) {
    std::cerr << "ovattr: out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "ovattr: " << ovattr::oneLine(e.what()) << std::endl;
  }
  return 2;
}
