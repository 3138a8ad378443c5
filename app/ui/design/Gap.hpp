#pragma once

class QBoxLayout;

namespace parlino::design {

// Adds a gap of `ideal` points to the layout that gives way down to `least` where the screen is
// short, before any widget has to shrink.
void addGap(QBoxLayout* layout, int ideal, int least);

} // namespace parlino::design
