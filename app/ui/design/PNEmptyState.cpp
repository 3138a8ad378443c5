#include "app/ui/design/PNEmptyState.hpp"

#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/PNGradientIcon.hpp"

#include <QVBoxLayout>

namespace parlino::design {

PNEmptyState::PNEmptyState(AnimationClock& clock, const QString& icon, const QString& title, const QString& subtitle,
    std::optional<QString> buttonTitle, std::function<void()> action, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addStretch(1);
    auto* symbol = new PNGradientIcon(icon, 60, LinearGradient::primaryGradient(), this);
    symbol->setObjectName(QStringLiteral("emptyStateIcon"));
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* titleLabel = new PlainLabel(title, Font::titleLarge(), Color::textPrimary(), this);
    titleLabel->setObjectName(QStringLiteral("emptyStateTitle"));
    titleLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(titleLabel);
    auto* subtitleLabel = new PlainLabel(subtitle, Font::calloutText(), Color::textSecondary(), this);
    subtitleLabel->setObjectName(QStringLiteral("emptyStateSubtitle"));
    subtitleLabel->setAlignment(Qt::AlignCenter);
    subtitleLabel->setWordWrap(true);
    layout->addWidget(subtitleLabel);
    if (buttonTitle && action) {
        layout->addSpacing(8 - PNButton::shadowMargins().top());
        auto* button = new PNButton(clock, *buttonTitle, std::nullopt, PNButton::Style::primary,
            PNButton::Size::medium, false, std::move(action), this);
        button->setObjectName(QStringLiteral("emptyStateButton"));
        layout->addWidget(button, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
}

} // namespace parlino::design
