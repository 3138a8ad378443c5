#include "app/ui/shell/WindowPlacement.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace parlino {

namespace {

// Room left around a first window for the window manager's frame and the desktop's panels.
constexpr int frameAllowance = 48;
// How much of a saved window must still lie on a screen for it to count as there.
constexpr int visibleEnough = 64;

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

QList<QRect> availableScreens()
{
    QList<QRect> screens;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        screens.append(primary->availableGeometry());
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) {
            screens.append(screen->availableGeometry());
        }
    }
    return screens;
}

// The size bounded by the screen, but never below the window's minimum.
QSize fitted(QSize size, QSize minimum, const QRect& screen)
{
    return size.boundedTo(screen.size()).expandedTo(minimum);
}

QRect roomIn(const QRect& screen)
{
    const int edge = frameAllowance / 2;
    return screen.adjusted(edge, edge, -edge, -edge);
}

QRect centredOn(QSize size, const QRect& screen)
{
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(screen.center());
    return frame;
}

} // namespace

WindowPlacement::WindowPlacement(platform::UserDefaults& defaults, QSize preferredSize, QSize minimumSize)
    : defaults_(defaults)
    , preferred_(preferredSize)
    , minimum_(minimumSize)
{
}

QRect WindowPlacement::firstFrame(QSize preferred, QSize minimum, const QRect& screen)
{
    return centredOn(fitted(preferred, minimum, roomIn(screen)), screen);
}

QRect WindowPlacement::fittedFrame(const QRect& saved, QSize minimum, const QList<QRect>& screens)
{
    const QRect* home = nullptr;
    qint64 largestShare = 0;
    for (const QRect& screen : screens) {
        const QRect shared = screen.intersected(saved);
        const qint64 share = qint64(shared.width()) * shared.height();
        if (shared.width() >= visibleEnough && shared.height() >= visibleEnough && share > largestShare) {
            largestShare = share;
            home = &screen;
        }
    }
    if (!home) {
        return centredOn(fitted(saved.size(), minimum, roomIn(screens.front())), screens.front());
    }
    // The window manager's frame goes around the saved area, so the area keeps clear of the edges.
    const QRect room = roomIn(*home);
    QRect frame(saved.topLeft(), fitted(saved.size(), minimum, room));
    frame.moveLeft(std::clamp(frame.left(), room.left(), std::max(room.left(), room.right() - frame.width() + 1)));
    frame.moveTop(std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - frame.height() + 1)));
    return frame;
}

std::optional<QRect> WindowPlacement::savedFrame() const
{
    for (const char* name : {frameXKey, frameYKey, frameWidthKey, frameHeightKey}) {
        if (!defaults_.contains(key(name))) {
            return std::nullopt;
        }
    }
    const QRect frame(static_cast<int>(defaults_.integerValue(key(frameXKey))),
        static_cast<int>(defaults_.integerValue(key(frameYKey))),
        static_cast<int>(defaults_.integerValue(key(frameWidthKey))),
        static_cast<int>(defaults_.integerValue(key(frameHeightKey))));
    if (frame.width() <= 0 || frame.height() <= 0) {
        return std::nullopt;
    }
    return frame;
}

WindowPlacement::Placement WindowPlacement::placement(const QList<QRect>& screens) const
{
    if (screens.isEmpty()) {
        return {QRect(QPoint(0, 0), preferred_), false};
    }
    const std::optional<QRect> saved = savedFrame();
    if (!saved) {
        return {firstFrame(preferred_, minimum_, screens.front()), false};
    }
    return {fittedFrame(*saved, minimum_, screens), defaults_.boolValue(key(maximizedKey), false)};
}

void WindowPlacement::restore(QWidget& window) const
{
    const Placement chosen = placement(availableScreens());
    window.setGeometry(chosen.frame);
    if (chosen.maximized) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
    }
}

void WindowPlacement::save(const QWidget& window)
{
    // A maximised window keeps the frame it returns to.
    const QRect frame = window.isMaximized() || window.isFullScreen() ? window.normalGeometry() : window.geometry();
    if (frame.isValid()) {
        defaults_.setInteger(key(frameXKey), frame.x());
        defaults_.setInteger(key(frameYKey), frame.y());
        defaults_.setInteger(key(frameWidthKey), frame.width());
        defaults_.setInteger(key(frameHeightKey), frame.height());
    }
    defaults_.setBool(key(maximizedKey), window.isMaximized());
}

} // namespace parlino
