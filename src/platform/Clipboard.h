#pragma once
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>

class QMimeData;

namespace lomex {

// What the clipboard holds, as far as Lomex reads or writes it.
struct ClipboardContent {
    QString text;
    QImage image;
    QList<QUrl> urls;
    // The owner asked clipboard managers not to keep it: a password manager's secret
    // ("x-kde-passwordManagerHint" = "secret", or a concealed type) or a transient copy.
    bool secret = false;
    bool transient = false;
    // Put there by the clipboard history itself (pasting a clip), so it is not a new clip;
    // carried as the MIME format "application/x-lomex-clip".
    bool fromHistory = false;

    bool isEmpty() const { return text.isEmpty() && image.isNull() && urls.isEmpty(); }
};

// The desktop clipboard (not the primary selection). Every other program can write it, so
// its content is untrusted; the caller bounds what it keeps.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Grows by at least one whenever the clipboard's content changes, by anyone.
    virtual quint64 changeCount() const = 0;
    virtual ClipboardContent read() const = 0;
    // Replaces the whole content.
    virtual void write(const ClipboardContent& content) = 0;
    void setText(const QString& text) {
        ClipboardContent c;
        c.text = text;
        write(c);
    }

    // The layer used when none is handed in: the desktop one unless a test installed another.
    static Clipboard* current();
    static void setCurrent(Clipboard* clipboard); // nullptr restores the desktop layer
};

// Over QClipboard (the X11 CLIPBOARD selection); needs a QGuiApplication.
class QtClipboard : public Clipboard {
public:
    QtClipboard();
    quint64 changeCount() const override { return changes_; }
    ClipboardContent read() const override;
    void write(const ClipboardContent& content) override;

private:
    quint64 changes_ = 0;
};

// An in-memory clipboard for tests.
class FakeClipboard : public Clipboard {
public:
    ClipboardContent content;
    quint64 changes = 0;
    int writes = 0;

    quint64 changeCount() const override { return changes; }
    ClipboardContent read() const override { return content; }
    void write(const ClipboardContent& c) override {
        content = c;
        ++changes;
        ++writes;
    }
    // Another program copying.
    void copy(const ClipboardContent& c) {
        content = c;
        ++changes;
    }
};

namespace clipboard {
// Reads a MIME bundle: text, image, URLs and the secret and transient markers.
ClipboardContent contentFrom(const QMimeData& data);
// The MIME bundle for a content (text, PNG image, URI list).
QMimeData* mimeDataFor(const ClipboardContent& content);
} // namespace clipboard

} // namespace lomex
