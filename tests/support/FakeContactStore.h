#pragma once
#include "platform/ContactStore.h"
#include <atomic>
#include <functional>

namespace lomex {

// Contacts in memory, for tests.
class FakeContactStore : public ContactStore {
public:
    bool access = true;
    bool grantOnRequest = true;
    bool failAfter = false; // report a failed enumeration after the listed contacts
    int accessRequests = 0;
    QList<Contact> list;
    mutable std::atomic<int> reads{0};
    // Runs at the start of every read, on the reading thread (tests hold a scan with it).
    std::function<void()> onRead;

    bool hasAccess() const override { return access; }
    void requestAccess() override {
        ++accessRequests;
        if (grantOnRequest) access = true;
    }
    QString location() const override { return QStringLiteral("/fake/contacts"); }
    QList<Contact> contacts(bool* failed = nullptr) const override {
        ++reads;
        if (onRead) onRead();
        if (failed) *failed = failAfter;
        return list;
    }
};

} // namespace lomex
