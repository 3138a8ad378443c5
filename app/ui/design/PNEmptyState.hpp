#pragma once

#include "app/ui/design/AnimationClock.hpp"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

namespace parlino::design {

// The centred block shown where a list has nothing to show: a gradient symbol, a title, a
// subtitle and, when both a button title and an action are given, a button.
class PNEmptyState : public QWidget {
    Q_OBJECT

public:
    PNEmptyState(AnimationClock& clock, const QString& icon, const QString& title, const QString& subtitle,
        std::optional<QString> buttonTitle = std::nullopt, std::function<void()> action = {},
        QWidget* parent = nullptr);
};

} // namespace parlino::design
