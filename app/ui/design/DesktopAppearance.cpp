#include "app/ui/design/DesktopAppearance.hpp"

#include "app/ui/design/Theme.hpp"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyleHints>

namespace parlino::design {

namespace {

constexpr uint prefersDark = 1;
constexpr uint prefersLight = 2;
// Past this the start-up read is given up and the palette's appearance stays.
constexpr int portalTimeoutMs = 2000;

QString latin(const char* text)
{
    return QString::fromLatin1(text);
}

// Read wraps the value in one variant more than the signal does; take off every layer.
QVariant unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

} // namespace

DesktopAppearance::DesktopAppearance(QApplication& application, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , application_(application)
    , bus_(std::move(bus))
    , fallback_(QApplication::palette().color(QPalette::Window).lightness() < 128 ? Appearance::dark : Appearance::light)
    , appearance_(fallback_)
{
    followToolkitScheme();
    Theme::apply(application_, appearance_);
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(latin(portalService), latin(portalPath), latin(settingsInterface), QStringLiteral("SettingChanged"),
        this, SLOT(settingChanged(QDBusMessage)));
    readColorScheme();
}

void DesktopAppearance::followToolkitScheme()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    // From Qt 6.5 on the toolkit knows the desktop's scheme itself; it speaks where the portal is silent.
    const auto fromScheme = [this](Qt::ColorScheme scheme) {
        return scheme == Qt::ColorScheme::Dark ? Appearance::dark
            : scheme == Qt::ColorScheme::Light ? Appearance::light
                                               : fallback_;
    };
    fallback_ = fromScheme(QGuiApplication::styleHints()->colorScheme());
    appearance_ = fallback_;
    connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, this,
        [this, fromScheme](Qt::ColorScheme scheme) {
            fallback_ = fromScheme(scheme);
            if (!portalAnswered_) {
                apply(fallback_);
            }
        });
#endif
}

void DesktopAppearance::readColorScheme()
{
    QDBusMessage read = QDBusMessage::createMethodCall(
        latin(portalService), latin(portalPath), latin(settingsInterface), QStringLiteral("Read"));
    read << latin(appearanceNamespace) << latin(colorSchemeKey);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(read, portalTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (!reply.isError()) {
            takeColorScheme(unwrapped(QVariant::fromValue(reply.value())).toUInt());
        }
    });
}

void DesktopAppearance::settingChanged(const QDBusMessage& change)
{
    const QList<QVariant> arguments = change.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == latin(appearanceNamespace)
        && arguments[1].toString() == latin(colorSchemeKey)) {
        takeColorScheme(unwrapped(arguments[2]).toUInt());
    }
}

void DesktopAppearance::takeColorScheme(uint scheme)
{
    portalAnswered_ = scheme == prefersDark || scheme == prefersLight;
    apply(scheme == prefersDark ? Appearance::dark : scheme == prefersLight ? Appearance::light : fallback_);
}

void DesktopAppearance::apply(Appearance appearance)
{
    if (appearance == appearance_) {
        return;
    }
    appearance_ = appearance;
    Theme::apply(application_, appearance_);
    emit appearanceChanged(appearance_);
}

} // namespace parlino::design
