#pragma once

#include <QString>

#include <array>
#include <optional>

namespace parlino {

// How the detail pane hands a transcript to an AI chat service. The raw value is the text the
// picker shows.
class AILaunchMethod {
public:
    enum Case { clipboard, desktop, web, shortcut };

    constexpr AILaunchMethod(Case value)
        : case_(value)
    {
    }

    // Exactly one of the four raw values, case-sensitively; anything else gives none.
    static std::optional<AILaunchMethod> fromRawValue(const QString& rawValue);
    static const std::array<AILaunchMethod, 4>& allCases();
    // The methods the picker offers: all but `shortcut`, since nothing on this desktop runs a
    // named shortcut with the text as its input.
    static const std::array<AILaunchMethod, 3>& offeredCases();

    QString rawValue() const;

    constexpr operator Case() const { return case_; }

private:
    Case case_;
};

} // namespace parlino
