#pragma once

namespace lomex::accessibility {

// Whether this session lets Lomex type into other applications (direct paste, replies typed
// into a terminal): an X11 display with the XTEST extension. There is nothing to ask the user
// for: a session either has it or not.
bool isTrusted();

} // namespace lomex::accessibility
