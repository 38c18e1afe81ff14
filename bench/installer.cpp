// Times HookInstaller::isInstalled over three Claude Code configuration folders holding
// installed hooks beside the user's own settings. Exits non-zero when a figure misses its
// limit. Runs in a temporary HOME.
#include "BenchSupport.h"
#include "agents/HookInstaller.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

using namespace lomex;

namespace {
bool writeSettings(const QString& dir) {
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/settings.json"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    // A typical user file: permissions, env, a status line and a foreign hook.
    f.write(R"json({
  "model": "opus",
  "env": {"DISABLE_TELEMETRY": "1"},
  "permissions": {"allow": ["Bash(git status)", "Bash(npm run test:*)", "Read(~/notes/**)"], "deny": ["Read(./.env)"]},
  "statusLine": {"type": "command", "command": "~/.claude/statusline.sh"},
  "hooks": {"PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "~/bin/guard.sh"}]}]}
})json");
    return true;
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home(QStringLiteral("/tmp/lomex-bench-home-XXXXXX"));
    if (!home.isValid()) return 1;
    // Never touch the real user's agent settings or token.
    bench::useHome(home.path());
    qputenv("CLAUDE_CONFIG_DIR", (home.path() + "/work-claude").toUtf8());
    qunsetenv("CODEX_HOME");
    QCoreApplication app(argc, argv);

    for (const char* d : {"/.claude", "/work-claude", "/.claude-personal"})
        if (!writeSettings(home.path() + d)) return 1;
    if (HookInstaller::configDirectories().size() != 3) {
        std::fprintf(stderr, "expected three configuration folders\n");
        return 1;
    }
    if (HookInstaller::install(7841) || !HookInstaller::isInstalled()) {
        std::fprintf(stderr, "install failed\n");
        return 1;
    }

    const int runs = 500;
    bool all = true;
    const std::vector<double> us = bench::sampleMicros(runs, [&] { all = HookInstaller::isInstalled() && all; });
    std::printf("HookInstaller::isInstalled over 3 configuration folders, %d runs: median %.1f us, max %.1f us\n", runs,
                bench::percentile(us, 50), us.back());
    bench::Limits limits;
    limits.holds("the hooks read as installed every time", all);
    // The limits page asks on the GUI thread: three small files read and parsed, well under a
    // frame (about 0.5 ms here).
    limits.atMost("one look, p95", bench::percentile(us, 95) / 1000, 10, "ms");
    return limits.exitCode();
}
