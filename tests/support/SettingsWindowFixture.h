#pragma once
// A settings window over real services and fake platform layers, opened page by page.
#include "TestEnv.h"
#include "agents/AgentSwitch.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "feeds/TransitService.h"
#include "feeds/UsageMonitor.h"
#include "feeds/WeatherService.h"
#include "notch/NotchModel.h"
#include "platform/LoginItem.h"
#include "settings/SettingsNav.h"
#include "settings/SettingsView.h"
#include "settings/SetupModel.h"
#include "FakeClipboard.h"
#include "FakeClock.h"
#include "FakeLoginItem.h"
#include "FakePasteKeys.h"
#include "FakeRunningApps.h"
#include <QCoreApplication>
#include <memory>

namespace lomex::test {

class SettingsWindowFixture : public LomexTest {
protected:
    using Page = SettingsView::Page;

    void SetUp() override {
        LoginItem::setCurrent(&login);
        qputenv("PATH", home.file("bin").toUtf8()); // no agent CLI of the machine's is found
        services.model = &model;
        services.settingsNav = &nav;
        services.weather = &weather;
        services.transit = &transit;
        services.usage = &usage;
        services.setup = &setup;
        services.agentSwitch = &agentSwitch;
        services.clipboard = &clipboard;
    }
    void TearDown() override {
        view.reset();
        LoginItem::setCurrent(nullptr);
    }
    // Shows the window on this page (made on first use) and lets it settle.
    SettingsView& open(Page page) {
        nav.setPage(page);
        if (!view) {
            view = std::make_unique<SettingsView>(services, &clock);
            view->show();
        }
        settle();
        return *view;
    }
    static void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    FakeClock clock;
    FakeLoginItem login;
    NotchModel model{&clock};
    SettingsNav nav;
    WeatherService weather{&clock, &Settings::shared()};
    TransitService transit{&clock, &Settings::shared()};
    UsageMonitor usage{&clock};
    SetupModel setup{&usage, &clock};
    AgentSwitch agentSwitch;
    FakeClipboard systemClipboard;
    FakeRunningApps apps;
    FakePasteKeys pasteKeys;
    ClipboardStore clipboard{&clock, &Settings::shared(), &systemClipboard, &apps, &pasteKeys, home.file("clips")};
    Services services;
    std::unique_ptr<SettingsView> view;
};

} // namespace lomex::test
