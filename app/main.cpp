// The parlino executable: the application's one window, onboarding first and the main window from
// then on, over the real managers. It reads no command-line options of its own.
#include "app/dictation/InputBackends.hpp"
#include "app/library/LeftoverSweep.hpp"
#include "app/recorder/RecorderFolders.hpp"
#include "app/ui/ApplicationServices.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/ui/shell/ScreenProbe.hpp"
#include "app/ui/shell/SingleInstance.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/DesktopAppearance.hpp"
#include "app/ui/design/Font.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication::setApplicationName(QStringLiteral("Parlino"));
    QApplication::setOrganizationName(QStringLiteral("Parlino"));
    QApplication::setDesktopFileName(QStringLiteral("parlino"));
    // A Wayland session runs the window as a native Wayland client, so that the Wayland input
    // backends see its focus; Xwayland is the fallback when the Wayland plugin is missing.
    if (parlino::InputBackends::sessionFromEnvironment() == parlino::InputBackends::Session::wayland
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    }
    QApplication application(argc, argv);
    parlino::SingleInstance instance(parlino::RecorderFolders::standard().documents, parlino::SingleInstance::standardFolder());
    if (!instance.isPrimary()) {
        if (instance.activateRunning()) {
            return 0;
        }
        parlino::design::DesktopAppearance appearance(application);
        const auto probe = parlino::ScreenProbe::fromEnvironment(application);
        parlino::SingleInstance::showUnreachable();
        return 1;
    }
    parlino::design::Font::setScale(parlino::design::Font::desktopScale());
    parlino::design::DesktopAppearance appearance(application);
    const auto probe = parlino::ScreenProbe::fromEnvironment(application);

    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const parlino::LeftoverSweep sweep(parlino::LeftoverSweep::standard(defaults));
    parlino::design::SystemAnimationClock clock;
    parlino::ApplicationServices services(defaults, clock);
    parlino::Parlino_macOS parlino(defaults, clock, [&services]() -> parlino::AppServices& { return services.services(); });
    QObject::connect(&instance, &parlino::SingleInstance::activationRequested, &parlino, &parlino::Parlino_macOS::show);
    parlino.show();
    return application.exec();
}
