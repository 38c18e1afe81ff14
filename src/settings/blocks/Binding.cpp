#include "settings/blocks/Binding.h"
#include "core/Settings.h"
#include <QVariant>

namespace lomex {

QByteArray boundKeyProperty(const QString& key) { return "lomexSetting:" + key.toUtf8(); }

template <class T>
Binding<T> setting(const Key<T>& key) {
    return {[key] { return Settings::shared().get(key); }, [key](const T& v) { Settings::shared().set(key, v); }, key};
}
template Binding<bool> setting(const Key<bool>&);
template Binding<int> setting(const Key<int>&);
template Binding<double> setting(const Key<double>&);
template Binding<QString> setting(const Key<QString>&);

void whenSettingChanges(QObject* context, AnyKey key, std::function<void()> fn) {
    context->setProperty(boundKeyProperty(key.name()).constData(), true);
    QObject::connect(&Settings::shared(), &Settings::changed, context,
                     [key, fn = std::move(fn)](const QString& changed) {
                         if (changed == key) fn();
                     });
}

void whenSettingChanges(QObject* context, const std::optional<AnyKey>& key, std::function<void()> fn) {
    if (key) whenSettingChanges(context, *key, std::move(fn));
}

} // namespace lomex
