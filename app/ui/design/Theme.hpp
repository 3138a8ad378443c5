#pragma once

class QApplication;

namespace parlino::design {

// The application's look: the bundled fonts, the Fusion style, a light palette in the design's
// colours and the style sheet of the toolkit's own controls (text fields, menus, scroll bars,
// buttons, alerts). Applied once at start-up; tests apply it too, so screenshots match.
class Theme {
public:
    static void apply(QApplication& application);
};

} // namespace parlino::design
