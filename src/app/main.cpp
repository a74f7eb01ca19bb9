#include "app/ProgramEntry.h"

int main(int argc, char** argv) { return programEntry(argc, argv); }
