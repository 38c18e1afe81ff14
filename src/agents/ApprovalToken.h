#pragma once
#include <QString>

namespace lomex {

// The per-installation secret that begins every permission decision sent to an agent's hook.
// Kept in dataDir()/approval-token as 32 lower-case hex characters, mode 0600.
class ApprovalToken {
public:
    // Read once per process: the file's trimmed text when it is at least 16 hex digits, else a
    // fresh token from 16 secure random bytes, written to the file and used.
    static QString value();

    // The file the token lives in.
    static QString filePath();

    // Tests: forget the cached value so the next value() reads the file again.
    static void resetForTesting();
};

} // namespace lomex
