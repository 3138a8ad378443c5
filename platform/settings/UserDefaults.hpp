#pragma once

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>

namespace platform {

// The user's settings: typed values under string keys in one INI file, with a change signal so that
// whatever is bound to a key (a screen, a manager) hears every write, whoever made it.
//
// A key is absent until something is stored under it; `contains` tells absent from a stored false or
// zero. Readers give the default for an absent key and for a stored text of another type. Every write
// reaches the file at once (written to a temporary file and renamed into place), so a crash loses
// nothing. Lives on the Qt main thread.
class UserDefaults : public QObject {
    Q_OBJECT

public:
    // The user's store, `$XDG_CONFIG_HOME/parlino/parlino.conf`, opened on first use.
    static UserDefaults& standard();
    static std::filesystem::path standardFile();

    // A file larger than any settings written by the program (a damaged or foreign file, which
    // would take long and much memory to parse) is set aside with a console line, and the defaults
    // are used.
    static constexpr std::uintmax_t largestFile = std::uintmax_t {4} << 20;

    explicit UserDefaults(const std::filesystem::path& file, QObject* parent = nullptr);
    ~UserDefaults() override;

    bool contains(const QString& key) const;

    bool boolValue(const QString& key, bool defaultValue = false) const;
    qint64 integerValue(const QString& key, qint64 defaultValue = 0) const;
    double doubleValue(const QString& key, double defaultValue = 0.0) const;
    QString stringValue(const QString& key, const QString& defaultValue = {}) const;
    QByteArray dataValue(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);

    std::filesystem::path file() const { return file_; }

signals:
    // After every write or removal, also when the value did not change.
    void changed(const QString& key);

private:
    void store(const QString& key, const QVariant& value);

    std::filesystem::path file_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace platform
