#pragma once

#include "app/ui/AppServices.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacOnboardingView.hpp"
#include "app/ui/shell/WindowPlacement.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace parlino {


// The application: its one window, showing the onboarding pages at 500 × 400 until
// "parlino_hasSeenOnboarding" is set and the main window (at least 900 × 600) from then on.
// The managers are asked for only when the main window is first built, so nothing of theirs runs
// during onboarding. The main window opens where the user left it (or, the first time, as large as
// the screen allows up to its design size). Where the desktop has a system tray, closing the window keeps the program
// (and dictation) running and the tray icon brings the window back; without one, closing quits.
class Parlino_macOS : public QObject {
    Q_OBJECT

public:
    using ServicesProvider = std::function<AppServices&()>;

    Parlino_macOS(platform::UserDefaults& defaults, design::AnimationClock& clock, ServicesProvider services,
        MacMainView::Destinations destinations = {}, QObject* parent = nullptr);
    ~Parlino_macOS() override;

    bool hasSeenOnboarding() const;
    QWidget* window() const { return window_.get(); }
    MacOnboardingView* onboardingView() const { return onboarding_; }
    MacMainView* mainView() const { return main_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }

    void show();

signals:
    void contentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateContent();
    void setUpTray();
    void savePlacement();

    platform::UserDefaults& defaults_;
    design::AnimationClock& clock_;
    ServicesProvider services_;
    MacMainView::Destinations destinations_;
    WindowPlacement placement_;
    // Moves and resizes are kept once they have settled, not on every step of a drag.
    QTimer placementSaver_;
    std::unique_ptr<QWidget> window_;
    QPointer<MacOnboardingView> onboarding_;
    QPointer<MacMainView> main_;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
};

} // namespace parlino
