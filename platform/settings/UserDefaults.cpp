#include "platform/settings/UserDefaults.hpp"

#include "platform/system/Console.hpp"
#include "platform/system/Folders.hpp"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <limits>

namespace platform {

namespace {
// A hand-edited INI line with commas reads back as a list; it was one text when written.
QString textOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1String(", "));
    }
    return value.toString();
}

// Moves an oversized settings file out of the way under a name that says so, never over another
// file; the file to read from then: none there, so the defaults. When it cannot be moved it is
// not read either, and nothing is written over it.
std::filesystem::path readableSettings(const std::filesystem::path& file)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)
        || static_cast<std::uintmax_t>(status.st_size) <= UserDefaults::largestFile) {
        return file;
    }
    const std::string size = std::to_string(status.st_size);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::filesystem::path aside = file;
        aside += ".oversized";
        if (attempt > 1) {
            aside += "-" + std::to_string(attempt);
        }
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            Console::print("⚠️ Settings file " + file.string() + " is too large to hold settings (" + size
                + " bytes): set aside as " + aside.filename().string() + ", the defaults are used");
            return file;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    Console::print("⚠️ Settings file " + file.string() + " is too large to hold settings (" + size
        + " bytes) and cannot be set aside: the defaults are used, and changes are not kept");
    return "/dev/null";
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* store = new UserDefaults(standardFile());
    return *store;
}

std::filesystem::path UserDefaults::standardFile()
{
    return Folders::configuration() / "parlino" / "parlino.conf";
}

UserDefaults::UserDefaults(const std::filesystem::path& file, QObject* parent)
    : QObject(parent)
    , file_(file)
    , settings_(std::make_unique<QSettings>(QString::fromStdString(readableSettings(file).string()), QSettings::IniFormat))
{
    // Keys are the program's own names; INI groups ("a/b") are never meant.
    settings_->setFallbacksEnabled(false);
}

UserDefaults::~UserDefaults() = default;

bool UserDefaults::contains(const QString& key) const
{
    return settings_->contains(key);
}

bool UserDefaults::boolValue(const QString& key, bool defaultValue) const
{
    const QVariant value = settings_->value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    const QString text = textOf(value).trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("no")) {
        return false;
    }
    bool isNumber = false;
    const double number = text.toDouble(&isNumber);
    return isNumber ? number != 0.0 : defaultValue;
}

qint64 UserDefaults::integerValue(const QString& key, qint64 defaultValue) const
{
    const QVariant value = settings_->value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    const QString text = textOf(value).trimmed();
    bool isNumber = false;
    if (const qint64 whole = text.toLongLong(&isNumber); isNumber) {
        return whole;
    }
    const double number = text.toDouble(&isNumber);
    // Whole numbers stored as decimals read as their integer part; what has none gives the default.
    if (isNumber && std::isfinite(number) && std::fabs(number) < 9.2e18) {
        return static_cast<qint64>(number);
    }
    if (text == QLatin1String("true")) {
        return 1;
    }
    if (text == QLatin1String("false")) {
        return 0;
    }
    return defaultValue;
}

double UserDefaults::doubleValue(const QString& key, double defaultValue) const
{
    const QVariant value = settings_->value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    bool isNumber = false;
    const double number = textOf(value).trimmed().toDouble(&isNumber);
    return isNumber ? number : defaultValue;
}

QString UserDefaults::stringValue(const QString& key, const QString& defaultValue) const
{
    const QVariant value = settings_->value(key);
    if (!value.isValid() || value.typeId() == QMetaType::QByteArray) {
        return defaultValue;
    }
    return textOf(value);
}

QByteArray UserDefaults::dataValue(const QString& key) const
{
    const QVariant value = settings_->value(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray {};
}

void UserDefaults::setBool(const QString& key, bool value)
{
    store(key, value);
}

void UserDefaults::setInteger(const QString& key, qint64 value)
{
    store(key, value);
}

void UserDefaults::setDouble(const QString& key, double value)
{
    store(key, value);
}

void UserDefaults::setString(const QString& key, const QString& value)
{
    store(key, value);
}

void UserDefaults::setData(const QString& key, const QByteArray& value)
{
    store(key, value);
}

void UserDefaults::remove(const QString& key)
{
    settings_->remove(key);
    settings_->sync();
    emit changed(key);
}

void UserDefaults::store(const QString& key, const QVariant& value)
{
    settings_->setValue(key, value);
    settings_->sync();
    emit changed(key);
}

} // namespace platform
