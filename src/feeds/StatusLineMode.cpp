#include "feeds/StatusLineMode.h"
#include "core/Settings.h"
#include "platform/AgentCli.h"
#include "feeds/UsageMonitor.h"
#include "core/FileIO.h"
#include "core/JsonFile.h"
#include "core/JsonRead.h"
#include "core/Paths.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <cstdio>
#include <unistd.h>
#include <nlohmann/json.hpp>

namespace lomex {

using nlohmann::json;

namespace statusline {

bool isOwnCommand(const QString& command) { return command.contains(QLatin1String("--statusline")); }

namespace {

// Posts the payload to the hook server; returns as soon as the app answers or clearly is not there.
void report(const QByteArray& payload, const Options& options) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), options.port);
    if (!socket.waitForConnected(options.connectTimeoutMs)) return;
    QByteArray request = "POST /usage HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(payload.size()) + "\r\nConnection: close\r\n\r\n" + payload;
    socket.write(request);
    if (!socket.waitForBytesWritten(options.replyTimeoutMs)) return;
    // The answer only tells that the app took it; wait briefly so it is not cut off mid-read.
    socket.waitForReadyRead(options.replyTimeoutMs);
}

// Keeps the plan limits the payload carries (Pro and Max plans) for the usage monitor.
void keepLimits(const json& root) {
    const json* limits = jsonread::object(root, "rate_limits");
    if (!limits || UsageMonitor::parseRateLimits(*limits).isEmpty()) return;
    json out = json::object();
    json kept = json::object();
    for (const char* key : {"five_hour", "seven_day"})
        if (const json* w = jsonread::object(*limits, key)) kept[key] = *w;
    out["rate_limits"] = kept;
    out["updated_at"] = QDateTime::currentSecsSinceEpoch();
    if (!paths::ensureDir(paths::dataDir())) return;
    fileio::writeAtomically(UsageMonitor::bridgeFile(), QByteArray::fromStdString(out.dump()));
}

} // namespace

QByteArray run(const QByteArray& payload, const Options& options) {
    // The previous command runs while we talk to the app: the two waits overlap.
    QProcess previous;
    const bool chained = !options.previousCommand.trimmed().isEmpty() && !isOwnCommand(options.previousCommand);
    if (chained) {
        previous.setStandardErrorFile(QProcess::nullDevice());
        previous.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), options.previousCommand});
        if (previous.waitForStarted(options.previousTimeoutMs)) {
            previous.write(payload);
            previous.closeWriteChannel();
        }
    }

    // Only the top level and the objects right below it are read.
    const auto shallow = [](int depth, json::parse_event_t, json&) { return depth <= 3; };
    const json root = json::parse(payload.begin(), payload.end(), shallow, false);
    if (root.is_object()) {
        keepLimits(root);
        if (options.port != 0) report(payload, options);
    }

    if (!chained) return {};
    QByteArray out;
    QElapsedTimer elapsed;
    elapsed.start();
    while (previous.state() != QProcess::NotRunning && elapsed.elapsed() < options.previousTimeoutMs) {
        previous.waitForReadyRead(int(std::max<qint64>(1, options.previousTimeoutMs - elapsed.elapsed())));
        if (out.size() <= maxOutputBytes) out += previous.readAllStandardOutput();
        else previous.readAllStandardOutput();
    }
    if (previous.state() != QProcess::NotRunning) {
        previous.kill();
        previous.waitForFinished(1000);
    }
    out += previous.readAllStandardOutput();
    return out.left(maxOutputBytes);
}

} // namespace statusline

int statusLineMode(const QStringList&) {
    // Claude Code writes a few kilobytes and closes the pipe; a writer that sends more, or never
    // closes, is cut at the bound or the time limit and the rest is left unread.
    const QByteArray payload = fileio::readStream(STDIN_FILENO, statusline::maxPayloadBytes, statusline::readTimeLimitMs);

    Settings& settings = Settings::shared();
    statusline::Options options;
    if (settings.get(keys::agentsEnabled)) options.port = agentcli::hookPort;
    options.previousCommand = settings.get(keys::previousStatusLine);
    const QByteArray out = statusline::run(payload, options);
    // Claude Code shows what arrives; a line that could not be written is a failed run.
    const bool written = std::fwrite(out.constData(), 1, size_t(out.size()), stdout) == size_t(out.size());
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}

int codexUsageMode(const QStringList&) {
    const auto limits = UsageMonitor::readCodexLimits(agentcli::codexHome());
    if (limits.isEmpty()) {
        std::puts("no Codex limits found");
        return 1;
    }
    for (const auto& limit : limits) {
        const QString resets = limit.resetsAt ? limit.resetsAt->toLocalTime().toString(Qt::ISODate) : QStringLiteral("-");
        std::printf("%s %.1f%% used, resets %s\n", qPrintable(limit.label), limit.usedPercent, qPrintable(resets));
    }
    return 0;
}

} // namespace lomex
