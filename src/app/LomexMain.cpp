#include "app/LomexMain.h"
#include "agents/HookCommandMode.h"
#include "app/AppDelegate.h"
#include "calendar/ParseMode.h"
#include "calendar/TestCzechMode.h"
#include "core/Log.h"
#include "feeds/StatusLineMode.h"
#include "platform/DebugChannel.h"
#include "platform/QuitSignals.h"
#include "platform/Screens.h"
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
    };
    return table;
}

int showMode(const QStringList& args) {
    if (args.isEmpty() || args.first().trimmed().isEmpty()) {
        std::fputs("usage: lomex --show COMMAND\n", stderr);
        return 64;
    }
    const auto result = debugchannel::send(args.first().trimmed());
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
    // One panel per user session: a second start would stack another pill over the first
    // and fight it for the hot keys and the hook port.
    if (debugchannel::isAnswered()) {
        std::fputs("lomex: Lomex is already running (use lomex --show CMD to talk to it)\n", stderr);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lomex"));
    QApplication::setOrganizationDomain(QStringLiteral("lomex.cz"));
    QApplication::setApplicationVersion(QStringLiteral(LOMEX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("cz.lomex.Lomex"));
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
