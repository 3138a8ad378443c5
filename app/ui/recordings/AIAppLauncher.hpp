#pragma once

#include "app/ui/recordings/AIApp.hpp"
#include "app/ui/recordings/AILaunchMethod.hpp"
#include "app/ui/AppServices.hpp"

#include <QString>

#include <optional>

namespace parlino {

// Hands a text to an AI chat service. The text always travels on the clipboard, never in a link
// or on a command line, so a transcript of any length and content reaches the service whole.
// Reports on the console; a success line follows only an open that succeeded.
class AIAppLauncher {
public:
    AIAppLauncher() = delete;

    // What went wrong, in a few words for the window, when the service could not be reached.
    static std::optional<QString> launch(const AIApp& app, const QString& text, AILaunchMethod method, AppServices& services);
};

} // namespace parlino
