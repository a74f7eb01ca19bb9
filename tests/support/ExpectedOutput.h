#pragma once

#include <string>

// What the program prints, written out by hand for the tests to compare with.

// The program's usage text as a reader sees it: descriptions at cell 17,
// no trailing blanks, nothing after the last line feed.
inline constexpr const char* expectedUsageText =
    "  a tool to create tape images out of binary files\n"
    "\n"
    "  usage:\n"
    "    reelmake [-r] input.bin output.tap\n"
    "      creates a headerless tape block\n"
    "    reelmake -b input.bin output.tap zxname [start]\n"
    "      creates a basic file that autostarts at line 'start'\n"
    "    reelmake -c input.bin output.tap zxname start\n"
    "      creates a code file that loads at address 'start'\n"
    "  options:\n"
    "    -h, --help   print usage and exit.\n"
    "    -b, --basic  create basic *.tap file.\n"
    "    -c, --code   create code *.tap file.\n"
    "    -r, --raw    create a raw block, i.e. do not generate block id and checksum.\n";

// The error lines, each with its line feed.
inline constexpr const char* errorOpen = "  error: cannot open the input file.\n";
inline constexpr const char* errorTooLong = "  error: the input file is too long.\n";
inline constexpr const char* errorRead = "  error: cannot read the input file.\n";
inline constexpr const char* errorSame = "  error: the input and output are the same file.\n";
inline constexpr const char* errorCreate = "  error: cannot create the output file.\n";
inline constexpr const char* errorWrite = "  error: cannot write the output file.\n";

// The command-line errors.
inline constexpr const char* errorOnlyOne = "  error: use only one of -b, -c and -r.\n";
inline constexpr const char* errorBasicNeeds =
    "  error: -b needs an input, an output, a tape name and an optional start line.\n";
inline constexpr const char* errorCodeNeeds =
    "  error: -c needs an input, an output, a tape name and a start address.\n";
inline constexpr const char* errorHeaderlessNeeds =
    "  error: a headerless block needs an input and an output.\n";
inline constexpr const char* errorStartValue =
    "  error: the start value is not a decimal number.\n";
inline std::string errorUnknownOption(const std::string& option) {
  return "  error: unknown option '" + option + "'.\n";
}
