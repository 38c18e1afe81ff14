#include "feeds/UsageMonitor.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "platform/AgentCli.h"
#include "core/FileIO.h"
#include "core/JsonFile.h"
#include "core/JsonRead.h"
#include "platform/FileTail.h"
#include "platform/LoginItem.h"
#include "core/Paths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include "core/Async.h"
#include "core/L10n.h"
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace {

const QString kUsageEnabled = QStringLiteral("usageEnabled");
const QString kPreviousStatusLine = QStringLiteral("previousStatusLine");
constexpr qint64 kCredentialsMaxBytes = 64 << 10;
constexpr qint64 kBridgeMaxBytes = 64 << 10;
// Codex appends a token count after every reply, so the newest limits sit near a file's end.
constexpr qint64 kCodexTailBytes = 512 << 10;
// Session files of the newest few days are enough to find the last reply.
constexpr int kCodexFilesLooked = 12;

std::optional<double> number(const json& object, const char* key) {
    const json* value = jsonread::member(object, key);
    if (!value || !value->is_number()) return std::nullopt;
    const double d = value->get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

double clampPercent(double used) { return std::clamp(used, 0.0, 100.0); }

// Seconds since the epoch, or an ISO 8601 text.
std::optional<QDateTime> instant(const json& object, const char* key) {
    const json* value = jsonread::member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number()) {
        const double s = value->get<double>();
        if (!std::isfinite(s) || s <= 0 || s > 1e11) return std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(qint64(s * 1000), QTimeZone::utc());
    }
    if (value->is_string()) {
        QDateTime t = QDateTime::fromString(QString::fromStdString(value->get<std::string>()), Qt::ISODateWithMs);
        if (t.isValid()) return t;
    }
    return std::nullopt;
}

std::optional<UsageMonitor::Limit> limitFrom(const json& window, const char* label, const char* usedKey) {
    if (!window.is_object()) return std::nullopt;
    const auto used = number(window, usedKey);
    if (!used) return std::nullopt;
    return UsageMonitor::Limit{QString::fromLatin1(label), clampPercent(*used), instant(window, "resets_at")};
}

QList<UsageMonitor::Limit> twoWindows(const json& root, const char* usedKey) {
    QList<UsageMonitor::Limit> out;
    for (auto [key, label] : {std::pair{"five_hour", "5h"}, std::pair{"seven_day", "7d"}}) {
        if (const json* w = jsonread::object(root, key))
            if (auto limit = limitFrom(*w, label, usedKey)) out << *limit;
    }
    return out;
}

// One Codex window ("primary" / "secondary") of a token-count event.
std::optional<UsageMonitor::Limit> codexWindow(const json& window, const std::optional<QDateTime>& eventTime) {
    const auto used = number(window, "used_percent");
    const auto minutes = number(window, "window_minutes");
    if (!used || !minutes || *minutes <= 0) return std::nullopt;
    UsageMonitor::Limit limit{UsageMonitor::windowLabel(qint64(std::llround(*minutes))), clampPercent(*used), {}};
    limit.resetsAt = instant(window, "resets_at");
    if (!limit.resetsAt && eventTime) {
        // Older Codex versions give the time left, counted from the event.
        if (auto in = number(window, "resets_in_seconds"); in && *in >= 0 && *in < 1e9)
            limit.resetsAt = eventTime->addSecs(qint64(*in));
    }
    return limit;
}

std::optional<QList<UsageMonitor::Limit>> codexLimitsOf(QByteArrayView line) {
    if (!line.contains("rate_limits")) return std::nullopt;
    const json record = json::parse(line.begin(), line.end(), nullptr, false);
    const json* payload = jsonread::object(record, "payload");
    if (!payload || !jsonread::isText(*payload, "type", "token_count")) return std::nullopt;
    const json* limits = jsonread::object(*payload, "rate_limits");
    if (!limits) return std::nullopt;
    const auto eventTime = instant(record, "timestamp");
    QList<UsageMonitor::Limit> out;
    for (const char* key : {"primary", "secondary"})
        if (const json* w = jsonread::object(*limits, key))
            if (auto limit = codexWindow(*w, eventTime)) out << *limit;
    if (out.isEmpty()) return std::nullopt;
    return out;
}

// The newest session files: date folders sessions/YYYY/MM/DD walked from the newest name.
QStringList newestCodexFiles(const QString& codexHome) {
    QStringList files;
    const auto desc = [](const QString& dir) {
        return QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    };
    const QString root = codexHome + QStringLiteral("/sessions");
    for (const QString& y : desc(root)) {
        for (const QString& m : desc(root + '/' + y)) {
            for (const QString& d : desc(root + '/' + y + '/' + m)) {
                const QDir day(root + '/' + y + '/' + m + '/' + d);
                for (const QFileInfo& f : day.entryInfoList({QStringLiteral("*.jsonl")}, QDir::Files, QDir::Time))
                    files << f.filePath();
                if (files.size() >= kCodexFilesLooked) return files.mid(0, kCodexFilesLooked);
            }
        }
    }
    return files;
}

} // namespace

UsageMonitor::UsageMonitor(Clock* clock, QObject* parent)
    : QObject(parent), clock_(clock ? clock : Clock::current()), poll_(new Timer(clock_, this)),
      network_(new QNetworkAccessManager(this)) {
    connect(poll_, &Timer::timeout, this, &UsageMonitor::refresh);
}

UsageMonitor::~UsageMonitor() = default;

void UsageMonitor::start() {
    if (!started_) {
        started_ = true;
        connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
            if (key == kUsageEnabled) setEnabled(Settings::shared().boolValue(kUsageEnabled));
        });
    }
    setEnabled(Settings::shared().boolValue(kUsageEnabled));
}

void UsageMonitor::setEnabled(bool on) {
    if (!on) {
        poll_->stop();
        return;
    }
    if (poll_->isActive()) return;
    poll_->start(pollSeconds, true);
    refresh();
}

bool UsageMonitor::isPolling() const { return poll_->isActive(); }

void UsageMonitor::refresh() {
    if (!Settings::shared().boolValue(kUsageEnabled)) return;
    const quint64 serial = ++codexSerial_;
    const QString home = agentcli::codexHome();
    runThen(this, [home] { return readCodexLimits(home); }, [this, serial](QList<Limit> limits) {
        if (serial != codexSerial_ || codex_ == limits) return;
        codex_ = std::move(limits);
        Q_EMIT changed();
    });
    readClaude();
}

void UsageMonitor::readClaude() {
    const quint64 serial = ++claudeSerial_;
    const QList<Limit> bridged = readBridgeFile();
    // Without a usable sign-in, what a status line last reported is the best there is.
    const auto fallback = [&](const QString& status) {
        if (!bridged.isEmpty()) finishClaude(serial, bridged, std::nullopt);
        else finishClaude(serial, {}, status);
    };

    const auto credentials = readCredentials();
    if (!credentials) {
        fallback(agentcli::claudeExecutable().isEmpty() ? QStringLiteral("usage.noCLI") : QStringLiteral("usage.loginCLI"));
        return;
    }
    if (credentials->expiresAt && *credentials->expiresAt <= clock_->now()) {
        fallback(QStringLiteral("usage.expired"));
        return;
    }

    QUrl url = baseUrl_;
    url.setPath(url.path() + QLatin1String(usagePath));
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + credentials->accessToken.toUtf8());
    request.setRawHeader("anthropic-beta", "oauth-2025-04-20");
    request.setRawHeader("Accept", "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Lomex/" LOMEX_VERSION));
    // The token goes to this host only: a redirect is a failure, not a hop.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(requestTimeoutMs);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > maxReplyBytes) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, serial, bridged] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const auto fail = [&](const QString& key) {
            if (!bridged.isEmpty()) finishClaude(serial, bridged, std::nullopt);
            else finishClaude(serial, {}, key);
        };
        if (status == 401 || status == 403) return fail(QStringLiteral("usage.expired"));
        if (reply->error() != QNetworkReply::NoError || status != 200) return fail(QStringLiteral("usage.error"));
        const QByteArray body = reply->read(maxReplyBytes);
        const json root = json::parse(body.begin(), body.end(), nullptr, false);
        if (!root.is_object()) return fail(QStringLiteral("usage.error"));
        QList<Limit> limits = parseClaudeUsage(root);
        // A plan without limits (not Pro or Max), or none reported yet.
        if (limits.isEmpty()) return fail(QStringLiteral("usage.waitLimits"));
        finishClaude(serial, std::move(limits), std::nullopt);
    });
}

void UsageMonitor::finishClaude(quint64 serial, QList<Limit> limits, std::optional<QString> status) {
    if (serial != claudeSerial_) return;
    if (claude_ == limits && claudeStatus_ == status) return;
    claude_ = std::move(limits);
    claudeStatus_ = std::move(status);
    Q_EMIT changed();
}

// ---- readers ----

QString UsageMonitor::windowLabel(qint64 minutes) {
    if (minutes == 300) return QStringLiteral("5h");
    if (minutes == 10080) return QStringLiteral("7d");
    return QString::number(std::max<qint64>(1, (minutes + 30) / 60)) + QLatin1Char('h');
}

QList<UsageMonitor::Limit> UsageMonitor::readCodexLimits(const QString& codexHome) {
    for (const QString& file : newestCodexFiles(codexHome)) {
        auto tail = fileio::readTailLines(file, kCodexTailBytes);
        if (!tail) continue;
        for (auto it = tail->lines.rbegin(); it != tail->lines.rend(); ++it)
            if (auto limits = codexLimitsOf(it->text)) return *limits;
    }
    return {};
}

QList<UsageMonitor::Limit> UsageMonitor::parseClaudeUsage(const json& reply) {
    return twoWindows(reply, "utilization");
}

QList<UsageMonitor::Limit> UsageMonitor::parseRateLimits(const json& rateLimits) {
    return twoWindows(rateLimits, "used_percentage");
}

QString UsageMonitor::bridgeFile() { return paths::dataDir() + QStringLiteral("/claude-usage.json"); }

QList<UsageMonitor::Limit> UsageMonitor::readBridgeFile() {
    const auto bytes = fileio::readRegularFile(bridgeFile(), kBridgeMaxBytes);
    if (!bytes) return {};
    const json root = json::parse(bytes->begin(), bytes->end(), nullptr, false);
    const json* limits = jsonread::object(root, "rate_limits");
    return limits ? parseRateLimits(*limits) : QList<Limit>{};
}

std::optional<UsageMonitor::Credentials> UsageMonitor::readCredentials() {
    QStringList dirs;
    const QString custom = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    if (!custom.isEmpty()) dirs << paths::expandTilde(custom);
    dirs << paths::home() + QStringLiteral("/.claude");
    for (const QString& dir : dirs) {
        const auto bytes = fileio::readRegularFile(dir + QStringLiteral("/.credentials.json"), kCredentialsMaxBytes);
        if (!bytes) continue;
        const json root = json::parse(bytes->begin(), bytes->end(), nullptr, false);
        const json* oauth = jsonread::object(root, "claudeAiOauth");
        const auto token = oauth ? jsonread::text(*oauth, "accessToken") : std::nullopt;
        // A token is one header value: anything that could break the header line is not one.
        if (!token || token->isEmpty() || token->size() > 4096
            || std::any_of(token->begin(), token->end(), [](QChar c) { return c.unicode() <= 0x20 || c.unicode() >= 0x7f; }))
            continue;
        Credentials c{*token, {}};
        // Bounded before the conversion: the file may hold any number.
        if (auto ms = number(*oauth, "expiresAt"); ms && *ms > 0 && *ms < 1e15)
            c.expiresAt = QDateTime::fromMSecsSinceEpoch(qint64(*ms), QTimeZone::utc());
        return c;
    }
    return std::nullopt;
}

// ---- the bridge ----

QString UsageMonitor::bridgeSettingsFile() { return paths::home() + QStringLiteral("/.claude/settings.json"); }

namespace {
// The status-line command of Claude Code's settings, when it has one.
std::optional<QString> statusLineCommand(const nlohmann::ordered_json& root) {
    const auto line = root.find("statusLine");
    if (line == root.end() || !line->is_object()) return std::nullopt;
    const auto command = line->find("command");
    if (command == line->end() || !command->is_string()) return std::nullopt;
    return QString::fromStdString(command->get<std::string>());
}

// The program of a bridge command as installBridge writes it (the path quoted for the shell,
// then " --statusline"); none for any other command.
std::optional<QString> bridgeProgram(const QString& command) {
    const QString suffix = QStringLiteral(" --statusline");
    if (!command.endsWith(suffix)) return std::nullopt;
    const QString word = command.chopped(suffix.size());
    if (word.size() < 2 || !word.startsWith(QLatin1Char('\'')) || !word.endsWith(QLatin1Char('\''))) return std::nullopt;
    QString program = word.mid(1, word.size() - 2);
    program.replace(QStringLiteral("'\\''"), QStringLiteral("'"));
    if (program.isEmpty() || agentcli::shellQuoted(program) != word) return std::nullopt;
    return program;
}

QString runningProgram(const QString& program) {
    return program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
}

bool sameProgram(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath(), cb = QFileInfo(b).canonicalFilePath();
    return a == b || (!ca.isEmpty() && ca == cb);
}
} // namespace

bool UsageMonitor::isBridgeInstalled() {
    const auto root = jsonfile::read(bridgeSettingsFile());
    if (!std::holds_alternative<jsonfile::Json>(root)) return false;
    const auto command = statusLineCommand(std::get<jsonfile::Json>(root));
    return command && command->contains(QLatin1String("--statusline"));
}

std::optional<LomexError> UsageMonitor::installBridge(const QString& program) {
    const QString file = bridgeSettingsFile();
    const auto root = jsonfile::read(file);
    if (auto* e = std::get_if<LomexError>(&root)) return *e;
    const auto previous = statusLineCommand(std::get<jsonfile::Json>(root));
    // Our own command is never the user's: installing twice must not chain us to ourselves.
    if (!(previous && previous->contains(QLatin1String("--statusline")))) {
        // Kept before the file changes, so the user's command is never only in a file we rewrote.
        const auto kept = previous && !previous->trimmed().isEmpty()
            ? Settings::shared().setString(kPreviousStatusLine, *previous)
            : Settings::shared().remove(kPreviousStatusLine);
        if (kept) return L10n::shared().worded(*kept);
    }
    const QString app = runningProgram(program);
    const std::string command = (agentcli::shellQuoted(app) + QStringLiteral(" --statusline")).toStdString();
    const auto error = jsonfile::edit(file, [&](jsonfile::Json& r) {
        auto& entry = r["statusLine"];
        if (!entry.is_object()) entry = jsonfile::Json::object();
        entry["type"] = "command";
        entry["command"] = command;
        return QString();
    }, agentcli::agentFileOptions());
    if (error) return L10n::shared().worded(*error);
    return std::nullopt;
}

std::optional<LomexError> UsageMonitor::refreshBridge(const QString& program) {
    const QString app = runningProgram(program);
    // A build never takes the bridge from anyone.
    if (!LoginItem::buildFolderOf(app).isEmpty()) return std::nullopt;
    const auto root = jsonfile::read(bridgeSettingsFile());
    if (!std::holds_alternative<jsonfile::Json>(root)) return std::nullopt;
    const auto command = statusLineCommand(std::get<jsonfile::Json>(root));
    const auto started = command ? bridgeProgram(*command) : std::nullopt;
    if (!started || sameProgram(*started, app) || !LoginItem::isLeftBehind(*started)) return std::nullopt;
    return installBridge(app);
}

std::optional<LomexError> UsageMonitor::removeBridge(const QString& program) {
    const QString file = bridgeSettingsFile();
    if (!QFileInfo::exists(file)) return std::nullopt;
    const auto root = jsonfile::read(file);
    if (auto* e = std::get_if<LomexError>(&root)) return L10n::shared().worded(*e);
    const auto command = statusLineCommand(std::get<jsonfile::Json>(root));
    const auto started = command ? bridgeProgram(*command) : std::nullopt;
    // Another Lomex that is still there (another installation, a build) keeps its bridge.
    if (!started || !(sameProgram(*started, runningProgram(program)) || !QFileInfo::exists(*started)))
        return std::nullopt;
    const std::string previous = Settings::shared().stringValue(kPreviousStatusLine).toStdString();
    const auto error = jsonfile::edit(file, [&](jsonfile::Json& r) {
        auto entry = r.find("statusLine");
        if (entry == r.end() || !entry->is_object()) return QString();
        // The user's own command goes back into the entry we changed; without one, the entry
        // was ours alone.
        if (previous.empty()) r.erase("statusLine");
        else (*entry)["command"] = previous;
        return QString();
    }, agentcli::agentFileOptions(true));
    if (error) return L10n::shared().worded(*error);
    if (auto kept = Settings::shared().remove(kPreviousStatusLine)) return L10n::shared().worded(*kept);
    return std::nullopt;
}

} // namespace lomex
