#include "FeedsTestSupport.h"
#include "feeds/UpdateChecker.h"
#include "platform/Workspace.h"
#include "FakeWorkspace.h"

using namespace lomex;
using namespace lomex::test;

TEST(UpdateVersions, CompareNumericallyByComponent) {
    const std::vector<std::tuple<const char*, const char*, int>> cases = {
        {"1.10", "1.9", 1},  {"1.9", "1.10", -1}, {"0.1.0", "0.1", 0},   {"v2.0", "1.99.99", 1},
        {"1.2.3", "1.2.3", 0}, {"1.2.10-beta", "1.2.9", 1}, {"", "0.0.1", -1}, {"10", "9.9.9", 1},
    };
    for (const auto& [a, b, expected] : cases) EXPECT_EQ(UpdateChecker::compareVersions(a, b), expected) << a << " vs " << b;
}

class UpdateTest : public FeedsTest {
protected:
    void useFeed(const QByteArray& body, int status = 200) {
        server.route("GET", "/feed.json", json(body, status));
        endpoints::setOverride(endpoints::Service::update, QUrl(server.baseUrl() + "/feed.json"));
    }
    void checkAndWait() {
        const int before = updates.client()->finished();
        updates.check();
        ASSERT_TRUE(waitUntil([&] { return updates.client()->finished() == before + 1; }));
    }
    UpdateChecker updates{&clock, nullptr, "1.9.0"};
};

TEST_F(UpdateTest, WithoutAFeedNothingIsAsked) {
    EXPECT_FALSE(UpdateChecker::feedURL());
    updates.start();
    updates.check();
    clock.advance(3 * 24 * 3600);
    EXPECT_EQ(updates.client()->started(), 0);
    EXPECT_EQ(clock.pendingTimers(), 0);
}

TEST_F(UpdateTest, FirstCheckAfterTwentySecondsThenDaily) {
    useFeed(R"({"version":"0.0.1","url":"https://lomex.example/dl"})");
    updates.start();
    clock.advance(19.9);
    EXPECT_EQ(updates.client()->started(), 0);
    clock.advance(0.1);
    EXPECT_EQ(updates.client()->started(), 1);
    clock.advance(24 * 3600 - 1);
    EXPECT_EQ(updates.client()->started(), 1);
    clock.advance(1);
    EXPECT_EQ(updates.client()->started(), 2);
    clock.advance(24 * 3600);
    EXPECT_EQ(updates.client()->started(), 3);
}

TEST_F(UpdateTest, NewerReleaseAndLastCheckOnlyOnSuccess) {
    useFeed(R"({"version":"1.10.0","url":"https://lomex.example/dl/1.10","notes_cs":"Opravy\u202e chyb","notes_en":""})");
    checkAndWait();
    ASSERT_TRUE(updates.available());
    EXPECT_EQ(updates.available()->version, "1.10.0");
    EXPECT_EQ(updates.available()->notes_cs, "Opravy chyb");
    EXPECT_FALSE(updates.available()->notes_en);
    EXPECT_EQ(updates.lastCheck(), clock.now());

    const QDateTime firstCheck = clock.now();
    clock.advance(60);
    for (auto [body, status] : std::vector<std::pair<QByteArray, int>>{{"{}", 500}, {"<html>", 200}, {R"({"version":3})", 200}}) {
        useFeed(body, status);
        checkAndWait();
        EXPECT_EQ(updates.lastCheck(), firstCheck) << body.constData();
        EXPECT_TRUE(updates.available()) << "a failed check keeps what was known";
    }
    useFeed(R"({"version":"1.9","url":"https://lomex.example/dl"})");
    checkAndWait();
    EXPECT_FALSE(updates.available());
    EXPECT_EQ(updates.lastCheck(), clock.now());
}

TEST_F(UpdateTest, DownloadOpensHttpsPagesOnly) {
    FakeWorkspace workspace;
    Workspace::setCurrent(&workspace);
    auto& opened = workspace.opened;
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://lomex.example/dl", true},  {"http://lomex.example/dl", false},
        {"file:///etc/passwd", false},       {"javascript:alert(1)", false},
        {"https://", false},                 {"smb://host/share", false},
    };
    updates.openDownload();
    EXPECT_TRUE(opened.isEmpty()) << "nothing available";
    for (const auto& [url, opens] : cases) {
        opened.clear();
        useFeed(QByteArray(R"({"version":"2.0","url":")") + url + "\"}");
        checkAndWait();
        updates.openDownload();
        EXPECT_EQ(opened.size(), opens ? 1 : 0) << url;
    }
    Workspace::setCurrent(nullptr);
}
