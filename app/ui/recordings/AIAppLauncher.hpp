#pragma once

#include "app/ui/recordings/AIApp.hpp"
#include "app/ui/recordings/AILaunchMethod.hpp"
#include "app/ui/AppServices.hpp"

#include <QString>

namespace parlino {

// Hands a text to an AI chat service. The text always travels on the clipboard, never in a link
// or on a command line, so a transcript of any length and content reaches the service whole.
// Reports on the console only; a success line follows only an open that succeeded.
class AIAppLauncher {
public:
    AIAppLauncher() = delete;

    static void launch(const AIApp& app, const QString& text, AILaunchMethod method, AppServices& services);
};

} // namespace parlino
