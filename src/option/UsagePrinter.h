#pragma once

#include "option/OptionSpec.h"
#include "option/StringWriter.h"

namespace option::PrintUsageImplementation {

// Prints the usage text held in the help texts of an option table, each
// table laid out on its own in aligned columns on lines 80 cells wide. The
// last column gets the room that is left, or lines of its own below its row
// when too little is left; it and paragraph rows are wrapped at blanks.
// Allocates nothing and cannot fail.
void printUsageTable(IStringWriter& writer, const OptionSpec* table);

}  // namespace option::PrintUsageImplementation
