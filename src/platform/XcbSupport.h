#pragma once
// Small pieces shared by the X11 layers (running applications, desktop automation).
#include <QList>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace lomex::xcbsupport {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// A reply or event that xcb allocated.
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Caps on what another client may put into a property we read.
constexpr uint32_t maxClientWindows = 4096;

// The 32-bit items of a property, at most maxItems; none when it is missing or of another format.
inline QList<uint32_t> cardinals(xcb_connection_t* conn, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                 uint32_t maxItems)
{
    QList<uint32_t> out;
    if (property == XCB_ATOM_NONE)
        return out;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(conn, xcb_get_property(conn, 0, window, property, type, 0, maxItems), nullptr));
    if (!reply || reply->format != 32)
        return out;
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    for (int i = 0; i < count; ++i)
        out.append(values[i]);
    return out;
}

} // namespace lomex::xcbsupport
