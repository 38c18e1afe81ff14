// Fuzzes the settings file: any bytes give an object or an error naming the file, never an
// exception; the settings read over that file keep a usable file as it is, set an unusable one
// aside, and answer every typed read of every key without throwing.
#include "core/JsonFile.h"
#include "core/Settings.h"
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <string>
#include <vector>
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
        // Every key of the table, and every name the file holds read as each type.
        std::apply([&](const auto*... key) { ((void)settings.get(*key), ...); }, keys::all);
        std::vector<std::string> names;
        if (usable)
            for (auto it = std::get<jsonfile::Json>(parsed).begin(); it != std::get<jsonfile::Json>(parsed).end(); ++it)
                names.push_back(it.key());
        for (const std::string& name : names) {
            (void)settings.get(Key<bool>{name.c_str()});
            (void)settings.get(Key<int>{name.c_str()});
            (void)settings.get(Key<double>{name.c_str()});
            (void)settings.find(Key<QString>{name.c_str()});
            (void)settings.find(Key<QStringList>{name.c_str()});
            (void)settings.find(Key<nlohmann::json>{name.c_str()});
        }
    }
    QFile::remove(file);
    QFile::remove(file + QStringLiteral(".corrupt"));
    return 0;
}
