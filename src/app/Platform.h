#pragma once

// What differs between the platforms outside the file system.

// Makes the process safe to run, before the entry starts:
// - standard input, output and error are open (on the null device if they
//   were closed), so that no file is ever written through them by accident;
// - standard output takes bytes unchanged, as on every platform;
// - a reader that goes away, or a file-size limit, makes a write fail with a
//   message instead of killing the process silently;
// - an interruption removes the partial output guarded through the file
//   system, then ends the process as it would have anyway.
void prepareProcess();

// The program's arguments as UTF-8 byte strings, ended by a null entry. On
// Windows they are taken from the wide command line, whatever the code page;
// elsewhere they are the ones given.
struct ProgramArguments {
  int count;
  const char* const* vector;
};
ProgramArguments programArguments(int argc, char** argv);
