#pragma once
// Reading the CLIPBOARD selection over a connection of one's own (the desktop automation's
// snapshot, the clipboard history's reads). Internal to src/platform.
#include "platform/XcbSupport.h"
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace lomex::xcbsupport {

// One connection to $DISPLAY with a 1x1 input-only window that asks for selections and receives
// the answers. Not thread-safe: one thread uses it at a time. The connection is closed by close()
// (or by whoever took conn over), not by the destructor.
class SelectionClient {
public:
    struct Data {
        QByteArray type; // atom name of the data's type
        int format = 8;  // 8, 16 or 32
        QByteArray data;
    };

    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    xcb_window_t window = 0;
    // Events that arrive while waiting and are not the awaited one.
    std::function<void(xcb_generic_event_t*)> dispatch;
    // Once set (from any thread), every wait ends soon as if its time were up, and a transfer
    // given up is not taken to its end.
    std::shared_ptr<const std::atomic<bool>> cancel;
    bool cancelled() const { return cancel && cancel->load(); }

    bool ok() const { return conn && window; }
    // Connects to $DISPLAY and makes the window; false without a display.
    bool open();
    void close();
    void flush() { xcb_flush(conn); }

    xcb_atom_t atom(const QByteArray& name);
    QByteArray atomName(xcb_atom_t atom);
    xcb_window_t owner(xcb_atom_t selection);

    // Waits for an event that `match` accepts, handing others to dispatch, until the deadline.
    Reply<xcb_generic_event_t> waitFor(const std::function<bool(xcb_generic_event_t*)>& match,
                                       const QElapsedTimer& clock, int budgetMs);

    // Converts the CLIPBOARD to `target` and reads the result, following the incremental
    // protocol. The size is looked at before the data: more than maxBytes (announced or sent)
    // is refused without being read. Nothing when the owner refused or was too slow. A refused
    // or late incremental transfer is still ended the way its owner expects, which may take
    // up to maxDrainMs past the budget.
    std::optional<Data> fetch(xcb_atom_t target, qint64 maxBytes, const QElapsedTimer& clock, int budgetMs);
    // The same, handing the data to `sink` piece by piece as it arrives instead of gathering it
    // (the result's data stays empty). A sink that returns false refuses the rest, as if it
    // were too large; after a refusal or a failure the pieces it took are not the whole.
    using Sink = std::function<bool(const QByteArray& piece)>;
    std::optional<Data> fetch(xcb_atom_t target, qint64 maxBytes, const QElapsedTimer& clock, int budgetMs,
                              const Sink& sink);
    static constexpr int maxDrainMs = 2000;
    // How often a wait looks at cancel.
    static constexpr int cancelCheckMs = 50;

    // The CLIPBOARD's offered targets by name, in the owner's order; empty when none could be read.
    QList<QByteArray> targets(const QElapsedTimer& clock, int budgetMs);

private:
    // The property's value of `bytes` bytes, deleted as it is read.
    std::optional<Data> value(xcb_atom_t property, uint32_t bytes);
    // The pieces of an incremental transfer, after its INCR property was deleted.
    std::optional<Data> fetchPieces(xcb_atom_t property, qint64 announced, qint64 maxBytes,
                                    const QElapsedTimer& clock, int budgetMs, const Sink& sink);

    QHash<QByteArray, xcb_atom_t> atoms_;
};

} // namespace lomex::xcbsupport
