#include "CalendarTestSupport.h"
#include "calendar/Calendar.h"
#include "calendar/ContactsService.h"
#include "core/Clock.h"
#include "platform/ContactStore.h"
#include "platform/Workspace.h"
#include "FakeClock.h"
#include "FakeContactStore.h"
#include "FakeWorkspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace lomex;
using test::prague;
using Kind = ContactsService::Occasion::Kind;

namespace {

Contact person(const QString& given, const QString& family, std::optional<Birthday> birthday = std::nullopt) {
    Contact c;
    c.givenName = given;
    c.familyName = family;
    c.birthday = birthday;
    return c;
}

QStringList describe(const QList<ContactsService::Occasion>& occasions) {
    QStringList out;
    for (const auto& o : occasions)
        out << QStringLiteral("%1 %2 %3%4")
                   .arg(o.date.toTimeZone(QTimeZone("Europe/Prague")).toString("d.M.yyyy"),
                        o.kind == Kind::birthday ? "birthday" : "name day", o.name,
                        o.age ? QStringLiteral(" (%1)").arg(*o.age) : QString());
    return out;
}

QList<Contact> fixtureContacts() {
    QList<Contact> out;
    const QDir dir(test::fixtures("contacts"));
    for (const QString& name : dir.entryList({"*.vcf"}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        out += vcard::read(f.readAll());
    }
    return out;
}

class ContactsTest : public test::LomexTest {
protected:
    QList<ContactsService::Occasion> at(const QList<Contact>& contacts, const QDateTime& now) {
        return ContactsService::compute(contacts, now, Calendar::current());
    }
    test::ZoneScope zone{"Europe/Prague"};
};

TEST_F(ContactsTest, FixtureWeekInTheShapesAddressBooksWrite) {
    // Monday 22 March 2027: the window runs to Monday 29 March; no name day of those days
    // belongs to any of these contacts. Anniversaries inside the window are not birthdays;
    // the birthdays of 21 and 30 March and of 29 February fall outside.
    EXPECT_EQ(describe(at(fixtureContacts(), prague(2027, 3, 22, 8))),
              (QStringList{
                  "22.3.2027 birthday Ondřej Kratochvíl (48)", // Evolution 3.0, the window's first day
                  "23.3.2027 birthday Blanka Šimková",         // Apple's year-less 1604
                  "24.3.2027 birthday Vojtěch Holub",          // vCard 4.0 --0324
                  "25.3.2027 birthday Veronika Malá (36)",     // iOS BDAY;value=date
                  "26.3.2027 birthday Čeněk Žďárský (44)",     // Android 2.1 quoted-printable
                  "27.3.2027 birthday Ivana Benešová (28)",    // a date and its text alternative
                  "28.3.2027 birthday Libor Kopecký (61)",     // the day summer time begins
                  "29.3.2027 birthday Jitka Marešová (51)",    // the window's last day
              }));
}

TEST_F(ContactsTest, NameDaysAndBirthdaysAcrossNewYear) {
    const QList<Contact> contacts = {
        person("Silvestr", "Novotný"),
        person("KARINA", "Malá"),
        person("diana", ""),                                    // 4 January: offset 7, inside
        person("Dalimil", "Ryba"),                              // 5 January: offset 8, outside
        person("Jan Petr", "Dvojí"),                            // two words never match
        person("", "Jen Příjmení", Birthday{1990, 1, 1}),       // a birthday but no name day
        person("", "", Birthday{1990, 12, 30}),                 // nobody: nothing
        person("Nový", "Rok", Birthday{2000, 1, 1}),
        person("Budoucí", "Rok", Birthday{2030, 12, 31}),       // a year after the day: no age
        person("David", "Zítra", Birthday{1980, 12, 28}),
    };
    EXPECT_EQ(describe(at(contacts, prague(2026, 12, 28, 23, 59))),
              (QStringList{
                  "28.12.2026 birthday David Zítra (46)",
                  "30.12.2026 name day David Zítra",
                  "31.12.2026 birthday Budoucí Rok",
                  "31.12.2026 name day Silvestr Novotný",
                  "1.1.2027 birthday Jen Příjmení (37)",
                  "1.1.2027 birthday Nový Rok (27)",
                  "2.1.2027 name day KARINA Malá",
                  "4.1.2027 name day diana",
              }));
}

TEST_F(ContactsTest, LeapDayBirthdaysAndDiacritics) {
    const QList<Contact> contacts = {
        person("Zuzana", "Krejčí", Birthday{2000, 2, 29}),
        person("jiri", "Malý"),
        person("JIŘÍ", "Velký"),
        person("Petr", "Kolář"),
        person("Zdeněk", "Hájek", Birthday{1970, 4, 24}),
        person("Adam", "Bílý", Birthday{std::nullopt, 4, 25}),
    };
    EXPECT_EQ(describe(at(contacts, prague(2028, 2, 25, 12))), QStringList{"29.2.2028 birthday Zuzana Krejčí (28)"});
    EXPECT_TRUE(at(contacts, prague(2027, 2, 25, 12)).isEmpty());
    // 24 April: Jiří's name day; a birthday comes first, then name days in name order.
    EXPECT_EQ(describe(at(contacts, prague(2027, 4, 24, 7))),
              (QStringList{"24.4.2027 birthday Zdeněk Hájek (57)", "24.4.2027 name day JIŘÍ Velký",
                           "24.4.2027 name day jiri Malý", "25.4.2027 birthday Adam Bílý"}));
    // 29 June names two: Petr and Pavel.
    EXPECT_EQ(describe(at(contacts, prague(2027, 6, 29, 7))), QStringList{"29.6.2027 name day Petr Kolář"});
}

TEST(VCard, BirthdayValues) {
    const struct {
        const char* value;
        std::optional<int> omitted;
        std::optional<Birthday> expected;
    } rows[] = {
        {"1979-03-22", {}, Birthday{1979, 3, 22}},
        {"19860330", {}, Birthday{1986, 3, 30}},
        {"1991-03-25T00:00:00Z", {}, Birthday{1991, 3, 25}},
        {"--0324", {}, Birthday{std::nullopt, 3, 24}},
        {"--03-24", {}, Birthday{std::nullopt, 3, 24}},
        {"1604-03-23", 1604, Birthday{std::nullopt, 3, 23}},
        {"1900-05-01", {}, Birthday{std::nullopt, 5, 1}}, // a placeholder year
        {"--0229", {}, Birthday{std::nullopt, 2, 29}},
        {"2001-02-29", {}, std::nullopt},
        {"1980-04-31", {}, std::nullopt},
        {"1980-13-01", {}, std::nullopt},
        {"circa 1980", {}, std::nullopt},
        {"", {}, std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(vcard::birthday(QString::fromLatin1(row.value), row.omitted), row.expected) << row.value;
}

TEST(VCard, EncodingsAndFolding) {
    // 2.1 quoted-printable with a soft break inside a character, a windows-1250 8-bit card,
    // a folded 3.0 card with escapes, and a card with an embedded one (ignored).
    QByteArray data =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C5=BD=C4=8F=C3=A1rsk=C3=BD;=C4=\r\n"
        "=8Cen=C4=9Bk;;;\r\nBDAY:19830326\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=windows-1250:\x8e\xef\xe1" "rsk\xfd;\xc8" "en\xec" "k\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\nVERSION:3.0\nN:Kratochv\xc3\xadl\\;ml.;O\n nd\xc5\x99" "ej;;;\nFN:Ond\xc5\x99" "ej Kratochv\xc3\xadl\\, Ph.D.\n"
        "NICKNAME:Ondra,Ond\xc5\x99" "ejek\nitem1.BDAY;VALUE=text:sometime\nBDAY:--0622\n"
        "AGENT:\nBEGIN:VCARD\nN:Other;Person;;;\nBDAY:2000-01-01\nEND:VCARD\nEND:VCARD\n";
    const QList<Contact> cards = vcard::read(data);
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0].familyName, "Žďárský");
    EXPECT_EQ(cards[0].givenName, "Čeněk");
    EXPECT_EQ(cards[0].birthday, (Birthday{1983, 3, 26}));
    EXPECT_EQ(cards[1].familyName, "Žďárský");
    EXPECT_EQ(cards[1].givenName, "Čeněk");
    EXPECT_EQ(cards[2].familyName, "Kratochvíl;ml.");
    EXPECT_EQ(cards[2].givenName, "Ondřej");
    EXPECT_EQ(cards[2].fullName, "Ondřej Kratochvíl, Ph.D.");
    EXPECT_EQ(cards[2].nickname, "Ondra");
    EXPECT_EQ(cards[2].birthday, (Birthday{std::nullopt, 6, 22}));
}

class ContactsServiceTest : public test::LomexTest {
protected:
    ContactsServiceTest() {
        store.list = {person("Ondřej", "Kratochvíl", Birthday{1979, 3, 22})};
    }
    bool published(int count) {
        return test::waitUntil([&] { return service.upcoming().size() == count; });
    }
    test::ZoneScope zone{"Europe/Prague"};
    FakeClock clock{prague(2027, 3, 22, 8)};
    FakeContactStore store;
    FakeWorkspace workspace;
    ContactsService service{&store, &clock, &workspace};
};

TEST_F(ContactsServiceTest, ScansOncePerDayUnlessForced) {
    service.start();
    ASSERT_TRUE(published(1));
    EXPECT_EQ(store.reads, 1);
    clock.advance(ContactsService::tickSeconds); // same day: no scan
    QCoreApplication::processEvents();
    EXPECT_EQ(store.reads, 1);
    emit store.changed(); // a change scans at once
    ASSERT_TRUE(test::waitUntil([&] { return store.reads == 2; }));
    clock.set(prague(2027, 3, 23, 0, 10));
    clock.advance(ContactsService::tickSeconds);
    ASSERT_TRUE(test::waitUntil([&] { return store.reads == 3; }));
}

TEST_F(ContactsServiceTest, LosingAccessEmptiesAndStopsScansUnderWay) {
    service.start();
    ASSERT_TRUE(published(1));
    QSemaphore hold, entered;
    store.onRead = [&] {
        entered.release();
        hold.acquire();
    };
    service.reload(true);
    entered.acquire(); // the scan is under way
    store.access = false;
    service.reload(false);
    EXPECT_TRUE(service.upcoming().isEmpty());
    EXPECT_FALSE(service.access());
    hold.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(service.upcoming().isEmpty());
}

TEST_F(ContactsServiceTest, AStaleScanNeverOverwritesANewerOne) {
    service.start();
    ASSERT_TRUE(published(1));
    QSemaphore hold, entered;
    int call = 0;
    store.onRead = [&] {
        if (++call == 1) {
            entered.release();
            hold.acquire(); // the first scan is slow
        }
    };
    service.reload(true); // reads one contact...
    entered.acquire();
    store.list.append(person("Emanuel", "Druhý")); // 22 March is Emanuel's day
    service.reload(true); // ...the second sees two and finishes first
    ASSERT_TRUE(published(2));
    hold.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(service.upcoming().size(), 2);
}

TEST_F(ContactsServiceTest, RequestAccessOpensTheFolderWhenRefused) {
    store.access = false;
    store.grantOnRequest = false;
    service.requestAccess();
    ASSERT_TRUE(test::waitUntil([&] { return !workspace.opened.isEmpty(); }));
    EXPECT_EQ(workspace.opened.first(), QUrl::fromLocalFile(store.location()));
    store.grantOnRequest = true;
    service.requestAccess();
    ASSERT_TRUE(published(1));
    EXPECT_TRUE(service.access());
    EXPECT_EQ(workspace.opened.size(), 1);
}

TEST(VdirContacts, ReadsFoldersRegularFilesOnly) {
    test::TempHome home;
    const QString root = home.file("contacts");
    VdirContactStore store(root);
    EXPECT_FALSE(store.hasAccess());
    store.requestAccess();
    EXPECT_TRUE(store.hasAccess());
    QDir().mkpath(root + "/book");
    // An Outlook card in windows-1250 and an Android one in UTF-8, both quoted-printable.
    QFile::copy(test::fixtures("contacts/jirina-vlckova.vcf"), root + "/jirina.vcf");
    QFile::copy(test::fixtures("contacts/cenek-zdarsky.vcf"), root + "/book/cenek.vcf");
    QDir().mkpath(root + "/dir.vcf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe.vcf").constData(), 0600), 0);
    bool failed = true;
    const QList<Contact> contacts = store.contacts(&failed);
    EXPECT_FALSE(failed);
    QStringList names;
    for (const Contact& c : contacts) names << c.givenName;
    names.sort();
    EXPECT_EQ(names, (QStringList{"Jiřina", "Čeněk"}));
}

} // namespace
