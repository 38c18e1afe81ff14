#pragma once
#include <QStringList>
#include <cstdio>
#include <vector>

namespace lomex {

// A one-shot command-line mode: gets the arguments after its flag, prints to stdout and
// returns the process exit code.
using ModeFunction = int (*)(const QStringList& args);

struct CommandMode {
    const char* flag;
    ModeFunction run;
};

// `lomex --show CMD`: hands CMD to the running app over the debug channel.
int showMode(const QStringList& args);

class LomexMain {
public:
    // The process entry: a known first argument runs its mode and exits; anything else starts
    // the app (tray and notch, no taskbar entry) and runs the event loop until quit.
    static int main(int argc, char** argv);

    // The table of one-shot modes.
    static const std::vector<CommandMode>& modes();
    // The mode named by the first argument after the program name, or nullptr.
    static const CommandMode* findMode(const QStringList& arguments,
                                       const std::vector<CommandMode>& table = modes());
    // Runs a mode of the table when the arguments name one; returns its exit code, or -1
    // when they name none (the caller then starts the app). Needs a QCoreApplication.
    static int runMode(const QStringList& arguments, const std::vector<CommandMode>& table = modes());

    // The list of modes, as `--help` prints it.
    static void printUsage(std::FILE* to);
    // For arguments that name no mode: the exit code when they ask for help (0) or are not
    // understood (64, with the list on stderr), or -1 when the app may start (none, or Qt's own).
    static int checkAppArguments(const QStringList& arguments);

private:
    static int startApp(int argc, char** argv);
};

} // namespace lomex
