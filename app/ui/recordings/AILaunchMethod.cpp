#include "app/ui/recordings/AILaunchMethod.hpp"

namespace parlino {

const std::array<AILaunchMethod, 4>& AILaunchMethod::allCases()
{
    static const std::array<AILaunchMethod, 4> cases = {clipboard, desktop, web, shortcut};
    return cases;
}

const std::array<AILaunchMethod, 3>& AILaunchMethod::offeredCases()
{
    static const std::array<AILaunchMethod, 3> cases = {clipboard, desktop, web};
    return cases;
}

std::optional<AILaunchMethod> AILaunchMethod::fromRawValue(const QString& rawValue)
{
    for (const AILaunchMethod method : allCases()) {
        if (method.rawValue() == rawValue) {
            return method;
        }
    }
    return std::nullopt;
}

QString AILaunchMethod::rawValue() const
{
    switch (case_) {
    case clipboard: return QStringLiteral("Copy to Clipboard");
    case desktop: return QStringLiteral("Desktop App");
    case web: return QStringLiteral("Web Browser");
    // Linux has no Siri; the method copies the text for the shortcut name kept per service.
    case shortcut: return QStringLiteral("Shortcut");
    }
    return {};
}

} // namespace parlino
