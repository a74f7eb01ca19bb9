#pragma once

// What differs between the platforms outside the file system: the process is
// made safe to run before the entry starts.
//
// - Standard input, output and error are open (on the null device if they were
//   closed), so that no file is ever written through them by accident.
// - A reader that goes away, or a file-size limit, makes a write fail with a
//   message instead of killing the process silently.
// - An interruption removes the partial output guarded through the file
//   system, then ends the process as it would have anyway.
void prepareProcess();
