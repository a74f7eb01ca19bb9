#include <iostream>

#include "app/FileSystem.h"
#include "app/Platform.h"
#include "app/ProcessControl.h"
#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
  prepareProcess();
  const ProgramArguments arguments = programArguments(argc, argv);
  return programEntry(arguments.count, arguments.vector, systemFileSystem(), systemProcess(),
                      std::cout);
}
