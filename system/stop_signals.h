// Lets a command-line program stop cooperatively when asked by its terminal or the system
// (Ctrl+C, SIGTERM): the first request only raises a flag that the program's work polls, so it
// can end cleanly and remove what it had half written; a second one ends the program at once.
#pragma once

namespace veldmoor {

// Installs the handlers. Also makes a file-size limit end a write with an error instead of
// ending the program, so the program can say what happened.
void CatchStopSignals();

// True once a stop was asked for.
bool StopSignalReceived();

// The exit status a program conventionally ends with after the stop it was asked for
// (128 + the signal's number); 1 when none was received.
int StopSignalExitStatus();

}  // namespace veldmoor
