#include "app/dictation/WaylandFrontWindow.hpp"

#include <QGuiApplication>

#include <unistd.h>

namespace parlino {

platform::input::FrontWindow WaylandFrontWindow::current()
{
    if (QGuiApplication::focusWindow()) {
        return {ownWindow, static_cast<int>(::getpid())};
    }
    return {anotherWindow, std::nullopt};
}

} // namespace parlino
