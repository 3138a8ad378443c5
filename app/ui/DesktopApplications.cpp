#include "app/ui/DesktopApplications.hpp"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

#include <cstdlib>
#include <unistd.h>

namespace parlino {

namespace {

// Far above any real entry; a larger file is no desktop entry.
constexpr qint64 largestEntry = 1 << 20;

std::vector<std::filesystem::path> pathList(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    const QString text = QString::fromLocal8Bit(value && *value ? value : fallback);
    std::vector<std::filesystem::path> folders;
    for (const QString& part : text.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders.emplace_back(part.toStdString());
    }
    return folders;
}

// The string escapes of entry values: \s, \n, \t, \r and \\.
QString unescaped(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[i + 1];
            const char16_t mapped = next == QLatin1Char('s') ? u' '
                : next == QLatin1Char('n')                  ? u'\n'
                : next == QLatin1Char('t')                  ? u'\t'
                : next == QLatin1Char('r')                  ? u'\r'
                : next == QLatin1Char('\\')                 ? u'\\'
                                                            : u'\0';
            if (mapped != u'\0') {
                result += QChar(mapped);
                ++i;
                continue;
            }
        }
        result += value[i];
    }
    return result;
}

bool isExecutable(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool programInstalled(const QString& program)
{
    const std::filesystem::path path(program.toStdString());
    if (path.is_absolute()) {
        return isExecutable(path);
    }
    for (const std::filesystem::path& folder : pathList("PATH", "/usr/local/bin:/usr/bin:/bin")) {
        if (isExecutable(folder / path)) {
            return true;
        }
    }
    return false;
}

// The Exec line's words: spaces separate them, double quotes group them, and inside quotes a
// backslash keeps the next of " ` $ \ literally. Empty for an unclosed quote.
std::optional<QStringList> words(const QString& exec)
{
    QStringList words;
    QString current;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()
                       && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord) {
                words.append(std::exchange(current, QString()));
                inWord = false;
            }
        } else {
            inWord = true;
            if (c == QLatin1Char('"')) {
                quoted = true;
            } else {
                current += c;
            }
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inWord) {
        words.append(current);
    }
    return words;
}

// %% is a percent sign, %c the name, %k the entry's file; other codes stand for files and URLs,
// of which none is passed.
QString expandedCodes(const QString& word, const DesktopEntry& entry)
{
    QString result;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word[i] != QLatin1Char('%') || i + 1 >= word.size()) {
            result += word[i];
            continue;
        }
        const QChar code = word[++i];
        if (code == QLatin1Char('%')) {
            result += QLatin1Char('%');
        } else if (code == QLatin1Char('c')) {
            result += entry.name;
        } else if (code == QLatin1Char('k')) {
            result += QString::fromStdString(entry.path.string());
        }
    }
    return result;
}

} // namespace

std::vector<std::filesystem::path> DesktopApplications::applicationFolders()
{
    std::vector<std::filesystem::path> folders;
    const char* home = std::getenv("HOME");
    const std::string fallbackHome = std::string(home ? home : "") + "/.local/share";
    for (const auto& folder : pathList("XDG_DATA_HOME", fallbackHome.c_str())) {
        folders.push_back(folder / "applications");
    }
    for (const auto& folder : pathList("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
        folders.push_back(folder / "applications");
    }
    return folders;
}

std::optional<DesktopEntry> DesktopApplications::find(const QString& desktopId)
{
    if (desktopId.isEmpty() || desktopId.startsWith(QLatin1Char('.')) || desktopId.contains(QLatin1Char('/'))
        || desktopId.contains(QChar(0))) {
        return std::nullopt;
    }
    const std::string fileName = desktopId.toStdString() + ".desktop";
    for (const std::filesystem::path& folder : applicationFolders()) {
        const std::filesystem::path path = folder / fileName;
        std::error_code error;
        if (std::filesystem::exists(path, error)) {
            return read(path, desktopId);
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopApplications::read(const std::filesystem::path& path, const QString& desktopId)
{
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly) || file.size() > largestEntry) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.read(largestEntry));

    QHash<QString, QString> keys;
    bool inMainGroup = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals <= 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        // Localised variants ("Name[sk]") are not needed to start a program.
        if (!key.contains(QLatin1Char('[')) && !keys.contains(key)) {
            keys.insert(key, unescaped(line.mid(equals + 1).trimmed()));
        }
    }

    if (keys.value(QStringLiteral("Type")) != QLatin1String("Application")
        || keys.value(QStringLiteral("Hidden")) == QLatin1String("true") || keys.value(QStringLiteral("Exec")).isEmpty()) {
        return std::nullopt;
    }
    const QString tryExec = keys.value(QStringLiteral("TryExec"));
    if (!tryExec.isEmpty() && !programInstalled(tryExec)) {
        return std::nullopt;
    }
    DesktopEntry entry;
    entry.id = desktopId;
    entry.path = path;
    entry.name = keys.value(QStringLiteral("Name"));
    entry.icon = keys.value(QStringLiteral("Icon"));
    entry.exec = keys.value(QStringLiteral("Exec"));
    entry.workingDirectory = keys.value(QStringLiteral("Path"));
    return entry;
}

QStringList DesktopApplications::commandLine(const DesktopEntry& entry)
{
    const std::optional<QStringList> split = words(entry.exec);
    if (!split) {
        return {};
    }
    static const QStringList fileCodes = {QStringLiteral("%f"), QStringLiteral("%F"), QStringLiteral("%u"),
        QStringLiteral("%U"), QStringLiteral("%d"), QStringLiteral("%D"), QStringLiteral("%n"), QStringLiteral("%N"),
        QStringLiteral("%v"), QStringLiteral("%m")};
    QStringList command;
    for (const QString& word : *split) {
        if (fileCodes.contains(word)) {
            continue;
        }
        if (word == QLatin1String("%i")) {
            if (!entry.icon.isEmpty()) {
                command << QStringLiteral("--icon") << entry.icon;
            }
            continue;
        }
        command << expandedCodes(word, entry);
    }
    if (command.isEmpty() || command.front().isEmpty()) {
        return {};
    }
    return command;
}

} // namespace parlino
