#include "app/ui/recordings/AIApp.hpp"

#include <QFileInfo>


namespace parlino {

const std::array<AIApp, 6>& AIApp::allApps()
{
    static const std::array<AIApp, 6> apps = {{
        {QStringLiteral("ChatGPT"), QStringLiteral("com.openai.chat"), QStringLiteral("https://chatgpt.com/"),
            QStringLiteral("bubble.left.fill"), QStringLiteral("green"), QStringLiteral("Ask ChatGPT")},
        {QStringLiteral("Claude"), QStringLiteral("com.anthropic.claude"), QStringLiteral("https://claude.ai/new"),
            QStringLiteral("brain.head.profile"), QStringLiteral("orange"), std::nullopt},
        {QStringLiteral("Gemini"), std::nullopt, QStringLiteral("https://gemini.google.com/app"),
            QStringLiteral("sparkles"), QStringLiteral("blue"), QStringLiteral("Type Gemini prompt")},
        {QStringLiteral("Grok"), std::nullopt, QStringLiteral("https://x.com/i/grok"), QStringLiteral("bolt.fill"),
            QStringLiteral("indigo"), QStringLiteral("Open Grok")},
        {QStringLiteral("Perplexity"), QStringLiteral("ai.perplexity.app"), QStringLiteral("https://www.perplexity.ai/"),
            QStringLiteral("magnifyingglass"), QStringLiteral("purple"), QStringLiteral("Ask Perplexity")},
        {QStringLiteral("Copilot"), std::nullopt, QStringLiteral("https://copilot.microsoft.com/"),
            QStringLiteral("diamond.fill"), QStringLiteral("cyan"), QStringLiteral("Talk to Copilot")},
    }};
    return apps;
}

std::optional<DesktopEntry> AIApp::installedApplication() const
{
    if (!bundleIdentifier) {
        return std::nullopt;
    }
    return DesktopApplications::find(*bundleIdentifier);
}

std::optional<QIcon> AIApp::installedAppIcon() const
{
    const std::optional<DesktopEntry> application = installedApplication();
    if (!application || application->icon.isEmpty()) {
        return std::nullopt;
    }
    const QString& icon = application->icon;
    if (QFileInfo(icon).isAbsolute()) {
        QIcon image(icon);
        return image.isNull() || !QFileInfo::exists(icon) ? std::nullopt : std::optional(image);
    }
    QIcon themed = QIcon::fromTheme(icon);
    if (!themed.isNull()) {
        return themed;
    }
    // Older packages put their icon among the shared pixmaps instead of a theme.
    for (const QString& suffix : {QStringLiteral(".png"), QStringLiteral(".svg"), QStringLiteral(".xpm")}) {
        const QString path = QStringLiteral("/usr/share/pixmaps/") + icon + suffix;
        if (QFileInfo::exists(path)) {
            return QIcon(path);
        }
    }
    return std::nullopt;
}

QString AIApp::shortcutKey() const
{
    return QStringLiteral("shortcut_") + name;
}

std::optional<QString> AIApp::effectiveShortcutName(const platform::UserDefaults& defaults) const
{
    const QString stored = defaults.stringValue(shortcutKey());
    if (!stored.isEmpty()) {
        return stored;
    }
    return shortcutName;
}

} // namespace parlino
