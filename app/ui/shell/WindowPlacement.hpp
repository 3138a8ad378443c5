#pragma once

#include "platform/settings/UserDefaults.hpp"

#include <QList>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

namespace parlino {

// Where the main window opens: where the user left it (its normal frame and whether it was
// maximised, kept in the settings store), moved onto the screens there are now; the first time, a
// size that fits the screen's free area, centred on it.
class WindowPlacement {
public:
    static constexpr const char* frameXKey = "mainWindowX";
    static constexpr const char* frameYKey = "mainWindowY";
    static constexpr const char* frameWidthKey = "mainWindowWidth";
    static constexpr const char* frameHeightKey = "mainWindowHeight";
    static constexpr const char* maximizedKey = "mainWindowMaximized";

    struct Placement {
        QRect frame;
        bool maximized = false;
    };

    WindowPlacement(platform::UserDefaults& defaults, QSize preferredSize, QSize minimumSize);

    // Places a top-level window before it is shown.
    void restore(QWidget& window) const;
    void save(const QWidget& window);

    // `screens` are the free areas of the screens, the first the primary one.
    Placement placement(const QList<QRect>& screens) const;
    static QRect firstFrame(QSize preferred, QSize minimum, const QRect& screen);
    // The saved frame made to fit the screen it mostly lies on, or the primary screen when it lies
    // on none of them now.
    static QRect fittedFrame(const QRect& saved, QSize minimum, const QList<QRect>& screens);

private:
    std::optional<QRect> savedFrame() const;

    platform::UserDefaults& defaults_;
    QSize preferred_;
    QSize minimum_;
};

} // namespace parlino
