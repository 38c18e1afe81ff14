#include "device/Clip.h"

namespace lomex {

namespace {
QString str(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
}

// A name made by us is "<uuid>.png"; anything with a path separator or a leading dot could
// point outside the folder, and clearing the history deletes the named file.
bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.startsWith(QLatin1Char('.'));
}
} // namespace

QString Clip::rawName(Kind kind) {
    switch (kind) {
    case Kind::text: return QStringLiteral("text");
    case Kind::link: return QStringLiteral("link");
    case Kind::image: return QStringLiteral("image");
    case Kind::file: return QStringLiteral("file");
    }
    return {};
}

std::optional<Clip::Kind> Clip::kindFrom(const QString& raw) {
    for (Kind k : {Kind::text, Kind::link, Kind::image, Kind::file})
        if (rawName(k) == raw) return k;
    return std::nullopt;
}

nlohmann::json Clip::toJson() const {
    nlohmann::json j = {
        {"id", id.toStdString()},
        {"kind", rawName(kind).toStdString()},
        {"text", text.toStdString()},
        {"date", date.toUTC().toString(Qt::ISODateWithMs).toStdString()},
        {"pinned", pinned},
    };
    if (!filePaths.isEmpty()) {
        nlohmann::json paths = nlohmann::json::array();
        for (const QString& p : filePaths) paths.push_back(p.toStdString());
        j["filePaths"] = std::move(paths);
    }
    if (!imageFile.isEmpty()) j["imageFile"] = imageFile.toStdString();
    if (!textFile.isEmpty()) j["textFile"] = textFile.toStdString();
    if (!digest.isEmpty()) j["digest"] = digest.toStdString();
    if (size > 0) j["size"] = size;
    if (!sourceBundleID.isEmpty()) j["sourceBundleID"] = sourceBundleID.toStdString();
    return j;
}

std::optional<Clip> Clip::fromJson(const nlohmann::json& j) {
    if (!j.is_object()) return std::nullopt;
    Clip c;
    c.id = str(j, "id");
    const auto kind = kindFrom(str(j, "kind"));
    if (c.id.isEmpty() || !kind) return std::nullopt;
    c.kind = *kind;
    c.text = str(j, "text");
    c.imageFile = str(j, "imageFile");
    c.textFile = str(j, "textFile");
    c.digest = str(j, "digest").toLatin1();
    if (auto it = j.find("size"); it != j.end() && it->is_number_unsigned()) c.size = it->get<qint64>();
    c.sourceBundleID = str(j, "sourceBundleID");
    c.date = QDateTime::fromString(str(j, "date"), Qt::ISODateWithMs);
    if (auto it = j.find("pinned"); it != j.end() && it->is_boolean()) c.pinned = it->get<bool>();
    if (auto it = j.find("filePaths"); it != j.end() && it->is_array())
        for (const auto& p : *it)
            if (p.is_string()) c.filePaths.append(QString::fromStdString(p.get<std::string>()));
    switch (c.kind) {
    case Kind::image:
        if (!isPlainFileName(c.imageFile)) return std::nullopt;
        c.textFile.clear();
        break;
    case Kind::file:
        if (c.filePaths.isEmpty()) return std::nullopt;
        c.imageFile.clear();
        c.textFile.clear();
        break;
    case Kind::text:
    case Kind::link:
        if (c.text.isEmpty()) return std::nullopt;
        if (!c.textFile.isEmpty() && !isPlainFileName(c.textFile)) return std::nullopt;
        c.imageFile.clear();
        break;
    }
    return c;
}

} // namespace lomex
