#include "agents/ToolActivity.h"
#include "core/JsonRead.h"
#include "agents/TextCut.h"

#include <QUrl>
#include <initializer_list>

namespace lomex {

namespace {

bool isOneOf(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* candidate : names) {
        if (name == QLatin1String(candidate))
            return true;
    }
    return false;
}

// A key counts only when its value is a non-empty text.
std::optional<QString> text(const nlohmann::json& input, const char* key)
{
    std::optional<QString> value = jsonread::text(input, key);
    if (value && value->isEmpty())
        return std::nullopt;
    return value;
}

std::optional<QString> fileName(const nlohmann::json& input, const char* key)
{
    if (auto value = text(input, key))
        return textcut::lastPathComponent(*value);
    return std::nullopt;
}

template <typename... Pickers>
std::optional<QString> firstOf(Pickers... pickers)
{
    std::optional<QString> found;
    ((found ? void() : void(found = pickers())), ...);
    return found;
}

std::optional<QString> hostOf(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (parsed.isValid() && !parsed.host().isEmpty())
        return parsed.host();
    return url;
}

std::optional<QString> chooseDetail(const QString& name, const nlohmann::json& input)
{
    auto key = [&](const char* k) { return [&input, k] { return text(input, k); }; };
    auto file = [&](const char* k) { return [&input, k] { return fileName(input, k); }; };

    if (name == QLatin1String("Bash"))
        return firstOf(key("description"), key("command"));
    if (isOneOf(name, {"Edit", "MultiEdit", "Write", "Read"}))
        return fileName(input, "file_path");
    if (name == QLatin1String("NotebookEdit"))
        return fileName(input, "notebook_path");
    if (isOneOf(name, {"Grep", "Glob"}))
        return text(input, "pattern");
    if (name == QLatin1String("LS"))
        return fileName(input, "path");
    if (name == QLatin1String("WebFetch")) {
        if (auto url = text(input, "url"))
            return hostOf(*url);
        return std::nullopt;
    }
    if (name == QLatin1String("WebSearch"))
        return text(input, "query");
    if (isOneOf(name, {"Task", "Agent"}))
        return firstOf(key("description"), key("subagent_type"));
    return firstOf(key("description"), key("command"), key("query"), file("file_path"),
                   file("target_file"), file("path"));
}

} // namespace

ToolActivity ToolActivity::make(const QString& name, const nlohmann::json& input)
{
    return ToolActivity{name, describe(name, input)};
}

std::optional<QString> ToolActivity::describe(const QString& name, const nlohmann::json& input)
{
    if (name == QLatin1String("apply_patch")) {
        const std::optional<QString> patch = firstOf([&] { return text(input, "command"); },
                                                     [&] { return text(input, "input"); },
                                                     [&] { return text(input, "patch"); });
        const std::optional<QString> files = patch ? patchFiles(patch) : std::nullopt;
        return files ? std::optional<QString>(textcut::showBidiControls(*files)) : std::nullopt;
    }
    const std::optional<QString> chosen = chooseDetail(name, input);
    if (!chosen)
        return std::nullopt;
    // A text of nothing but line breaks has no line to show; the caller then shows the tool name.
    std::optional<QString> detail = textcut::firstLineShortened(*chosen, detailLimit);
    if (!detail)
        return std::nullopt;
    // Shown in the pill, the rows and the approval heading: never in another order than it runs.
    return textcut::showBidiControls(*detail);
}

std::optional<QString> ToolActivity::patchFiles(const std::optional<QString>& patch)
{
    if (!patch)
        return std::nullopt;
    static const char* const prefixes[] = {"*** Update File: ", "*** Add File: ", "*** Delete File: "};
    QStringList files;
    for (const QString& line : textcut::splitLines(*patch)) {
        for (const char* prefix : prefixes) {
            const QLatin1String p(prefix);
            if (line.startsWith(p)) {
                files.append(textcut::lastPathComponent(line.mid(p.size())));
                break;
            }
        }
    }
    if (files.isEmpty())
        return std::nullopt;
    if (files.size() == 1)
        return files.first();
    return files.first() + QStringLiteral(" and ") + QString::number(files.size() - 1)
        + QStringLiteral(" more");
}

QString ToolActivity::symbol() const
{
    if (isOneOf(name, {"Bash", "BashOutput", "KillShell", "Shell", "run_terminal_cmd"}))
        return QStringLiteral("terminal");
    if (isOneOf(name, {"Edit", "MultiEdit", "edit_file", "search_replace", "StrReplace", "apply_patch"}))
        return QStringLiteral("pencil");
    if (name == QLatin1String("Write"))
        return QStringLiteral("square.and.pencil");
    if (isOneOf(name, {"Read", "read_file"}))
        return QStringLiteral("doc.text");
    if (name == QLatin1String("NotebookEdit"))
        return QStringLiteral("book");
    if (isOneOf(name, {"Grep", "codebase_search", "grep_search", "file_search"}))
        return QStringLiteral("magnifyingglass");
    if (isOneOf(name, {"Glob", "LS"}))
        return QStringLiteral("folder");
    if (name == QLatin1String("WebFetch"))
        return QStringLiteral("globe");
    if (isOneOf(name, {"WebSearch", "web_search"}))
        return QStringLiteral("safari");
    if (isOneOf(name, {"Task", "Agent"}))
        return QStringLiteral("person.2");
    if (isOneOf(name, {"TodoWrite", "update_plan"}))
        return QStringLiteral("checklist");
    if (name == QLatin1String("view_image"))
        return QStringLiteral("photo");
    if (name.startsWith(QLatin1String("mcp__")))
        return QStringLiteral("puzzlepiece.extension");
    return QStringLiteral("wrench.and.screwdriver");
}

QString ToolActivity::displayName() const
{
    if (!name.startsWith(QLatin1String("mcp__")))
        return name;
    const QStringList pieces = name.split(QLatin1Char('_'), Qt::SkipEmptyParts);
    if (pieces.size() < 3)
        return name;
    return pieces.at(1) + QStringLiteral(" \u00B7 ") + pieces.mid(2).join(QLatin1Char('_'));
}

QString ToolActivity::englishVerb() const
{
    if (isOneOf(name, {"Bash", "BashOutput", "Shell", "run_terminal_cmd"}))
        return QStringLiteral("Running");
    if (isOneOf(name, {"Edit", "MultiEdit", "NotebookEdit", "edit_file", "search_replace", "StrReplace",
                       "apply_patch"}))
        return QStringLiteral("Editing");
    if (isOneOf(name, {"Read", "read_file"}))
        return QStringLiteral("Reading");
    if (isOneOf(name, {"Grep", "Glob", "LS", "codebase_search", "grep_search", "file_search"}))
        return QStringLiteral("Searching");
    if (name == QLatin1String("Write"))
        return QStringLiteral("Writing");
    if (name == QLatin1String("WebFetch"))
        return QStringLiteral("Fetching");
    if (isOneOf(name, {"WebSearch", "web_search"}))
        return QStringLiteral("Researching");
    if (isOneOf(name, {"Task", "Agent"}))
        return QStringLiteral("Delegating");
    if (isOneOf(name, {"TodoWrite", "update_plan"}))
        return QStringLiteral("Planning");
    if (name == QLatin1String("view_image"))
        return QStringLiteral("Looking");
    return QStringLiteral("Using ") + displayName();
}

} // namespace lomex
