#pragma once
// Owning and serving the CLIPBOARD selection on a connection of one's own: whole when the data
// fits one piece, else in pieces by the incremental protocol (ICCCM 2.7.2), to any number of
// requestors at once. Internal to src/platform.
#include "platform/DesktopAutomation.h"
#include "platform/XcbSelection.h"
#include <QElapsedTimer>
#include <atomic>
#include <mutex>
#include <vector>

namespace lomex::xcbsupport {

// Used by one thread, the one that reads its connection's events; offered() and fetched may be
// read from any.
class SelectionOwner : public SelectionClient {
public:
    // Data larger than this (or than one request of the server, when that is smaller) goes in
    // pieces of this size; data held in a file is read one piece at a time.
    static constexpr qint64 pieceBytes = 4 << 20;
    // A requestor that takes no piece for this long went away or hangs: its transfer is ended.
    static constexpr int stallMs = 5000;

    SelectionOwner();

    // Takes the CLIPBOARD with this content (an empty one gives it up) and resets fetched.
    // Transfers already under way go on with what they were asked for.
    void own(const ClipboardSnapshot& content);
    ClipboardSnapshot offered() const;
    // Serves what has arrived.
    void drain();
    // Ends the transfers whose requestor has been silent for stallMs; the number left.
    int expire();
    int transfers() const { return int(transfers_.size()); }

    // Another program fetched data (not only the targets) since the last own().
    std::atomic<bool> fetched{false};

private:
    struct Transfer {
        xcb_window_t requestor = 0;
        xcb_atom_t property = 0;
        xcb_atom_t type = 0;
        int format = 8;
        ClipboardData data;
        qint64 sent = 0;
        qint64 lastMs = 0; // when the requestor last took a piece
    };

    void handle(xcb_generic_event_t* ev);
    void serve(const xcb_selection_request_event_t* req);
    // Serves the item's data to the requestor's property; false when it is refused.
    bool serveData(const ClipboardSnapshot::Item& item, xcb_window_t requestor, xcb_atom_t property);
    // The requestor deleted the last piece: the next one, or the empty one that ends it; its size.
    qint64 sendNext(Transfer& t);
    void end(std::size_t index);
    qint64 pieceSize();

    mutable std::mutex lock_; // offered_ is read from other threads
    ClipboardSnapshot offered_;
    std::vector<Transfer> transfers_;
    QElapsedTimer clock_;
    qint64 pieceSize_ = 0;
};

} // namespace lomex::xcbsupport
