#include "platform/Feedback.h"
#include "core/Log.h"
#include <atomic>
#include <canberra.h>
#include <condition_variable>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <thread>

namespace lomex::feedback {

namespace {
std::atomic<int> g_haptics{0};
std::atomic<int> g_sounds{0};
std::atomic<int> g_attempts{0};
std::atomic<int> g_failures{0};
SoundPlayer* g_player = nullptr;

// Sounds asked for while others still wait are dropped past this: a burst of agent events
// should not queue a minute of chimes.
constexpr size_t kMaxQueuedSounds = 2;

// ALSA writes its own error lines to stderr (eight for each sound tried without a device) unless
// its error handler is replaced. libcanberra loads it only when it tries its ALSA backend, so
// it is reached the same way, by name: the handler is global to the one libasound of the
// process, and the library stays loaded so the handler stays set. Without ALSA, nothing to do.
void dropAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    if (auto set = reinterpret_cast<SetHandler>(::dlsym(alsa, "snd_lib_error_set_handler"))) set(&dropAlsaError);
}

// One thread owns the libcanberra context; it lives as long as the process.
class SoundThread {
public:
    static SoundThread& instance() {
        static SoundThread* thread = new SoundThread; // never destroyed: it may be mid-play at exit
        return *thread;
    }

    void enqueue(const QByteArray& eventId, const QByteArray& description) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.size() >= kMaxQueuedSounds) return;
            queue_.push_back({eventId, description});
        }
        wake_.notify_one();
    }

private:
    struct Request {
        QByteArray eventId;
        QByteArray description;
    };

    SoundThread() { std::thread([this] { run(); }).detach(); }

    void run() {
        quietAlsa();
        ca_context* context = nullptr;
        bool logged = false;
        for (;;) {
            Request request;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return !queue_.empty(); });
                request = queue_.front();
                queue_.pop_front();
            }
            int result = context ? CA_SUCCESS : ca_context_create(&context);
            if (result == CA_SUCCESS && context) {
                ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Lomex", CA_PROP_APPLICATION_ID,
                                        "cz.lomex.Lomex", nullptr);
                result = ca_context_play(context, 0, CA_PROP_EVENT_ID, request.eventId.constData(),
                                         CA_PROP_EVENT_DESCRIPTION, request.description.constData(), nullptr);
            }
            if (result != CA_SUCCESS) {
                ++g_failures;
                if (!logged) {
                    logged = true;
                    log(QStringLiteral("sounds cannot be played here (%1); they stay silent")
                            .arg(QString::fromUtf8(ca_strerror(result))));
                }
                // A context that never reached a sound server is made again next time.
                if (context && result != CA_ERROR_NOTFOUND) {
                    ca_context_destroy(context);
                    context = nullptr;
                }
            }
            ++g_attempts;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
};
} // namespace

QString soundEventId(const QString& name) {
    if (name == QLatin1String("Funk")) return QStringLiteral("message-new-instant");
    if (name == QLatin1String("Glass")) return QStringLiteral("complete");
    if (name == QLatin1String("Hero")) return QStringLiteral("alarm-clock-elapsed");
    return {};
}

void CanberraSoundPlayer::play(const QString& name) {
    const QString id = soundEventId(name);
    if (id.isEmpty()) return;
    SoundThread::instance().enqueue(id.toUtf8(), QStringLiteral("Lomex: %1").arg(name).toUtf8());
}

int CanberraSoundPlayer::attempts() { return g_attempts; }
int CanberraSoundPlayer::failures() { return g_failures; }

SoundPlayer* SoundPlayer::current() {
    static CanberraSoundPlayer desktop;
    return g_player ? g_player : &desktop;
}

void SoundPlayer::setCurrent(SoundPlayer* player) { g_player = player; }

void haptic(Haptic) {
    if (g_haptics++ == 0) log("haptic feedback is not available on this system; ignored");
}

void playSound(const QString& name) {
    ++g_sounds;
    SoundPlayer::current()->play(name);
}

int hapticCalls() { return g_haptics; }
int soundCalls() { return g_sounds; }

} // namespace lomex::feedback
