#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/ui/recordings/RecordingRow.hpp"
#include "app/ui/design/Animation.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/BorderedButton.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/FlowLayout.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/PNGlassModifier.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RevealBox.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace parlino {

using namespace design;

QWidget* RecordingDetailView::sendToAICard()
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setSpacing(12);
    layout->addWidget(heading(QStringLiteral("brain"), LinearGradient::infoGradient(), QStringLiteral("Send to AI")));

    auto* methodRow = new FlowLayout(8, 6);
    methodRow->addWidget(new PlainLabel(
        QStringLiteral("Launch method:"), Font::textStyle(TextStyle::caption), Color::textSecondary(), content));
    launchMethod_ = new MenuPicker(content);
    launchMethod_->setObjectName(QStringLiteral("launchMethodPicker"));
    launchMethod_->setFixedWidth(200);
    launchMethod_->setFont(Font::textStyle(TextStyle::caption));
    for (const AILaunchMethod method : AILaunchMethod::offeredCases()) {
        launchMethod_->addItem(method.rawValue(), method.rawValue());
    }
    connect(launchMethod_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (const auto method = AILaunchMethod::fromRawValue(launchMethod_->itemData(index).toString())) {
            aiLaunchMethod_ = *method;
        }
    });
    methodRow->addWidget(launchMethod_);
    layout->addLayout(methodRow);

    // Three columns where they fit, fewer in a narrow pane.
    auto* grid = new FlowLayout(8, 12);
    grid->setMaximumColumns(3);
    for (const AIApp& app : AIApp::allApps()) {
        auto* button = aiAppButton(app);
        button->setParent(content);
        grid->addWidget(button);
        appButtons_.emplace_back(app, button);
    }
    layout->addLayout(grid);

    auto* card = glassCard(content, 16, 12, this);
    card->setObjectName(QStringLiteral("sendToAICard"));
    return card;
}

BorderedButton* RecordingDetailView::aiAppButton(const AIApp& app)
{
    auto* button = new BorderedButton(
        clock(), app.name, app.icon, BorderedButton::Prominence::bordered, Color(colorFromName(app.color)));
    button->setObjectName(QStringLiteral("aiApp") + app.name);
    button->setMetrics(Font::textStyle(TextStyle::caption, QFont::DemiBold), Font::textStyle(TextStyle::title3).pixelSize(),
        QMargins(12, 8, 12, 8));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(button, &QAbstractButton::clicked, this, [this, app] {
        // The method and the text as they are at the moment of the click.
        if (const std::optional<Recording> shown = recording()) {
            if (const auto failure = AIAppLauncher::launch(app, shown->transcription, aiLaunchMethod_, services_)) {
                StatusNotice::post(*this, services_.timer, *failure);
            }
        }
    });
    return button;
}

void RecordingDetailView::setAILaunchMethod(AILaunchMethod method)
{
    aiLaunchMethod_ = method;
    const QSignalBlocker blocker(launchMethod_);
    launchMethod_->setCurrentIndex(launchMethod_->findData(method.rawValue()));
}

void RecordingDetailView::refreshAppIcons()
{
    for (const auto& [app, button] : appButtons_) {
        const std::optional<QIcon> icon = app.installedAppIcon();
        button->setImage(icon.value_or(QIcon()), icon ? 22 : 0, 5);
    }
}

QColor RecordingDetailView::colorFromName(const QString& name)
{
    // The platform's system colours.
    if (name == QLatin1String("green")) {
        return QColor(0x34, 0xC7, 0x59);
    }
    if (name == QLatin1String("orange")) {
        return QColor(0xFF, 0x95, 0x00);
    }
    if (name == QLatin1String("blue")) {
        return QColor(0x00, 0x7A, 0xFF);
    }
    if (name == QLatin1String("indigo")) {
        return QColor(0x58, 0x56, 0xD6);
    }
    if (name == QLatin1String("purple")) {
        return QColor(0xAF, 0x52, 0xDE);
    }
    if (name == QLatin1String("cyan")) {
        return QColor(0x32, 0xAD, 0xE6);
    }
    return QColor(0x8E, 0x8E, 0x93);
}

} // namespace parlino
