#pragma once
#include "core/SettingsKeys.h"
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace lomex {

// A two-way binding a control reads its value from and writes changes through. `watchKey`
// names the settings key behind it, so a control follows changes made elsewhere; none when
// the value does not live in the settings.
template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;
    std::optional<AnyKey> watchKey;
};

// A binding to a settings key, showing the key's default while nothing is stored. Reading
// never writes: only a change made through the control stores the key.
template <class T>
Binding<T> setting(const Key<T>& key);

// Calls fn whenever `key` changes in the shared settings, for as long as context lives, and
// marks context as showing `key` (boundKeyProperty), so a failed save of it is shown there.
void whenSettingChanges(QObject* context, AnyKey key, std::function<void()> fn);
void whenSettingChanges(QObject* context, const std::optional<AnyKey>& key, std::function<void()> fn);
template <class T>
void whenSettingChanges(QObject* context, const Key<T>& key, std::function<void()> fn) {
    whenSettingChanges(context, AnyKey(key), std::move(fn));
}
QByteArray boundKeyProperty(const QString& key);

} // namespace lomex
