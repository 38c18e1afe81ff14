#pragma once
#include <QList>
#include <QString>
#include <QtGlobal>

namespace lomex {

// A transient notice shown by the closed notch (battery charging or low, a device such as
// headphones connecting). Raised through NotchModel::show(notice), which also clears it.
struct Notice {
    // One battery of a device: label "L", "R", "C" or empty, percent from 1 to 100.
    struct Battery {
        QString label;
        int percent = 1;
        bool operator==(const Battery&) const = default;
    };

    enum class Kind { charging, lowBattery, device };

    Kind kind = Kind::charging;
    int percent = 0;          // charging and lowBattery
    QString name;             // device
    QString symbol;           // device: symbol name of the device's icon
    QList<Battery> batteries; // device

    static Notice charging(int percent) {
        Notice n;
        n.kind = Kind::charging;
        n.percent = qBound(0, percent, 100);
        return n;
    }
    static Notice lowBattery(int percent) {
        Notice n;
        n.kind = Kind::lowBattery;
        n.percent = qBound(0, percent, 100);
        return n;
    }
    static Notice device(QString name, QString symbol, QList<Battery> batteries) {
        Notice n;
        n.kind = Kind::device;
        n.name = std::move(name);
        n.symbol = std::move(symbol);
        for (auto& b : batteries) b.percent = qBound(1, b.percent, 100);
        n.batteries = std::move(batteries);
        return n;
    }

    // How long the notch shows it.
    double seconds() const { return kind == Kind::lowBattery ? 6.0 : 4.0; }

    bool operator==(const Notice&) const = default;
};

} // namespace lomex
