// Ending the process on a failure that a command cannot recover from.
//
// The layer operations and the command dispatcher have one failure policy:
// the message goes out through PrintMessage (the log and standard output),
// then the process ends with status 1. Nothing unwinds through the
// interpreter, and the exit handlers still close the open libraries.
#pragma once

namespace velmar {

class Error;

// Prints the message (printf-style, through PrintMessage, cut to the same
// length as every message) and ends the process with status 1.
[[noreturn]] void ExitWithMessage(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Prints "ERROR: <unit>: <message>\n" for e and ends the process with
// status 1.
[[noreturn]] void ExitOnError(const Error& e);

}  // namespace velmar
