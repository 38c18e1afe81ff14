#pragma once
#include "platform/Workspace.h"

namespace lomex {

// Records every call and answers with `succeeds`; for tests.
class FakeWorkspace : public Workspace {
public:
    QList<QUrl> opened;
    QStringList revealed;
    bool succeeds = true;
    int iconLookups = 0;

    bool open(const QUrl& url) override {
        opened.append(url);
        return succeeds;
    }
    bool reveal(const QString& path) override {
        revealed.append(path);
        return succeeds;
    }
    QIcon icon(const QString&) override {
        ++iconLookups;
        return {};
    }
};

} // namespace lomex
