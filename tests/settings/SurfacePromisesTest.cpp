#include "QStringPrint.h"
#include "SettingsWindowFixture.h"
#include "calendar/ContactsService.h"
#include "calendar/EventService.h"
#include "core/L10n.h"
#include "settings/SettingsPage.h"
#include "settings/SetupWizard.h"
#include "settings/blocks/Binding.h"
#include "FakeCalendarStore.h"
#include "FakeContactStore.h"
#include <QAbstractButton>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <map>
#include <memory>

using namespace lomex;

namespace {

// Who reads each key a settings control writes, outside the settings window. Empty: nothing
// this version shows acts on it (a service may still read it for a view that does not exist),
// so its control must be disabled with the "not in this version" badge.
const std::map<QString, QString> kReaders = {
    {"liveActivity", "src/notch/LiveActivity.cpp"},
    {"hoverTabs", "src/notch/NotchModel.cpp"},
    {"hoverDelay", "src/notch/NotchModel.cpp"},
    {"displayChoice", "src/app/NotchPanel.cpp"},
    {"pillMode", "src/app/NotchPanel.cpp"},
    {"batteryNotices", "src/device/Monitors.cpp"},
    {"headphoneNotices", "src/device/Monitors.cpp"},
    {"liveEqualizer", ""},     // no now-playing view
    {"showNameDays", ""},      // no agenda view
    {"agendaDays", ""},        // read by the calendar service for an agenda no view shows
    {"contactsOccasions", ""}, // no view of occasions
    {"meetingLead", "src/calendar/EventService.cpp"},
    {"weatherEnabled", ""},    // the current weather: no view; it only gates the warnings
    {"chmiEnabled", "src/feeds/WeatherService.cpp"},
    {"leaveEnabled", "src/feeds/TransitService.cpp"},
    {"walkMinutes", "src/feeds/TransitService.cpp"},
    {"leaveLines", "src/feeds/TransitService.cpp"},
    {"golemioKey", "src/feeds/TransitService.cpp"},
    {"clipboardEnabled", "src/device/ClipboardStore.cpp"},
    {"pasteDirectly", ""},     // read by ClipboardStore::paste(), which no view calls
    {"workMinutes", ""},       // no timer view
    {"breakMinutes", ""},
    {"usageEnabled", "src/feeds/UsageMonitor.cpp"},
    {"agentApprovals", "src/agents/ApprovalCenter.cpp"},
    {"agentCelebrate", "src/app/AppDelegateAgents.cpp"},
    {"agentReminders", "src/agents/SessionStore.cpp"},
    {"agentReplyMode", "src/agents/views/ChatView.cpp"},
    {"hotkeysEnabled", ""},    // grabs keys only for a palette or a clipboard tab
};

QString source(const QString& path) {
    QFile f(QStringLiteral(LOMEX_SOURCE_DIR "/") + path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The badge that says a control acts on nothing here, on the control's row or card.
bool badged(const QWidget* w, const QWidget* top) {
    for (; w && w != top; w = w->parentWidget())
        if (w->findChild<QLabel*>(QStringLiteral("notInVersion"), Qt::FindDirectChildrenOnly)) return true;
    return false;
}

QStringList boundKeys(const QWidget* w) {
    QStringList keys;
    for (const QByteArray& name : w->dynamicPropertyNames())
        if (name.startsWith("lomexSetting:") && w->property(name.constData()).toBool())
            keys << QString::fromUtf8(name.mid(int(qstrlen("lomexSetting:"))));
    return keys;
}

class SurfacePromisesTest : public test::SettingsWindowFixture {
protected:
    void SetUp() override {
        SettingsWindowFixture::SetUp();
        contacts.reload(false); // access granted: the occasions switch is shown
        // Every tab but those with pages of this version is shown as missing.
        model.setTabsWithPages({NotchModel::Tab::agents, NotchModel::Tab::transit, NotchModel::Tab::shelf,
                                NotchModel::Tab::note});
        services.events = &events;
        services.contacts = &contacts;
    }
    QWidget* open(Page page) { return SettingsWindowFixture::open(page).currentPage(); }

    FakeCalendarStore calendarStore;
    FakeContactStore contactStore;
    EventService events{&calendarStore, &clock};
    ContactsService contacts{&contactStore, &clock};
};

} // namespace

// Every control of every page either changes something this version shows, through a reader
// outside the settings window that really reads its key, or is disabled and says so.
TEST_F(SurfacePromisesTest, EveryControlHasAReaderOrTheBadge) {
    Settings::shared().set(keys::agentsEnabled, true); // the agent rows are shown
    Settings::shared().set(keys::usageEnabled, true);
    Settings::shared().set(keys::leaveEnabled, true);
    QStringList seen;
    for (Page page : SettingsView::allPages()) {
        SCOPED_TRACE(SettingsView::rawValue(page).toStdString());
        QWidget* shown = open(page);
        for (QWidget* w : shown->findChildren<QWidget*>()) {
            // Controls only: a page also watches keys for itself.
            if (qobject_cast<SettingsPage*>(w) || !w->isVisibleTo(shown)) continue;
            for (const QString& key : boundKeys(w)) {
                SCOPED_TRACE(key.toStdString());
                seen << key;
                const auto reader = kReaders.find(key);
                ASSERT_NE(reader, kReaders.end()) << "a control for a key nobody has decided about";
                if (reader->second.isEmpty()) {
                    EXPECT_FALSE(w->isEnabled()) << "it acts on nothing this version shows";
                    EXPECT_TRUE(badged(w, shown));
                } else {
                    EXPECT_TRUE(w->isEnabled());
                    EXPECT_FALSE(badged(w, shown));
                }
            }
        }
    }
    // The table holds no stale entries, and each named reader reads its key.
    for (const auto& [key, reader] : kReaders) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_TRUE(seen.contains(key)) << "no control writes it";
        if (!reader.isEmpty()) {
            EXPECT_FALSE(reader.startsWith("src/settings/"));
            // Read through the key table (keys::name), or by its name where a file is read as JSON.
            EXPECT_TRUE(source(reader).contains("keys::" + key + QLatin1Char(')')) || source(reader).contains('"' + key + '"'))
                << reader.toStdString();
        }
    }
}

// No text the settings window or the wizard shows (outside what is marked as not in this
// version) names a view this version lacks: a footer, a Home tab, music, a timer, an agenda.
TEST_F(SurfacePromisesTest, NoShownTextNamesAMissingView) {
    const QRegularExpression missing(
        QString::fromUtf8("footer|home tab|music|timer|agenda|pati[čc]k|kart[ěe] dom|z[áa]lo[žz]ce dom|hudb|[čc]asova[čc]"),
        QRegularExpression::CaseInsensitiveOption);
    auto texts = [](const QWidget* top) {
        QStringList out;
        for (const QWidget* w : top->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(top) || badged(w, top)) continue;
            if (auto* l = qobject_cast<const QLabel*>(w)) out << l->text();
            if (auto* b = qobject_cast<const QAbstractButton*>(w)) out << b->text();
            out << w->accessibleName() << w->accessibleDescription() << w->toolTip();
        }
        return out;
    };
    Settings::shared().set(keys::agentsEnabled, true);
    Settings::shared().set(keys::usageEnabled, true);
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        view.reset();
        for (Page page : SettingsView::allPages()) {
            SCOPED_TRACE(SettingsView::rawValue(page).toStdString());
            open(page);
            for (const QString& text : texts(view.get()))
                EXPECT_FALSE(text.contains(missing)) << text.toStdString();
        }
        // The wizard, also once signed in.
        SetupWizardView wizard(services);
        wizard.show();
        for (const QString& text : texts(&wizard)) EXPECT_FALSE(text.contains(missing)) << text.toStdString();
        for (const char* key : {"setup.claude.done", "setup.claude.busy", "setup.claude.text", "setup.ax.text",
                                "setup.ax.unavailable", "setup.cal.text", "contacts.text", "settings.liveActivity",
                                "settings.usageEnabled", "display.pillDetail"})
            EXPECT_FALSE(L10n::shared().t(key).contains(missing)) << key;
    }
    // What the cards say instead.
    L10n::shared().setLanguage(AppLanguage::en);
    EXPECT_TRUE(L10n::shared().t("setup.ax.text").contains("terminal"));
    EXPECT_TRUE(L10n::shared().t("setup.ax.unavailable").contains("terminal"));
    EXPECT_TRUE(L10n::shared().t("setup.cal.text").contains("meeting"));
    EXPECT_TRUE(L10n::shared().t("settings.usageEnabled").contains("this page"));
    EXPECT_TRUE(L10n::shared().t("setup.claude.done").contains("AI limits"));
    EXPECT_TRUE(L10n::shared().t("settings.liveActivity").contains("time to leave"));
}
