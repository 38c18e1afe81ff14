#pragma once
#include <QString>
#include <optional>

namespace lomex::APIErrorText {

// One line for an agent's API error: the label of the code ("API error" when unknown), then
// " · " and the first line of the details or else the message, when either has text.
// The labels are English in both languages.
QString describe(const std::optional<QString>& code, const std::optional<QString>& details,
                 const std::optional<QString>& message);

} // namespace lomex::APIErrorText
