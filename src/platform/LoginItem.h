#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace lomex {

// Starting Lomex when the user logs in. On Linux this is an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/lomex.desktop; the entry is the only state, so status() always
// tells the truth after a change or a failure.
class LoginItem {
public:
    enum class Status { enabled, notRegistered };

    virtual ~LoginItem() = default;
    virtual Status status() const = 0;
    // Each returns an error text, or nothing on success.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
    // The build folder the entry would start Lomex from, or empty when it starts an installed
    // program: an entry that points into a build folder breaks with the next clean build.
    virtual QString buildFolder() const { return {}; }
    // At start: an enabled entry whose program is a build's, or gone, is pointed at this
    // program when this one is installed; only the program changes. An entry that runs anything
    // else (our program through env, a wrapper, a shell line) is the user's and stays byte for byte.
    virtual void refresh() {}

    // The program's folder when it holds a CMake cache (a build folder), else empty.
    static QString buildFolderOf(const QString& program);
    // Whether a program once started by us is a build's or no longer there (a name without a
    // folder is looked up on PATH), so the installed Lomex may take its place.
    static bool isLeftBehind(const QString& program);

    static LoginItem* current();
    static void setCurrent(LoginItem* item); // nullptr restores the autostart entry
};

class XdgAutostart : public LoginItem {
public:
    // The program the entry starts; the running binary unless a test names another.
    explicit XdgAutostart(QString program = {});

    Status status() const override;
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;
    // The program's folder when it holds a CMake cache.
    QString buildFolder() const override;
    void refresh() override;

    static QString entryPath(); // $XDG_CONFIG_HOME/autostart/lomex.desktop

private:
    QString program() const;
    QString program_;
};

namespace desktopentry {
// The Exec value for an argument vector: each argument quoted where the Desktop Entry rules
// ask, '%' doubled, then escaped as a string value of the file.
QString execLine(const QStringList& arguments);
// The reverse: the argument vector of an Exec value as a reader of such files sees it.
QStringList execArguments(const QString& value);
} // namespace desktopentry

} // namespace lomex
