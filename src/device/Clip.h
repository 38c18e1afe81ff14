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
    QString text;           // text and link; for files their paths, one a line. A long text
                            // is kept in textFile and this holds its head only.
    QStringList filePaths;  // file
    QString imageFile;      // image: the image file's name inside the history folder
    QString textFile;       // a long text: the file inside the history folder holding it whole
    QByteArray digest;      // hex SHA-256 of a long text's UTF-8 or of an image's pixels
    qint64 size = 0;        // bytes of the image file or the text file
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
