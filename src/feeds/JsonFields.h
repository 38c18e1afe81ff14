#pragma once
#include <QByteArray>
#include <QString>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

// Typed reads of outside JSON: a missing or wrongly typed member counts as absent.
namespace lomex::jsonfields {

inline const nlohmann::json* member(const nlohmann::json& j, const char* key) {
    if (!j.is_object()) return nullptr;
    auto it = j.find(key);
    return it == j.end() ? nullptr : &*it;
}

inline std::optional<QString> string(const nlohmann::json& j, const char* key) {
    const auto* v = member(j, key);
    if (!v || !v->is_string()) return std::nullopt;
    return QString::fromStdString(v->get<std::string>());
}

inline std::optional<double> number(const nlohmann::json& j, const char* key) {
    const auto* v = member(j, key);
    if (!v || !v->is_number()) return std::nullopt;
    const double d = v->get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

inline std::optional<bool> boolean(const nlohmann::json& j, const char* key) {
    const auto* v = member(j, key);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

inline const nlohmann::json& object(const nlohmann::json& j, const char* key) {
    static const nlohmann::json empty = nlohmann::json::object();
    const auto* v = member(j, key);
    return v && v->is_object() ? *v : empty;
}

// Parses bytes without exceptions; a discarded (invalid) value on failure.
inline nlohmann::json parse(const QByteArray& bytes) {
    return nlohmann::json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
}

} // namespace lomex::jsonfields
