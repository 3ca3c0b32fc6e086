// The tool's exit codes: one per cause. The numbers 3 to 10 follow the component's
// status numbers (-200, -104, -105, -106, -107, -202, -102, -103). --help, the manual
// page and docs/command-line.md list this table.
#pragma once

namespace corvane::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitInternal = 1,           // a fault of the tool itself
  kExitUsage = 2,              // unknown subcommand or option, missing or extra argument, unknown encoding
  kExitNoKey = 3,              // no key given, an empty key, keys that differ, an unusable key file
  kExitCannotOpen = 4,         // input file missing, a folder, not a regular file, or no access
  kExitCannotRead = 5,         // input cannot be read, grew while it was encrypted, or is too large for the format
  kExitCannotWrite = 6,        // output cannot be written (file, folder, standard output), or a read-only
                               // file, a folder, a symbolic link or the input itself is at the output path
  kExitBadBase64 = 7,          // malformed Base64 text
  kExitBadEncryptedFile = 8,   // encrypted file shorter than its header states, or inconsistent (inspect)
  kExitNotRepresentable = 9,   // text not representable in the encoding, or not valid text in it
  kExitOutOfMemory = 10,
  kExitInterrupted = 130,      // Ctrl+C or a termination request; no output file was changed
};

}  // namespace corvane::cli
