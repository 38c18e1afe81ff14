#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

namespace lomex {

// A two-way binding a control reads its value from and writes changes through. `watchKey`
// names the settings key behind it, so a control follows changes made elsewhere; empty when
// the value does not live in the settings.
template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;
    QString watchKey;
};

// Bindings to a settings key with the default the page shows while nothing is stored.
// Reading never writes: only a change made through the control stores the key.
Binding<bool> settingBool(const QString& key, bool fallback);
Binding<int> settingInt(const QString& key, int fallback);
Binding<double> settingDouble(const QString& key, double fallback);
Binding<QString> settingString(const QString& key, const QString& fallback);

// Calls fn whenever `key` changes in the shared settings, for as long as context lives, and
// marks context as showing `key` (boundKeyProperty), so a failed save of it is shown there.
void whenSettingChanges(QObject* context, const QString& key, std::function<void()> fn);
QByteArray boundKeyProperty(const QString& key);

} // namespace lomex
