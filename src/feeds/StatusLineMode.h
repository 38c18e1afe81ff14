#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace lomex {

// `lomex --statusline`: Claude Code's status-line command. Reads the status payload from
// standard input, hands it to the running app's "/usage" route (when monitoring is on and the
// app answers), keeps its plan limits in the bridge file, and prints what the user's previous
// status-line command prints for the same input. Silent and quick when the app is not running.
int statusLineMode(const QStringList& args);

// `lomex --codex-usage`: prints the Codex limits read from its session files, one line each.
int codexUsageMode(const QStringList& args);

namespace statusline {

struct Options {
    quint16 port = 0;              // the hook server's port; 0 sends nothing
    QString previousCommand;       // run by /bin/sh with the payload on its standard input
    int connectTimeoutMs = 150;
    int replyTimeoutMs = 400;
    int previousTimeoutMs = 10'000;
};

// The status payload is a few kilobytes; more than this is cut.
constexpr qint64 maxPayloadBytes = 1 << 20;
// Reading the payload gives up after this long, whatever has come by then.
constexpr int readTimeLimitMs = 2000;
// What the previous command prints is passed on up to this size.
constexpr qint64 maxOutputBytes = 1 << 20;

// Does the work of the mode for one payload and returns what is to be printed.
QByteArray run(const QByteArray& payload, const Options& options);

// Whether a status-line command is our own (running it would call us again).
bool isOwnCommand(const QString& command);

} // namespace statusline

} // namespace lomex
