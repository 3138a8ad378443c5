#include "app/ui/recordings/AIAppLauncher.hpp"

#include "app/recorder/RecorderText.hpp"
#include "app/ui/ConsoleLog.hpp"

namespace parlino {

void AIAppLauncher::launch(const AIApp& app, const QString& text, AILaunchMethod method, AppServices& services)
{
    consoleLine(QStringLiteral("🚀 Opening ") + app.name + QStringLiteral(" via ") + method.rawValue()
        + QStringLiteral("..."));
    const auto copyText = [&] {
        services.clipboard.clearContents();
        services.clipboard.setText(text);
    };
    const auto reportCopy
        = [&] { consoleLine(QStringLiteral("✅ Copied %1 chars to clipboard").arg(characterCount(text))); };
    const auto openWebPage = [&](const QString& success) {
        if (services.urlOpener.openUrl(QUrl(app.webURL, QUrl::StrictMode))) {
            consoleLine(success);
        } else {
            consoleLine(QStringLiteral("❌ Could not open web ") + app.name);
        }
    };
    const auto openDesktopApp = [&](const DesktopEntry& application, const QString& success) {
        if (services.urlOpener.openApplication(application)) {
            consoleLine(success);
        } else {
            consoleLine(QStringLiteral("❌ Could not open desktop ") + app.name);
        }
    };

    switch (method) {
    case AILaunchMethod::clipboard:
        copyText();
        reportCopy();
        if (const std::optional<DesktopEntry> application = app.installedApplication()) {
            openDesktopApp(*application, QStringLiteral("✅ Opened native ") + app.name + QStringLiteral(" - paste with Ctrl+V"));
        } else {
            openWebPage(QStringLiteral("✅ Opened web ") + app.name + QStringLiteral(" - paste with Ctrl+V"));
        }
        return;
    case AILaunchMethod::desktop: {
        const std::optional<DesktopEntry> application = app.installedApplication();
        if (!application) {
            consoleLine(QStringLiteral("❌ Desktop app not installed"));
            return;
        }
        copyText();
        openDesktopApp(*application, QStringLiteral("✅ Opened desktop ") + app.name);
        return;
    }
    case AILaunchMethod::web:
        copyText();
        openWebPage(QStringLiteral("✅ Opened web ") + app.name);
        return;
    case AILaunchMethod::shortcut: {
        const std::optional<QString> shortcut = app.effectiveShortcutName(services.defaults);
        if (!shortcut) {
            consoleLine(QStringLiteral("❌ No shortcut available for ") + app.name);
            return;
        }
        // Nothing on Linux runs a named shortcut with an input; the text waits on the clipboard.
        copyText();
        reportCopy();
        consoleLine(QStringLiteral("⚠️ Shortcuts are not available on Linux - text copied for \"") + *shortcut
            + QLatin1Char('"'));
        return;
    }
    }
}

} // namespace parlino
