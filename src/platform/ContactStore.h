#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace lomex {

class Clock;
class FolderWatch;

// A birthday as an address book keeps it: month and day, the year only when it is known.
struct Birthday {
    std::optional<int> year;
    int month = 0;
    int day = 0;
    bool operator==(const Birthday&) const = default;
};

struct Contact {
    QString givenName;
    QString familyName;
    QString fullName; // FN
    QString nickname;
    std::optional<Birthday> birthday;
    bool operator==(const Contact&) const = default;
};

// The user's contacts (the macOS contacts store's place on Linux). One interface: a vdir of
// .vcf files, or a fake in memory for tests. Access and requests on the GUI thread;
// contacts() may run on any thread.
class ContactStore : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool hasAccess() const = 0;
    virtual void requestAccess() = 0;
    virtual QString location() const = 0;
    // Every contact, in the store's order. failed is set when reading stopped early; the contacts
    // read until then are returned.
    virtual QList<Contact> contacts(bool* failed = nullptr) const = 0;

    static ContactStore* current();
    static void setCurrent(ContactStore* store); // nullptr restores the vdir store

Q_SIGNALS:
    void changed();
};

// .vcf files in the root folder and in its address-book subfolders (the layout sync tools keep).
// Regular files only, each at most maxFileBytes; at most maxFiles are read, and at most maxCards
// cards in all (one file may hold a whole address book, and may be linked many times over).
class VdirContactStore : public ContactStore {
    Q_OBJECT
public:
    static constexpr qint64 maxFileBytes = 4 << 20;
    static constexpr int maxFiles = 20000;
    static constexpr int maxCards = 50000;
    // A card with a large photo is still read; one larger than this is skipped.
    static constexpr qint64 maxCardBytes = 1 << 20;

    explicit VdirContactStore(QString root = defaultRoot(), Clock* clock = nullptr, QObject* parent = nullptr);
    // $LOMEX_CONTACTS_DIR, else $XDG_DATA_HOME/Lomex/contacts.
    static QString defaultRoot();

    bool hasAccess() const override;
    void requestAccess() override;
    QString location() const override { return root_; }
    QList<Contact> contacts(bool* failed = nullptr) const override;

private:
    void watchFolders();

    QString root_;
    FolderWatch* watch_;
};

namespace vcard {
// Every vCard (2.1, 3.0, 4.0) of a file's text: folded lines, quoted-printable values with soft
// line breaks, CHARSET parameters, escaped text; N, FN, NICKNAME and BDAY with or without a year.
// A year that is only a placeholder (Apple's X-APPLE-OMIT-YEAR, or before 1901) counts as unknown.
// At most maxCards are returned; cards longer than maxCardBytes are skipped and counted in tooLarge.
QList<Contact> read(const QByteArray& data, int maxCards = VdirContactStore::maxCards,
                    qint64 maxCardBytes = VdirContactStore::maxCardBytes, int* tooLarge = nullptr);
// One BDAY value; nullopt when it is not a date.
std::optional<Birthday> birthday(const QString& value, const std::optional<int>& omittedYear = std::nullopt);
} // namespace vcard

} // namespace lomex
