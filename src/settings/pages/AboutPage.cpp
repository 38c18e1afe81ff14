#include "settings/pages/AboutPage.h"
#include "ui/Symbols.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "core/L10n.h"
#include "feeds/UpdateChecker.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include "platform/Workspace.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QPainter>
#include <QVBoxLayout>

namespace lomex {

namespace {

QString t(const char* key) { return L10n::shared().t(QLatin1String(key)); }

QLabel* centred(QLabel* label) {
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

QPushButton* prominent(const QString& text, const QColor& tint) {
    return blockButton(text, ButtonKind::prominent, tint);
}

} // namespace

QString AboutPage::versionText() {
    const QString version = UpdateChecker::currentVersion();
    return version.isEmpty() ? QStringLiteral("\u2013") : version;
}

std::optional<QString> AboutPage::noticesFile() {
    QFile bundled(QStringLiteral(":/THIRD_PARTY_NOTICES"));
    if (!bundled.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray text = bundled.readAll();
    const QString path = paths::dataDir() + QStringLiteral("/THIRD_PARTY_NOTICES.md");
    if (fileio::readRegularFile(path, text.size() + 1) != text) {
        paths::ensureDir(paths::dataDir());
        // Our own copy: a link put in its place is replaced, never written through.
        if (fileio::writeAtomically(path, text, {0644, false, false})) return std::nullopt;
    }
    return path;
}

QUrl AboutPage::webPage() { return QUrl(QStringLiteral("https://lomex.cz")); }
QUrl AboutPage::privacyPage() { return QUrl(QStringLiteral("https://lomex.cz/privacy")); }

namespace {
// The application icon, drawn from its SVG at the screen's pixel ratio.
class AppIconView : public QWidget {
public:
    AppIconView(int size, QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("appIcon"));
        setFixedSize(size, size);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        symbols::appIcon().paint(&p, rect());
    }
};
} // namespace

AboutPage::AboutPage(UpdateChecker* updates, std::function<void()> openSetup, QWidget* parent)
    : SettingsPage(parent), updates_(updates), openSetup_(std::move(openSetup)) {
    auto* column = add(new QWidget);
    auto* col = new QVBoxLayout(column);
    col->setContentsMargins(0, 12, 0, 0);
    col->setSpacing(10);
    col->setAlignment(Qt::AlignHCenter);

    auto* icon = new AppIconView(96, column);
    col->addWidget(icon, 0, Qt::AlignHCenter);
    auto* name = plainLabel(QStringLiteral("Lomex"), 26, style::primary(this), column, QFont::Bold);
    name->setObjectName(QStringLiteral("name"));
    col->addWidget(name, 0, Qt::AlignHCenter);
    auto* version = plainLabel(t("about.version") + u' ' + versionText(), style::body, style::secondary(this), column);
    version->setObjectName(QStringLiteral("version"));
    col->addWidget(version, 0, Qt::AlignHCenter);
    auto* credits = centred(plainLabel(t("settings.about"), style::body, style::secondary(this), column));
    // An aligned item gets no height for its width from the layout: give the wrapped lines theirs.
    credits->setFixedWidth(380);
    credits->setFixedHeight(credits->heightForWidth(380));
    col->addWidget(credits, 0, Qt::AlignHCenter);

    auto* notices = new QPushButton(t("about.notices"), column);
    notices->setObjectName(QStringLiteral("notices"));
    notices->setFlat(true);
    notices->setCursor(Qt::PointingHandCursor);
    notices->setFont(style::font(style::caption));
    notices->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: %1; }").arg(style::accent(this).name()));
    connect(notices, &QPushButton::clicked, this, [this] {
        if (auto path = noticesFile()) openLink(QUrl::fromLocalFile(*path));
    });
    col->addWidget(notices, 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->setContentsMargins(0, 8, 0, 0);
    auto* setup = prominent(t("menu.setup"), style::accent(this));
    setup->setObjectName(QStringLiteral("setup"));
    connect(setup, &QPushButton::clicked, this, [this] {
        if (openSetup_) openSetup_();
    });
    auto* web = blockButton(t("about.web"));
    web->setObjectName(QStringLiteral("web"));
    connect(web, &QPushButton::clicked, this, [this] { openLink(webPage()); });
    auto* privacy = blockButton(t("about.privacy"));
    privacy->setObjectName(QStringLiteral("privacy"));
    connect(privacy, &QPushButton::clicked, this, [this] { openLink(privacyPage()); });
    buttons->addStretch(1);
    for (QPushButton* b : {setup, web, privacy}) buttons->addWidget(b);
    buttons->addStretch(1);
    col->addLayout(buttons);
    // A link no program could open says so here rather than only on stderr.
    linkError_ = plainLabel({}, style::caption, style::named(style::Named::red, this), column);
    linkError_->setObjectName(QStringLiteral("linkError"));
    linkError_->setWordWrap(true);
    linkError_->setAlignment(Qt::AlignHCenter);
    linkError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    linkError_->hide();
    col->addWidget(linkError_);

    // A build without an update feed makes no requests, so it offers no check either.
    if (UpdateChecker::feedURL() && updates_) {
        updateSection_ = new QWidget(column);
        updateSection_->setObjectName(QStringLiteral("updates"));
        new QVBoxLayout(updateSection_);
        col->addWidget(updateSection_);
        connect(updates_, &UpdateChecker::availableChanged, this, &AboutPage::rebuildUpdate);
        connect(updates_, &UpdateChecker::lastCheckChanged, this, &AboutPage::rebuildUpdate);
        rebuildUpdate();
    }
}

void AboutPage::openLink(const QUrl& url) {
    const bool opened = Workspace::current()->open(url);
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toString();
    linkError_->setText(opened ? QString() : L10n::shared().t(QStringLiteral("about.cannotOpen"), {shown}));
    linkError_->setVisible(!opened);
}

void AboutPage::rebuildUpdate() {
    auto* layout = static_cast<QVBoxLayout*>(updateSection_->layout());
    clearLayout(layout);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const L10n& l = L10n::shared();
    if (const auto& release = updates_->available()) {
        layout->setContentsMargins(0, 10, 0, 0);
        auto* headline = plainLabel(l.t(QStringLiteral("update.available"), {release->version}), 14,
                                    style::named(style::Named::orange, this), nullptr, QFont::DemiBold);
        headline->setObjectName(QStringLiteral("headline"));
        layout->addWidget(centred(headline));
        const auto& notes = l.isCzech() ? release->notes_cs : release->notes_en;
        if (notes) {
            auto* text = centred(plainLabel(*notes, style::callout, style::secondary(this)));
            text->setObjectName(QStringLiteral("notes"));
            layout->addWidget(text);
        }
        auto* download = prominent(l.t(QStringLiteral("update.download")), style::named(style::Named::orange, this));
        download->setObjectName(QStringLiteral("download"));
        connect(download, &QPushButton::clicked, this, [this] {
            if (updates_) updates_->openDownload();
        });
        layout->addWidget(download, 0, Qt::AlignHCenter);
        return;
    }
    layout->setContentsMargins(0, 4, 0, 0);
    auto* check = blockButton(l.t(QStringLiteral("update.check")));
    check->setObjectName(QStringLiteral("check"));
    connect(check, &QPushButton::clicked, this, [this] {
        if (updates_) updates_->check();
    });
    layout->addWidget(check, 0, Qt::AlignHCenter);
    if (const auto& last = updates_->lastCheck()) {
        const QString time = datetext::withSkeleton(*last, QStringLiteral("jm"), l.isCzech() ? "cs_CZ" : "en_US",
                                                    Calendar::current());
        auto* note = plainLabel(l.t(QStringLiteral("update.upToDate"), {time}), style::caption, style::secondary(this));
        note->setObjectName(QStringLiteral("upToDate"));
        layout->addWidget(centred(note));
    }
}

} // namespace lomex
