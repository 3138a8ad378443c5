#include "app/ui/settings/SettingsToggle.hpp"

#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/SwitchToggle.hpp"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace parlino {

using namespace design;

SettingsToggle::SettingsToggle(AnimationClock& clock, const QString& title, QWidget* parent)
    : QWidget(parent)
    , toggle_(new SwitchToggle(clock, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(toggle_, 0, Qt::AlignVCenter);
    if (!title.isEmpty()) {
        toggle_->setAccessibleName(title);
        auto* label = new PlainLabel(title, Font::textStyle(TextStyle::body), Color::textPrimary(), this);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(label, 0, Qt::AlignVCenter);
        setCursor(Qt::PointingHandCursor);
    }
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(toggle_, &QAbstractButton::clicked, this, &SettingsToggle::flipped);
}

bool SettingsToggle::isChecked() const
{
    return toggle_->isChecked();
}

void SettingsToggle::showValue(bool on)
{
    const QSignalBlocker blocker(toggle_);
    toggle_->setChecked(on);
}

void SettingsToggle::mousePressEvent(QMouseEvent* event)
{
    event->setAccepted(event->button() == Qt::LeftButton);
}

void SettingsToggle::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && isEnabled()) {
        toggle_->click();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

} // namespace parlino
