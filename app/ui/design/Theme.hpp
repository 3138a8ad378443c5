#pragma once

#include "app/ui/design/Color.hpp"

class QApplication;
class QString;

namespace parlino::design {

// The application's look: the bundled fonts at the desktop's text scale, the Fusion style, a
// palette in the design's colours for the light or the dark appearance, and the style sheet of the
// toolkit's own controls (text fields, menus, scroll bars, buttons, alerts). Applied at start-up and
// again whenever the appearance changes; every widget hears the change as a palette change. Tests
// apply the light look too, so screenshots match.
class Theme {
public:
    static void apply(QApplication& application, Appearance appearance = Appearance::light);
    // For a tool button that shows only its symbol: no frame, and a ring while it has the focus.
    static QString borderlessToolButtonSheet();
};

} // namespace parlino::design
