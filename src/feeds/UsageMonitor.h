#pragma once
#include "core/LomexError.h"
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <nlohmann/json_fwd.hpp>
#include <optional>

class QNetworkAccessManager;

namespace lomex {

class Clock;
class Timer;

// The coding agents' plan usage limits. Claude Code's come from the vendor's usage endpoint,
// signed in with the token its command-line tool keeps in its credentials file, or else from
// the bridge file the status-line mode writes; Codex's from its own session files. Publishes
// on the GUI thread; polls every 120 s while "usageEnabled" is on. Owned by the app delegate.
class UsageMonitor : public QObject {
    Q_OBJECT
public:
    struct Limit {
        QString label;      // "5h", "7d", or another window's length in hours ("1h")
        double usedPercent = 0; // 0 to 100
        std::optional<QDateTime> resetsAt;
        bool operator==(const Limit&) const = default;
    };

    static constexpr double pollSeconds = 120;
    // The usage route of the vendor's API, below claudeBaseUrl().
    static constexpr const char* usagePath = "/api/oauth/usage";
    // Replies are a few hundred bytes; anything far bigger is not one.
    static constexpr qint64 maxReplyBytes = 1 << 20;
    static constexpr int requestTimeoutMs = 15'000;

    explicit UsageMonitor(Clock* clock = nullptr, QObject* parent = nullptr);
    ~UsageMonitor() override;

    const QList<Limit>& claude() const { return claude_; }
    const QList<Limit>& codex() const { return codex_; }
    // A text key: "usage.expired", "usage.waitLimits", "usage.loginCLI", "usage.noCLI",
    // "usage.error"; absent while limits are shown or nothing went wrong.
    const std::optional<QString>& claudeStatus() const { return claudeStatus_; }

    // Follows "usageEnabled" from now on, polling while it is on (a read at once, then every
    // 120 s). Called once by the delegate at launch.
    void start();
    bool isPolling() const;
    // Starts a read of both agents' limits when "usageEnabled" is on; returns at once.
    void refresh();

    // Tests point the endpoint at a loopback server.
    QUrl claudeBaseUrl() const { return baseUrl_; }
    void setClaudeBaseUrl(const QUrl& url) { baseUrl_ = url; }

    // ---- the status-line bridge ----
    // Whether Claude Code's user settings run our "--statusline" as their status line.
    static bool isBridgeInstalled();
    // Makes Claude Code's status line run `program --statusline` (the running binary when
    // empty), keeping the user's own status-line command under "previousStatusLine".
    static std::optional<LomexError> installBridge(const QString& program = {});
    // At start of an installed Lomex: a bridge left on a build's program, or on one that is
    // gone, is pointed at this program (the running binary when empty). Any other status line
    // is left alone.
    static std::optional<LomexError> refreshBridge(const QString& program = {});
    // Puts back the user's own status line (from "previousStatusLine"; none when there was none)
    // where the bridge runs this program or one that is gone; a bridge of another Lomex that is
    // still there, and any other status line, stay.
    static std::optional<LomexError> removeBridge(const QString& program = {});
    // ~/.claude/settings.json, the file the bridge lives in.
    static QString bridgeSettingsFile();
    // "claude-usage.json" in the data folder: the last limits a status line reported.
    static QString bridgeFile();

    // ---- readers (worker-thread safe; tests call them directly) ----
    // The label of a window of this many minutes: "5h", "7d", else whole hours and "h".
    static QString windowLabel(qint64 minutes);
    // The newest Codex rate limits in the session files under codexHome.
    static QList<Limit> readCodexLimits(const QString& codexHome);
    // The endpoint's reply ("five_hour" / "seven_day" with "utilization" and "resets_at").
    static QList<Limit> parseClaudeUsage(const nlohmann::json& reply);
    // A status line's "rate_limits" object ("used_percentage", "resets_at").
    static QList<Limit> parseRateLimits(const nlohmann::json& rateLimits);
    static QList<Limit> readBridgeFile();
    // The sign-in the command-line tool keeps: the access token and when it expires.
    struct Credentials {
        QString accessToken;
        std::optional<QDateTime> expiresAt;
    };
    static std::optional<Credentials> readCredentials();

Q_SIGNALS:
    // claude, codex or claudeStatus changed.
    void changed();

private:
    void readClaude();
    void finishClaude(quint64 serial, QList<Limit> limits, std::optional<QString> status);
    void setEnabled(bool on);

    Clock* clock_;
    Timer* poll_;
    QNetworkAccessManager* network_;
    QUrl baseUrl_{QStringLiteral("https://api.anthropic.com")};
    QList<Limit> claude_;
    QList<Limit> codex_;
    std::optional<QString> claudeStatus_;
    // Reads run side by side; only the newest one started may publish.
    quint64 claudeSerial_ = 0;
    quint64 codexSerial_ = 0;
    bool started_ = false;
};

} // namespace lomex
