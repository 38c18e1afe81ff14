#pragma once
#include "core/FileIO.h"
#include "core/LomexError.h"
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <variant>

// Careful editing of a JSON-object file that another program (or the user, by hand) also
// writes: the agents' settings files and our own settings.json. Key order is kept
// (ordered_json), nesting is bounded before anything recurses into it, a file the user made
// read-only is refused, the old content is backed up before it is replaced, and the replace is
// atomic and keeps the file's mode and symbolic links. Every call reads the file anew.
// Every error names the file.
namespace lomex::jsonfile {

using Json = nlohmann::ordered_json;

// Copying, comparing and writing a document recurse; no real settings file nests this deep.
constexpr int maxDepth = 512;
// Settings files are small; anything bigger is not one we should rewrite.
constexpr qint64 maxFileBytes = 16 << 20;

// Whether brackets nest deeper than limit (strings are skipped). Linear, no recursion.
bool nestsDeeperThan(const QByteArray& bytes, int limit);

// The file's content as a JSON object: nothing or white space is an empty object; invalid JSON,
// nesting past maxDepth or a top level that is not an object is an error.
std::variant<Json, LomexError> parse(const QString& path, const QByteArray& bytes);

// parse() of the file; a missing file is an empty object. A file past maxBytes is an error.
std::variant<Json, LomexError> read(const QString& path, qint64 maxBytes = maxFileBytes);

// Whether the error is about what the file holds (not JSON, not an object, too deep) rather
// than about reaching it (missing rights, too large, a folder in the way).
bool isContentError(const LomexError& error);
// Whether the error is a file past the size limit (reading it, or a content that would be).
bool isTooLarge(const LomexError& error);

// Whether a file exists at path (links followed) whose owner may not write it.
bool isReadOnly(const QString& path);
// The error for such a file, naming it.
LomexError readOnlyError(const QString& path);

struct EditOptions {
    qint64 maxBytes = maxFileBytes;
    // Leave a missing file missing instead of creating it.
    bool onlyExisting = false;
    // The backup beside the file: its full name, a dot and this; empty: no backup.
    QString backupExtension;
    // Texts that mark what we wrote into the file: an old content holding one in any string
    // never replaces an existing backup, so the backup keeps the user's own last version.
    QStringList ownMarkers;
    fileio::WriteOptions write;
};

// An edit changes the object in place and returns why the file must not be rewritten
// (appended to the path in the error), or empty.
using Edit = std::function<QString(Json&)>;

// Reads the file, applies the edit and, when the content changes, backs up the old file and
// replaces it atomically; a new content past maxBytes is refused. When another program changed the file between our read and the
// replace, starts over once. No write when the edit changes nothing.
std::optional<LomexError> edit(const QString& path, const Edit& edit, const EditOptions& options = {});

// Tests only: called with the path after the new content is ready and the backup written,
// just before the file is checked for outside changes and replaced.
void setBeforeReplaceHook(std::function<void(const QString&)> hook);

} // namespace lomex::jsonfile
