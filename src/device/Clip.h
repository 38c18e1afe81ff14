#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>
#include <optional>

namespace lomex {

// One entry of the clipboard history.
struct Clip {
    enum class Kind { text, link, image, file };

    QString id;             // a UUID, also the image file's name stem
    Kind kind = Kind::text;
    QString text;           // text and link; for files their paths, one a line
    QStringList filePaths;  // file
    QString imageFile;      // image: the PNG's file name inside the history folder
    QString sourceBundleID; // desktop-file id of the application that was active
    QDateTime date;
    bool pinned = false;

    bool operator==(const Clip&) const = default;

    static QString rawName(Kind kind); // "text", "link", "image", "file"
    static std::optional<Kind> kindFrom(const QString& raw);

    // One element of "clips.json".
    nlohmann::json toJson() const;
    // Nothing for an element that is not a usable clip (wrong types, unknown kind, an image
    // file name that is not a plain name inside the folder).
    static std::optional<Clip> fromJson(const nlohmann::json& j);
};

} // namespace lomex
