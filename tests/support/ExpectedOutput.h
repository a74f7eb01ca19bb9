#pragma once

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
