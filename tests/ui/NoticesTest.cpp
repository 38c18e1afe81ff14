#include "TestEnv.h"
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// The notices name every author whose code the JSON library compiles into the program, with the
// licence text. Lomex builds as C++20, so the C++11 fallback the library took from Abseil is not
// compiled; a newer library that carries more is caught here.
TEST(NoticesTest, NameEveryAuthorOfTheJsonLibraryWithItsLicence) {
    const QString notices = QString::fromUtf8(read(QStringLiteral(LOMEX_SOURCE_DIR "/resources/THIRD_PARTY_NOTICES")));
    ASSERT_FALSE(notices.isEmpty());
    EXPECT_TRUE(notices.contains(QStringLiteral("nlohmann/json")));
    EXPECT_TRUE(notices.contains(QStringLiteral("Permission is hereby granted, free of charge")));
    EXPECT_TRUE(notices.contains(QStringLiteral("ISC License")));

    static const QRegularExpression holder(QStringLiteral("SPDX-FileCopyrightText: [0-9-]+ ([^<\\n]+?)\\s*(<|\\n)"));
    static const QRegularExpression licence(QStringLiteral("SPDX-License-Identifier: (\\S+)"));
    QSet<QString> holders, licences;
    QDirIterator it(QStringLiteral(LOMEX_NLOHMANN_INCLUDE "/nlohmann"), {QStringLiteral("*.hpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString text = QString::fromUtf8(read(it.next()).left(2000));
        for (auto m = holder.globalMatch(text); m.hasNext();) holders.insert(m.next().captured(1));
        for (auto m = licence.globalMatch(text); m.hasNext();) licences.insert(m.next().captured(1));
    }
    ASSERT_FALSE(holders.isEmpty()) << "no nlohmann/json headers under " LOMEX_NLOHMANN_INCLUDE;
    holders.remove(QStringLiteral("The Abseil Authors"));
    for (const QString& name : holders) EXPECT_TRUE(notices.contains(name)) << name.toStdString();
    EXPECT_EQ(licences, QSet<QString>{QStringLiteral("MIT")});
}
