#pragma once
#include <QString>

namespace lomex {

// The per-installation secret that begins every permission decision sent to an agent's hook.
// Kept in dataDir()/approval-token as 32 lower-case hex characters, mode 0600.
class ApprovalToken {
public:
    // Read once per data folder, so once per run: the file's trimmed text when it is at least 16
    // hex digits, else a fresh token from 16 secure random bytes, written to the file and used.
    static QString value();

    // Before an answer: makes sure the file holds value(), which the hook compares the answer
    // with, writing it back (mode 0600) when it is missing or holds anything else. False when
    // there is no token or it cannot be written: an answer would then not reach the agent.
    static bool ensureFile();

    // The file the token lives in.
    static QString filePath();
};

} // namespace lomex
