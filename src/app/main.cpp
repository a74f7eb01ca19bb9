#include <iostream>

#include "app/FileSystem.h"
#include "app/Platform.h"
#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
  prepareProcess();
  return programEntry(argc, argv, systemFileSystem(), std::cout);
}
