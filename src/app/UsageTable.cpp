#include "app/UsageTable.h"

using option::takesNoArgument;

const option::OptionSpec usageTable[] = {
    {UNRECOGNISED, 0, "", "", takesNoArgument,
     "  a tool to create tape images out of binary files\n"
     "\n"
     "  usage:\n"
     "    reelmake [-r] input.bin output.tap\n"
     "      creates a headerless tape block\n"
     "    reelmake -b input.bin output.tap zxname [start]\n"
     "      creates a basic file that autostarts at line 'start'\n"
     "    reelmake -c input.bin output.tap zxname start\n"
     "      creates a code file that loads at address 'start'\n"
     "  options:"},
    {HELP, 0, "h", "help", takesNoArgument, "    -h, --help  \tprint usage and exit."},
    {BASIC, 0, "b", "basic", takesNoArgument, "    -b, --basic  \tcreate basic *.tap file."},
    {CODE, 0, "c", "code", takesNoArgument, "    -c, --code  \tcreate code *.tap file."},
    {RAW, 0, "r", "raw", takesNoArgument,
     "    -r, --raw  \tcreate a raw block, i.e. do not generate block id and checksum."},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};
