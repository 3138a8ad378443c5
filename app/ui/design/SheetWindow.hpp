#pragma once

class QWidget;

namespace parlino::design {

// The frame of a sheet or alert over the main window: a title and a close button, never the
// maximise or minimise buttons of a main window, which a window manager would otherwise offer.
class SheetWindow {
public:
    // Before the window is first shown.
    static void apply(QWidget& window);
};

} // namespace parlino::design
