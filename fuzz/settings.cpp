// Fuzzes the settings file: any bytes give an object or an error naming the file, never an
// exception; the settings read over that file keep a usable file as it is, set an unusable one
// aside, and answer every typed read of every key without throwing.
#include "core/JsonFile.h"
#include "core/Settings.h"
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <unistd.h>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString dir = QDir::tempPath() + QStringLiteral("/lomex-fuzz-settings-%1").arg(::getpid());
    static const bool made = QDir().mkpath(dir);
    if (!made)
        abort();
    const QString file = dir + QStringLiteral("/settings.json");
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto parsed = jsonfile::parse(file, bytes);
    if (const auto* error = std::get_if<LomexError>(&parsed); error && !error->message.startsWith(file))
        abort();
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            abort();
    }
    {
        Settings settings(file);
        settings.registerLaunchDefaults();
        const bool usable = std::holds_alternative<jsonfile::Json>(parsed);
        if (QFile::exists(file) != usable || QFile::exists(file + QStringLiteral(".corrupt")) == usable)
            abort();
        QStringList keys{"tabOrder", "hiddenTabs", "language", "note", "weatherPlace", "pidStop"};
        if (usable)
            for (auto it = std::get<jsonfile::Json>(parsed).begin(); it != std::get<jsonfile::Json>(parsed).end(); ++it)
                keys << QString::fromStdString(it.key());
        const auto defaults = Settings::launchDefaults();
        for (auto it = defaults.begin(); it != defaults.end(); ++it)
            keys << QString::fromStdString(it.key());
        for (const QString& key : keys) {
            (void)settings.boolValue(key);
            (void)settings.intValue(key);
            (void)settings.doubleValue(key);
            (void)settings.string(key);
            (void)settings.stringList(key);
            (void)settings.data(key);
        }
    }
    QFile::remove(file);
    QFile::remove(file + QStringLiteral(".corrupt"));
    return 0;
}
