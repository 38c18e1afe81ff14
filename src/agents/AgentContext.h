#pragma once
#include <QString>
#include <optional>

namespace lomex {

// How full an agent's context window is, read from its transcript.
struct AgentContext {
    // Tokens Codex counts as always present (instructions, tools); its own "context left"
    // figure leaves them out of both the window and the use, and so do we.
    static constexpr qint64 codexBaselineTokens = 12000;

    // The percentage (0 to 100) of a Codex session's context window in use, from the newest
    // "token_count" event in the tail of its rollout file: the last request's total tokens
    // against the model's context window, both less the baseline. Nothing when the tail holds
    // no such event with a window. Blocks on file input: call it off the GUI thread.
    static std::optional<double> codex(const QString& transcriptPath);
};

} // namespace lomex
