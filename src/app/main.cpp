#include <csignal>

#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
  // A reader that goes away must make a write fail with a message, not kill
  // the program silently.
  std::signal(SIGPIPE, SIG_IGN);
  return programEntry(argc, argv);
}
