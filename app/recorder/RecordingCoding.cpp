#include "app/recorder/RecordingCoding.hpp"

#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace parlino {

namespace {

void appendEscaped(std::string& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendNumber(std::string& out, double value)
{
    // A length that is no number still leaves a readable sidecar.
    if (!std::isfinite(value)) {
        value = 0;
    }
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
}

void appendKey(std::string& out, const char* key)
{
    if (out.size() > 1) {
        out += ',';
    }
    out += '"';
    out += key;
    out += "\":";
}

QString fileURLText(const std::filesystem::path& path)
{
    // Leading slashes past the first would make the URL name a network host ("//" gave "file://",
    // which names no file); on Linux they name the same file as one slash does.
    std::string text = path.string();
    const std::size_t slashes = std::min(text.find_first_not_of('/'), text.size());
    if (slashes > 1) {
        text.erase(0, slashes - 1);
    }
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const QString unicode = QString::fromUtf8(bytes);
    if (unicode.toUtf8() == bytes) {
        return QUrl::fromLocalFile(unicode).toString(QUrl::FullyEncoded);
    }
    // A name that is no UTF-8 keeps its bytes percent-encoded; Unicode text would replace them.
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

// The path's bytes as they are on disk, also where they are no UTF-8.
std::filesystem::path localFileOf(const QUrl& url)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

[[noreturn]] void fail(const std::string& why)
{
    throw RecordingDecodingError(why);
}

const nlohmann::json* member(const nlohmann::json& object, const char* key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

QString requiredString(const nlohmann::json& object, const char* key)
{
    const nlohmann::json* value = member(object, key);
    if (!value) {
        fail(std::string("missing key \"") + key + "\"");
    }
    if (!value->is_string()) {
        fail(std::string("\"") + key + "\" is not a string");
    }
    return QString::fromStdString(value->get<std::string>());
}

std::optional<QString> optionalString(const nlohmann::json& object, const char* key)
{
    if (!member(object, key)) {
        return std::nullopt;
    }
    return requiredString(object, key);
}

QDateTime requiredDate(const nlohmann::json& object, const char* key)
{
    const std::optional<QDateTime> date = dateFromISO8601(requiredString(object, key));
    if (!date) {
        fail(std::string("\"") + key + "\" is not an ISO 8601 date");
    }
    return *date;
}

} // namespace

QString iso8601Text(const QDateTime& date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> dateFromISO8601(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|[+-]\d{2}:\d{2})$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate day(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!day.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    if (const QString zone = match.captured(7); zone != QLatin1String("Z")) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone[0] == QLatin1Char('-') ? -1 : 1);
    }
    return QDateTime(day, time, QTimeZone(offsetSeconds)).toUTC();
}

QByteArray encodeRecording(const Recording& recording)
{
    std::string out = "{";
    appendKey(out, "id");
    appendEscaped(out, recording.id.toString(QUuid::WithoutBraces).toUpper());
    appendKey(out, "audioURL");
    appendEscaped(out, fileURLText(recording.audioURL));
    appendKey(out, "title");
    appendEscaped(out, recording.title);
    appendKey(out, "transcription");
    appendEscaped(out, recording.transcription);
    appendKey(out, "duration");
    appendNumber(out, recording.duration);
    appendKey(out, "date");
    appendEscaped(out, iso8601Text(recording.date));
    appendKey(out, "category");
    appendEscaped(out, recording.category.rawValue());
    if (recording.cloudKitRecordID) {
        appendKey(out, "cloudKitRecordID");
        appendEscaped(out, *recording.cloudKitRecordID);
    }
    if (recording.syncedAt) {
        appendKey(out, "syncedAt");
        appendEscaped(out, iso8601Text(*recording.syncedAt));
    }
    if (recording.deviceID) {
        appendKey(out, "deviceID");
        appendEscaped(out, *recording.deviceID);
    }
    out += '}';
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

Recording decodeRecording(const QByteArray& json)
{
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(json.begin(), json.end());
    } catch (const nlohmann::json::exception& error) {
        // Parse errors, and numbers past a double's range ("9e999"), which the parser reports apart.
        fail(std::string("not JSON: ") + error.what());
    }
    if (!object.is_object()) {
        fail("not a JSON object");
    }

    Recording recording;
    const QString idText = requiredString(object, "id");
    recording.id = QUuid::fromString(idText);
    if (idText.size() != 36 || recording.id.isNull()) {
        fail("\"id\" is not a UUID");
    }

    const QUrl url(requiredString(object, "audioURL"), QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
        fail("\"audioURL\" is not a file URL");
    }
    recording.audioURL = localFileOf(url);

    recording.title = requiredString(object, "title");
    recording.transcription = optionalString(object, "transcription").value_or(QString {});

    const nlohmann::json* duration = member(object, "duration");
    if (!duration || !duration->is_number()) {
        fail("\"duration\" is missing or not a number");
    }
    recording.duration = duration->get<double>();
    if (!std::isfinite(recording.duration) || recording.duration < 0) {
        fail("\"duration\" is not a length");
    }

    recording.date = requiredDate(object, "date");
    if (const std::optional<QString> category = optionalString(object, "category")) {
        const std::optional<RecordingCategory> known = RecordingCategory::fromRawValue(*category);
        if (!known) {
            fail("\"category\" is not a category");
        }
        recording.category = *known;
    }
    recording.cloudKitRecordID = optionalString(object, "cloudKitRecordID");
    if (member(object, "syncedAt")) {
        recording.syncedAt = requiredDate(object, "syncedAt");
    }
    recording.deviceID = optionalString(object, "deviceID");
    return recording;
}

} // namespace parlino
