#pragma once

// Parses the command line, prints the banner or the usage text, runs the
// selected conversion and returns the exit status.
int programEntry(int argumentCount, const char* const* argumentVector);
