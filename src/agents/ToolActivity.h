#pragma once
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

namespace lomex {

// One tool call of an agent: the tool's name as the hook reported it and a short detail of
// what it works on. Deterministic, so two describers of the same call get equal values.
struct ToolActivity {
    // The longest detail, in characters.
    static constexpr int detailLimit = 80;

    QString name;
    std::optional<QString> detail;

    // The name with the detail describe() makes of the hook's tool input.
    static ToolActivity make(const QString& name, const nlohmann::json& input);

    // The detail for a tool call; input is the hook's tool-input object (anything else counts
    // as an empty object). At most 80 characters for every tool but "apply_patch".
    static std::optional<QString> describe(const QString& name, const nlohmann::json& input);

    // The files a patch touches: "a.swift", or "a.swift and 2 more"; nothing without any.
    static std::optional<QString> patchFiles(const std::optional<QString>& patch);

    // Symbol name of the tool's icon (see ui/Symbols.h).
    QString symbol() const;
    // "server · tool" for an MCP tool, else the name.
    QString displayName() const;
    // The English activity phrase ("Running", "Using server · tool"); shown through AgentText::t.
    QString englishVerb() const;

    bool operator==(const ToolActivity&) const = default;
};

} // namespace lomex
