#pragma once

#include <iosfwd>

#include "app/FileSystem.h"
#include "app/ProcessControl.h"

// Parses the command line, prints the banner and the usage text or an error
// on console, runs the selected conversion through files and returns the
// exit status: 0, or 1 after one error line. A tape written to standard
// output goes there without the banner.
int programEntry(int argumentCount, const char* const* argumentVector, FileSystem& files,
                 ProcessControl& process, std::ostream& console);
