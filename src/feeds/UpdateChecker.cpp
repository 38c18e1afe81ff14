#include "feeds/UpdateChecker.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "feeds/Endpoints.h"
#include "feeds/FeedText.h"
#include "feeds/JsonFields.h"
#include "platform/Workspace.h"
#include <QStringList>

namespace lomex {

namespace jf = jsonfields;

namespace {
constexpr double kFirstCheckSeconds = 20;
constexpr double kCheckEverySeconds = 24 * 3600;
constexpr qint64 kFeedMaxBytes = 256 * 1024;

qint64 component(const QString& part) {
    qint64 value = 0;
    for (QChar c : part) {
        if (!c.isDigit() || value > 1'000'000'000) break;
        value = value * 10 + c.digitValue();
    }
    return value;
}

std::optional<QString> notes(const nlohmann::json& doc, const char* key) {
    auto s = jf::string(doc, key);
    if (s) *s = feedtext::paragraph(*s, 2000);
    if (!s || s->isEmpty()) return std::nullopt;
    return s;
}
} // namespace

UpdateChecker::UpdateChecker(Clock* clock, QObject* parent, QString runningVersion)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      client_(new http::Client(clock_, this)),
      timer_(new Timer(clock_, this)),
      runningVersion_(runningVersion.isEmpty() ? currentVersion() : std::move(runningVersion)) {
    connect(timer_, &Timer::timeout, this, [this] {
        check();
        if (!timer_->isRepeating()) timer_->start(kCheckEverySeconds, true);
    });
}

UpdateChecker::~UpdateChecker() = default;

std::optional<QUrl> UpdateChecker::feedURL() { return endpoints::base(endpoints::Service::update); }

QString UpdateChecker::currentVersion() { return QStringLiteral(LOMEX_VERSION); }

int UpdateChecker::compareVersions(const QString& a, const QString& b) {
    auto parts = [](QString v) {
        v = v.trimmed();
        if (v.startsWith(QLatin1Char('v'), Qt::CaseInsensitive)) v.remove(0, 1);
        return v.split(QLatin1Char('.'));
    };
    const QStringList pa = parts(a), pb = parts(b);
    for (qsizetype i = 0; i < qMax(pa.size(), pb.size()); ++i) {
        const qint64 x = i < pa.size() ? component(pa[i]) : 0;
        const qint64 y = i < pb.size() ? component(pb[i]) : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void UpdateChecker::start() {
    if (!feedURL()) return;
    timer_->start(kFirstCheckSeconds);
}

void UpdateChecker::check() {
    const auto url = feedURL();
    if (!url) return;
    http::Request request;
    request.url = *url;
    request.maxBytes = kFeedMaxBytes;
    const quint64 ticket = checks_.begin();
    client_->get(request, this, [this, ticket](const http::Response& r) {
        if (!checks_.isCurrent(ticket)) return;
        const nlohmann::json doc = r.ok() ? jf::parse(r.body) : nlohmann::json();
        const auto version = jf::string(doc, "version");
        const auto link = jf::string(doc, "url");
        if (!version || version->trimmed().isEmpty() || !link) {
            // No answer to go by: the last check stays the last one.
            log(QStringLiteral("update check failed: ") +
                r.describe());
            return;
        }
        const QString& running = runningVersion_;
        std::optional<Release> next;
        if (compareVersions(*version, running) > 0)
            next = Release{feedtext::line(*version, 40), link->trimmed(), notes(doc, "notes_cs"), notes(doc, "notes_en")};
        lastCheck_ = clock_->now();
        if (next != available_) {
            available_ = next;
            emit availableChanged();
        }
        emit lastCheckChanged();
    });
}

void UpdateChecker::openDownload() {
    if (!available_) return;
    const QUrl url(available_->url, QUrl::StrictMode);
    // The feed names the page; only an https page is opened, never a file or another scheme.
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) return;
    Workspace::current()->open(url);
}

} // namespace lomex
