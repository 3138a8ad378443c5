#include "app/ui/settings/FormWarning.hpp"

#include "app/ui/settings/SettingsSection.hpp"
#include "app/ui/design/Labels.hpp"

#include <QHBoxLayout>

namespace parlino {

using namespace design;

FormWarning::FormWarning(const QString& text, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addStretch(1);
    layout->addWidget(formSymbol(QStringLiteral("exclamationmark.triangle.fill"), Color::warningAmber(), 14, this), 0,
        Qt::AlignVCenter);
    // The secondary text colour: amber text is too faint on the light background.
    text_ = formText(text, TextStyle::subheadline, Color::textSecondary(), this);
    text_->setObjectName(QStringLiteral("formWarningText"));
    layout->addWidget(text_, 0, Qt::AlignVCenter);
    layout->addStretch(1);
}

QString FormWarning::text() const
{
    return text_->text();
}

void FormWarning::say(const QString& text)
{
    text_->setText(text);
    show();
}

} // namespace parlino
