#pragma once

namespace lomex {

// Synthetic key presses that paste into the active window. On X11 this needs the XTEST
// extension; "trusted" means the display offers it (the counterpart of an accessibility
// grant: no prompt exists, the session either allows it or not).
class PasteKeys {
public:
    virtual ~PasteKeys() = default;
    virtual bool trusted() const = 0;
    // Presses and releases Ctrl+V; false when it could not be sent.
    virtual bool sendPaste() = 0;

    static PasteKeys* current();
    static void setCurrent(PasteKeys* keys); // nullptr restores the X11 layer
};

// Ctrl+V through the desktop automation layer (XTEST on the X server in $DISPLAY).
class X11PasteKeys : public PasteKeys {
public:
    bool trusted() const override;
    bool sendPaste() override;
};

} // namespace lomex
