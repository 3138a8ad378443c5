#include "app/ui/shell/Parlino_macOS.hpp"

#include "app/ui/shell/MacOnboardingView.hpp"
#include "app/ui/shell/ReturnKeyActivation.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

constexpr QSize onboardingSize(500, 400);
constexpr QSize mainMinimumSize(900, 600);
constexpr QSize mainPreferredSize(1120, 960);
constexpr int placementSettleMs = 500;

QIcon applicationIcon()
{
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(0, 0, side, side);
        const QPainterPath mic = symbolPath(QStringLiteral("mic.circle.fill"), side * 0.95, area.center());
        painter.fillPath(mic, LinearGradient::primaryGradient().brush(area));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

Parlino_macOS::Parlino_macOS(platform::UserDefaults& defaults, AnimationClock& clock, ServicesProvider services,
    MacMainView::Destinations destinations, QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
    , clock_(clock)
    , services_(std::move(services))
    , destinations_(std::move(destinations))
    , placement_(defaults, mainPreferredSize, mainMinimumSize)
    , window_(std::make_unique<QWidget>())
{
    placementSaver_.setSingleShot(true);
    placementSaver_.setInterval(placementSettleMs);
    connect(&placementSaver_, &QTimer::timeout, this, &Parlino_macOS::savePlacement);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Parlino_macOS::savePlacement);
    window_->installEventFilter(this);
    new ReturnKeyActivation(this);
    window_->setObjectName(QStringLiteral("parlinoWindow"));
    window_->setWindowTitle(QStringLiteral("Parlino"));
    // The installed icon of the desktop's theme, else the same emblem drawn here.
    window_->setWindowIcon(QIcon::fromTheme(QStringLiteral("parlino"), applicationIcon()));
    QApplication::setWindowIcon(window_->windowIcon());
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    connect(&defaults_, &platform::UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(SettingsKeys::hasSeenOnboarding)) {
            updateContent();
        }
    });
    setUpTray();
    updateContent();
}

Parlino_macOS::~Parlino_macOS()
{
    savePlacement();
    // The window's own teardown is no move or resize of the user's.
    window_->removeEventFilter(this);
    delete tray_;
}

void Parlino_macOS::savePlacement()
{
    placementSaver_.stop();
    if (!main_.isNull() && window_->isVisible()) {
        placement_.save(*window_);
    }
}

bool Parlino_macOS::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_.get() && !main_.isNull()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize: placementSaver_.start(); break;
        case QEvent::WindowStateChange:
        case QEvent::Close: savePlacement(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool Parlino_macOS::hasSeenOnboarding() const
{
    return defaults_.boolValue(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), false);
}

void Parlino_macOS::show()
{
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void Parlino_macOS::updateContent()
{
    QLayout* layout = window_->layout();
    if (hasSeenOnboarding()) {
        if (main_) {
            return;
        }
        if (onboarding_) {
            layout->removeWidget(onboarding_);
            onboarding_->hide();
            onboarding_->deleteLater();
            onboarding_ = nullptr;
        }
        window_->setMinimumSize(mainMinimumSize);
        window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        placement_.restore(*window_);
        main_ = new MacMainView(services_(), destinations_, window_.get());
        layout->addWidget(main_);
        if (window_->isVisible()) {
            main_->show();
        }
    } else {
        if (onboarding_) {
            return;
        }
        onboarding_ = new MacOnboardingView(defaults_, clock_, window_.get());
        layout->addWidget(onboarding_);
        // Larger text needs a larger page for the same layout.
        window_->setFixedSize(onboardingSize * std::max(1.0, Font::scale()));
    }
    emit contentChanged();
}

void Parlino_macOS::setUpTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Nothing could bring a hidden window back: closing it ends the program.
        QApplication::setQuitOnLastWindowClosed(true);
        return;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    tray_ = new QSystemTrayIcon(window_->windowIcon());
    tray_->setToolTip(QStringLiteral("Parlino"));
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->setObjectName(QStringLiteral("trayMenu"));
    trayMenu_->addAction(QStringLiteral("Show Parlino"), this, &Parlino_macOS::show);
    trayMenu_->addSeparator();
    trayMenu_->addAction(QStringLiteral("Quit Parlino"), qApp, &QCoreApplication::quit);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            show();
        }
    });
    tray_->show();
}

} // namespace parlino
