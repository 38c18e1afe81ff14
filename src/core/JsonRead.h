#pragma once
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

// Typed reads from JSON that other programs wrote (hook payloads, transcripts): a missing key,
// a value of another type or a non-object counts as absent, and nothing throws.
namespace lomex::jsonread {

inline const nlohmann::json* member(const nlohmann::json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// The member when it is an object.
inline const nlohmann::json* object(const nlohmann::json& object, const char* key)
{
    const nlohmann::json* value = member(object, key);
    return value && value->is_object() ? value : nullptr;
}

inline std::optional<QString> text(const nlohmann::json& object, const char* key)
{
    const nlohmann::json* value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return QString::fromStdString(value->get_ref<const std::string&>());
}

// Whether the member is the text `expected`.
inline bool isText(const nlohmann::json& object, const char* key, std::string_view expected)
{
    const nlohmann::json* value = member(object, key);
    return value && value->is_string() && value->get_ref<const std::string&>() == expected;
}

inline bool isTrue(const nlohmann::json& object, const char* key)
{
    const nlohmann::json* value = member(object, key);
    return value && value->is_boolean() && value->get<bool>();
}

} // namespace lomex::jsonread
