#include "settings/blocks/Binding.h"
#include "core/Settings.h"
#include <QVariant>

namespace lomex {

QByteArray boundKeyProperty(const QString& key) { return "lomexSetting:" + key.toUtf8(); }

Binding<bool> settingBool(const QString& key, bool fallback) {
    return {[key, fallback] { return Settings::shared().boolValue(key, fallback); },
            [key](const bool& v) { Settings::shared().setBool(key, v); }, key};
}

Binding<int> settingInt(const QString& key, int fallback) {
    return {[key, fallback] { return Settings::shared().intValue(key, fallback); },
            [key](const int& v) { Settings::shared().setInt(key, v); }, key};
}

Binding<double> settingDouble(const QString& key, double fallback) {
    return {[key, fallback] { return Settings::shared().doubleValue(key, fallback); },
            [key](const double& v) { Settings::shared().setDouble(key, v); }, key};
}

Binding<QString> settingString(const QString& key, const QString& fallback) {
    return {[key, fallback] { return Settings::shared().stringValue(key, fallback); },
            [key](const QString& v) { Settings::shared().setString(key, v); }, key};
}

void whenSettingChanges(QObject* context, const QString& key, std::function<void()> fn) {
    if (key.isEmpty()) return;
    context->setProperty(boundKeyProperty(key).constData(), true);
    QObject::connect(&Settings::shared(), &Settings::changed, context,
                     [key, fn = std::move(fn)](const QString& changed) {
                         if (changed == key) fn();
                     });
}

} // namespace lomex
