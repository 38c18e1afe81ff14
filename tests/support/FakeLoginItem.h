#pragma once
#include "platform/LoginItem.h"

namespace lomex {

// A login item held in memory; `failNext` makes the next change fail and keep the state.
class FakeLoginItem : public LoginItem {
public:
    Status state = Status::notRegistered;
    bool failNext = false;
    int calls = 0;
    QString folder; // what buildFolder() answers

    Status status() const override { return state; }
    QString buildFolder() const override { return folder; }
    std::optional<QString> registerItem() override { return change(Status::enabled); }
    std::optional<QString> unregisterItem() override { return change(Status::notRegistered); }

private:
    std::optional<QString> change(Status to) {
        ++calls;
        if (failNext) {
            failNext = false;
            return QStringLiteral("refused");
        }
        state = to;
        return std::nullopt;
    }
};

} // namespace lomex
