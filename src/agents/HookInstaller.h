#pragma once
#include "agents/Agent.h"
#include "core/LomexError.h"
#include "platform/AgentCli.h"
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

namespace lomex {

// Writes our hook entries into the coding agents' own configuration files (Claude Code's
// settings.json in each of its configuration folders, Codex's hooks.json), finds them again and
// removes them. Our entries are recognised by the marker "lomex-agent" in their command line;
// everything else in those files is left as the user or other tools wrote it, in its order.
// Every call reads the files anew; nothing is kept between calls.
//
// Operations that change files return nothing on success and the error otherwise. Every error
// names the file. A file whose top level is valid JSON but not an object is error
// {"Lomex", 2, "<path> is not a JSON object – please check it manually."}.
struct HookInstaller {
    struct Event {
        const char* name;
        const char* matcher; // nullptr: the entry has no "matcher"
    };
    // The Claude Code hook events, in the order entries are written.
    static const std::array<Event, 12> events;
    // Further ownership markers of older command lines (none yet).
    static const QStringList legacyMarkers;
    // The loopback port the app's hook server listens on and installed hooks post to.
    static constexpr quint16 defaultPort = agentcli::hookPort;
    static constexpr const char* marker = "lomex-agent";
    static constexpr const char* backupExtension = agentcli::backupExtension;

    // The hook command line that posts the hook's JSON to the event endpoint.
    static QString command(quint16 port, Agent agent);
    // The command line of the "PermissionRequest" hook: waits for the decision and prints it
    // when the reply starts with the approval token, which it reads from the private token file
    // when it runs (a command line is visible to every local account).
    static QString permissionCommand(quint16 port, Agent agent);

    // Claude Code configuration folders: ~/.claude first, then $CLAUDE_CONFIG_DIR, then other
    // ~/.claude-* / ~/.claude_* folders that look used; duplicates (after resolving links) dropped.
    static QStringList configDirectories();
    // settings.json in each of configDirectories().
    static QStringList settingsURLs();
    // The folders for people: the home prefix shown as "~", joined with ", ".
    static QString settingsSummary();

    // Whether every settings file holds the current command for every event (at defaultPort).
    static bool isInstalled();
    // Writes our entries into every settings file; stops at the first failing file.
    static std::optional<LomexError> install(quint16 port);
    // Removes our entries from every existing settings file; stops at the first failing file.
    static std::optional<LomexError> uninstall();
    // Rewrites our entries, Claude Code's and Codex's, in every file that holds some of them but
    // not the current command lines (an older form, e.g. one carrying the token). Files
    // without our entries are left alone. Errors of all files, in order, a file that cannot be
    // read or parsed included (it is never rewritten).
    static QList<LomexError> refreshInstalled(quint16 port);

    struct Codex {
        struct Event {
            const char* name;
            const char* matcher;
            int timeout; // seconds; the permission hook gets 600 whatever this says
        };
        static const std::array<Event, 10> events;

        // $CODEX_HOME (with "~" expanded) when set and not empty, else ~/.codex.
        static QString home();
        // hooks.json in home().
        static QString hooksFile();
        static bool isInstalled();
        static std::optional<LomexError> install(quint16 port);
        static std::optional<LomexError> uninstall();
    };

    // Tests only: called with the file's path after the new content is ready and the backup
    // written, just before the file is checked for outside changes and replaced.
    static void setBeforeReplaceHook(std::function<void(const QString&)> hook);
};

} // namespace lomex
