#include "app/LomexMain.h"
#include "agents/HookCommandMode.h"
#include "app/AppDelegate.h"
#include "app/UninstallAgentsMode.h"
#include "calendar/ParseMode.h"
#include "calendar/TestCzechMode.h"
#include "core/Log.h"
#include "feeds/StatusLineMode.h"
#include "platform/DebugChannel.h"
#include "platform/QuitSignals.h"
#include "platform/Screens.h"
#include "ui/Symbols.h"
#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <cstdio>

namespace lomex {

const std::vector<CommandMode>& LomexMain::modes() {
    // One line per mode; the functions live with the subsystem they run.
    static const std::vector<CommandMode> table{
        {"--show", &showMode},
        {"--parse", &parseMode},
        {"--test-czech", &testCzechMode},
        {"--hook-command", &hookCommandMode},
        {"--statusline", &statusLineMode},
        {"--codex-usage", &codexUsageMode},
        {"--uninstall-agents", &uninstallAgentsMode},
    };
    return table;
}

int showMode(const QStringList& args) {
    if (args.isEmpty() || args.first().trimmed().isEmpty()) {
        std::fputs("usage: lomex --show COMMAND\n", stderr);
        return 64;
    }
    const auto result = debugchannel::send(args.first().trimmed());
    if (result.notRunning) {
        std::fputs("lomex: Lomex is not running\n", stderr);
        return 1;
    }
    if (!result.delivered) {
        std::fprintf(stderr, "lomex: Lomex is not running or did not answer: %s\n",
                     qPrintable(result.error));
        return 1;
    }
    if (!result.reply.ok) {
        std::fprintf(stderr, "lomex: the running Lomex refused \"%s\": %s\n", qPrintable(args.first()),
                     qPrintable(result.reply.text));
        return 2;
    }
    if (!result.reply.text.isEmpty()) std::printf("%s\n", qPrintable(result.reply.text));
    return 0;
}

void LomexMain::printUsage(std::FILE* to) {
    std::fputs("usage: lomex                  start Lomex (a second start brings its settings forward)\n"
               "       lomex --show CMD       send CMD to the running app: a tab (agents, transit,\n"
               "                              shelf, note), chat, close, settings[:PAGE],\n"
               "                              notice[:charging|low|headphones], setup, stop[:QUERY], snap\n"
               "       lomex --parse TEXT     print how the quick-add parser reads TEXT\n"
               "       lomex --test-czech     print the Czech working days from now to 31 December 2026\n"
               "       lomex --hook-command EVENT\n"
               "                              print the hook command installed for a Claude Code event\n"
               "       lomex --statusline     Claude Code's status-line command (reads its JSON on stdin)\n"
               "       lomex --codex-usage    print the Codex plan limits\n"
               "       lomex --uninstall-agents\n"
               "                              put back what Lomex changed in the agents' files (the\n"
               "                              user's status line; its hooks removed), as make uninstall does\n"
               "       lomex --help           print this list\n",
               to);
}

namespace {

// How long a second start waits for a starting owner to answer.
constexpr int kHandOverWaitMs = 20'000;

// Qt's own options for a GUI process (a session manager restarts apps with -session ID).
bool isQtOption(const QString& arg) {
    static const QStringList options{"-platform", "-display", "-session", "-name", "-style", "-stylesheet",
                                     "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-reverse",
                                     "-platformtheme", "-plugin", "-geometry", "-title", "-widgetcount"};
    return options.contains(arg.section(QLatin1Char('='), 0, 0)) || arg.startsWith(QLatin1String("--platform"));
}

} // namespace

int LomexMain::checkAppArguments(const QStringList& arguments) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("-?")) {
            printUsage(stdout);
            return 0;
        }
        if (isQtOption(arg)) {
            if (!arg.contains(QLatin1Char('=')) && arg != QLatin1String("-reverse")) ++i; // its value
            continue;
        }
        std::fprintf(stderr, "lomex: unknown argument \"%s\"\n", qPrintable(arg));
        printUsage(stderr);
        return 64;
    }
    return -1;
}

const CommandMode* LomexMain::findMode(const QStringList& arguments, const std::vector<CommandMode>& table) {
    if (arguments.size() < 2) return nullptr;
    for (const auto& mode : table)
        if (arguments.at(1) == QLatin1String(mode.flag)) return &mode;
    return nullptr;
}

int LomexMain::runMode(const QStringList& arguments, const std::vector<CommandMode>& table) {
    const CommandMode* mode = findMode(arguments, table);
    if (!mode) return -1;
    const int code = mode->run(arguments.mid(2));
    std::fflush(stdout);
    return code;
}

int LomexMain::main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (findMode(arguments)) {
        QCoreApplication app(argc, argv);
        return runMode(arguments);
    }
    if (const int code = checkAppArguments(arguments); code >= 0) return code;
    return startApp(argc, argv);
}

int LomexMain::startApp(int argc, char** argv) {
    // Qt would abort with a long plugin message; say what is missing instead.
    if (!hasGraphicalSession()) {
        std::fputs("lomex: Lomex needs a graphical session (no DISPLAY or WAYLAND_DISPLAY is set); "
                   "on a headless machine run it under xvfb-run\n",
                   stderr);
        return 1;
    }
    // One panel per user session: a second start would stack another pill over the first, fight
    // it for the hot keys and the hook port, and write the same files. The lock decides, before
    // anything starts; the socket is asked too, for a Lomex of an older version that took none.
    // Started again from the menu, say: the settings window is the way back in when no tray
    // icon is shown.
    const auto claim = debugchannel::claimInstance();
    if (claim == debugchannel::Claim::other || debugchannel::isAnswered()) {
        std::fputs("lomex: Lomex is already running; its settings window comes forward (lomex --show CMD "
                   "talks to it)\n",
                   stderr);
        // The owner may still be starting: it answers once it listens.
        const auto result = debugchannel::handOver(QStringLiteral("settings"), kHandOverWaitMs);
        if (result.delivered) return result.reply.ok ? 0 : 1;
        if (debugchannel::claimInstance() != debugchannel::Claim::owner) {
            std::fprintf(stderr, "lomex: %s\n", qPrintable(result.error));
            return 1;
        }
        std::fputs("lomex: the running Lomex has quit; starting\n", stderr);
    } else if (claim == debugchannel::Claim::unavailable) {
        std::fputs("lomex: no private runtime folder; a second Lomex started now would not be noticed\n", stderr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lomex"));
    QApplication::setOrganizationDomain(QStringLiteral("lomex.cz"));
    QApplication::setApplicationVersion(QStringLiteral(LOMEX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("cz.lomex.Lomex"));
    QApplication::setWindowIcon(symbols::appIcon());
    // An accessory app: the notch and the tray stay when every window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);

    AppDelegate delegate;
    // A logout, `systemctl --user stop` or Ctrl+C quits the normal way, not in the middle.
    QuitSignals quitSignals([&delegate](int signal) {
        log(QStringLiteral("signal %1").arg(signal));
        delegate.quit();
    });
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

} // namespace lomex
