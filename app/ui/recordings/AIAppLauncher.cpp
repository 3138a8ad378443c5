#include "app/ui/recordings/AIAppLauncher.hpp"

#include "app/recorder/RecorderText.hpp"
#include "app/ui/ConsoleLog.hpp"

namespace parlino {

std::optional<QString> AIAppLauncher::launch(const AIApp& app, const QString& text, AILaunchMethod method, AppServices& services)
{
    consoleLine(QStringLiteral("🚀 Opening ") + app.name + QStringLiteral(" via ") + method.rawValue()
        + QStringLiteral("..."));
    const auto copyText = [&] { services.clipboard.replaceText(text); };
    const auto reportCopy
        = [&] { consoleLine(QStringLiteral("✅ Copied %1 chars to clipboard").arg(characterCount(text))); };
    const auto openWebPage = [&](const QString& success) -> std::optional<QString> {
        if (services.urlOpener.openUrl(QUrl(app.webURL, QUrl::StrictMode))) {
            consoleLine(success);
            return std::nullopt;
        }
        consoleLine(QStringLiteral("❌ Could not open web ") + app.name);
        return QStringLiteral("Could not open ") + app.name + QStringLiteral(" in the browser");
    };
    const auto openDesktopApp = [&](const DesktopEntry& application, const QString& success) -> std::optional<QString> {
        if (services.urlOpener.openApplication(application)) {
            consoleLine(success);
            return std::nullopt;
        }
        consoleLine(QStringLiteral("❌ Could not open desktop ") + app.name);
        return QStringLiteral("Could not open ") + app.name;
    };

    switch (method) {
    case AILaunchMethod::clipboard:
        copyText();
        reportCopy();
        if (const std::optional<DesktopEntry> application = app.installedApplication()) {
            return openDesktopApp(*application, QStringLiteral("✅ Opened native ") + app.name + QStringLiteral(" - paste with Ctrl+V"));
        }
        return openWebPage(QStringLiteral("✅ Opened web ") + app.name + QStringLiteral(" - paste with Ctrl+V"));
    case AILaunchMethod::desktop: {
        const std::optional<DesktopEntry> application = app.installedApplication();
        if (!application) {
            consoleLine(QStringLiteral("❌ Desktop app not installed"));
            return app.name + QStringLiteral(" is not installed");
        }
        copyText();
        return openDesktopApp(*application, QStringLiteral("✅ Opened desktop ") + app.name);
    }
    case AILaunchMethod::web:
        copyText();
        return openWebPage(QStringLiteral("✅ Opened web ") + app.name);
    case AILaunchMethod::shortcut: {
        const std::optional<QString> shortcut = app.effectiveShortcutName(services.defaults);
        if (!shortcut) {
            consoleLine(QStringLiteral("❌ No shortcut available for ") + app.name);
            return QStringLiteral("No shortcut available for ") + app.name;
        }
        // Nothing on Linux runs a named shortcut with an input; the text waits on the clipboard.
        copyText();
        reportCopy();
        consoleLine(QStringLiteral("⚠️ Shortcuts are not available on Linux - text copied for \"") + *shortcut
            + QLatin1Char('"'));
        return std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace parlino
