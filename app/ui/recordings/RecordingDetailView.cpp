#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/ui/StatusNotice.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/ConsoleLog.hpp"
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

namespace {

constexpr int readinessSleeps = 30;
constexpr Clock::Duration readinessSleep{1000};
constexpr qsizetype previewLength = 100;

// The title row's badge: a soft brand glow with the category's gradient symbol.
class CategoryBadge final : public QWidget {
public:
    explicit CategoryBadge(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(50, 50);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setSymbol(const QString& symbol)
    {
        symbol_ = symbol;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF center = QRectF(rect()).center();
        QRadialGradient glow(center, 25);
        glow.setColorAt(0, Color::brandBlue().opacity(0.15).resolved());
        glow.setColorAt(0.2, Color::brandBlue().opacity(0.15).resolved());
        glow.setColorAt(1, QColor(0, 0, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(center, 25, 25);
        PNGradientIcon::paint(painter, symbol_, 28, LinearGradient::primaryGradient(), center);
    }

private:
    QString symbol_;
};

// The hairline under the header: the primary gradient at 30 %.
class GradientDivider final : public QWidget {
public:
    explicit GradientDivider(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(0.3);
        painter.fillRect(rect(), LinearGradient::primaryGradient().brush(QRectF(rect())));
    }
};

PlainLabel* metadataText(QWidget* parent)
{
    return new PlainLabel(QString(), Font::textStyle(TextStyle::subheadline), Color::textSecondary(), parent);
}

QWidget* metadataItem(const QString& symbol, const LinearGradient& gradient, PlainLabel* text, QWidget* parent)
{
    auto* item = new QWidget(parent);
    auto* layout = new QHBoxLayout(item);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(new PNGradientIcon(symbol, Font::textStyle(TextStyle::subheadline).pixelSize(), gradient, item));
    text->setParent(item);
    layout->addWidget(text);
    return item;
}

// Padded content on a glass card.
PNGlassModifier* glassCard(QWidget* content, int padding, double cornerRadius, QWidget* parent)
{
    content->layout()->setContentsMargins(padding, padding, padding, padding);
    auto* card = new PNGlassModifier(content, parent);
    card->setCornerRadius(cornerRadius);
    return card;
}

QString longDateAndShortTime(const QDateTime& date)
{
    return RecordingRow::dateText(date) + QStringLiteral(", ")
        + QLocale().toString(date.toLocalTime().time(), QLocale::ShortFormat);
}

QString fileName(const std::filesystem::path& path)
{
    return QString::fromStdString(path.filename().string());
}

} // namespace

RecordingDetailView::RecordingDetailView(AppServices& services, QWidget* parent)
    : AnimatedWidget(services.clock, parent)
    , services_(services)
{
    setObjectName(QStringLiteral("recordingDetail"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("recordingDetailScroll"));
    // Tab goes to the controls inside, and the area follows the focus.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    outer->addWidget(scroll_);

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("recordingDetailContent"));
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(30, 30, 30, 30);
    column->setSpacing(24);
    column->addWidget(headerBlock());
    actions_ = new RevealBox(actionCard(), content);
    column->addWidget(actions_, 0, Qt::AlignLeft);
    sendToAI_ = sendToAICard();
    column->addWidget(sendToAI_);
    column->addWidget(transcriptionBlock());
    column->addStretch(1);
    scroll_->setWidget(content);
    scroll_->viewport()->setAutoFillBackground(false);

    connect(&services_.library, &LibraryService::recordingsChanged, this, &RecordingDetailView::refresh);
    applyEntrance();
}

QWidget* RecordingDetailView::headerBlock()
{
    auto* block = new QWidget(this);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* row = new QWidget(block);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(12);
    badge_ = new CategoryBadge(row);
    badge_->setObjectName(QStringLiteral("detailBadge"));
    rowLayout->addWidget(badge_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    title_ = new PlainLabel(QString(), Font::displayMedium(), Color::textPrimary(), row);
    title_->setObjectName(QStringLiteral("detailTitle"));
    title_->setWordWrap(true);
    title_->setToolTip(QStringLiteral("Click to edit title"));
    title_->setCursor(Qt::IBeamCursor);
    title_->installEventFilter(this);
    texts->addWidget(title_);
    titleField_ = new QLineEdit(row);
    titleField_->setObjectName(QStringLiteral("detailTitleField"));
    titleField_->setPlaceholderText(QStringLiteral("Title"));
    titleField_->setFont(Font::displayMedium());
    titleField_->setFrame(false);
    AppearanceFollower::follow(titleField_, [field = titleField_] {
        field->setStyleSheet(QStringLiteral("QLineEdit { border: none; border-radius: 6px; padding: 0 4px; "
                                            "margin-left: -4px; background: %1; }")
                .arg(Color::surfaceSecondary().resolved().name()));
    });
    titleField_->hide();
    connect(titleField_, &QLineEdit::returnPressed, this, &RecordingDetailView::saveTitle);
    texts->addWidget(titleField_);
    texts->addWidget(metadataRow());
    rowLayout->addLayout(texts, 1);
    titleRow_ = new RevealBox(row, block);
    layout->addWidget(titleRow_);
    layout->addWidget(new GradientDivider(block));
    return block;
}

QWidget* RecordingDetailView::metadataRow()
{
    auto* row = new QWidget(this);
    // The facts wrap under each other in a narrow pane.
    auto* layout = new FlowLayout(16, 6, row);
    date_ = metadataText(row);
    date_->setObjectName(QStringLiteral("detailDate"));
    layout->addWidget(metadataItem(QStringLiteral("calendar"), LinearGradient::primaryGradient(), date_, row));
    duration_ = metadataText(row);
    duration_->setObjectName(QStringLiteral("detailDuration"));
    layout->addWidget(metadataItem(QStringLiteral("clock"), LinearGradient::warmGradient(), duration_, row));

    category_ = metadataText(row);
    category_->setObjectName(QStringLiteral("detailCategory"));
    categoryItem_ = metadataItem(QStringLiteral("folder"), LinearGradient::infoGradient(), category_, row);
    categoryItem_->setObjectName(QStringLiteral("detailCategoryItem"));
    categoryItem_->setToolTip(QStringLiteral("Click to change category"));
    categoryItem_->setCursor(Qt::PointingHandCursor);
    categoryItem_->installEventFilter(this);
    layout->addWidget(categoryItem_);

    categoryPicker_ = new MenuPicker(row);
    categoryPicker_->setObjectName(QStringLiteral("detailCategoryPicker"));
    categoryPicker_->setAccessibleName(QStringLiteral("Category"));
    categoryPicker_->setFont(Font::textStyle(TextStyle::subheadline));
    categoryPicker_->setIconSize(QSize(14, 14));
    for (const RecordingCategory category : RecordingCategory::allCases()) {
        categoryPicker_->addItem(
            symbolIcon(category.icon(), Color::brandBlue().resolved(), 14), category.rawValue(), category.rawValue());
    }
    categoryPicker_->hide();
    connect(categoryPicker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (const auto picked = RecordingCategory::fromRawValue(categoryPicker_->itemData(index).toString())) {
            editedCategory_ = *picked;
            saveCategory();
        }
    });
    layout->addWidget(categoryPicker_);
    return row;
}

QWidget* RecordingDetailView::actionCard()
{
    auto* row = new QWidget;
    auto* layout = new FlowLayout(12, 12, row);
    copy_ = new BorderedButton(clock(), QStringLiteral("Copy"), QStringLiteral("doc.on.clipboard"),
        BorderedButton::Prominence::bordered, std::nullopt, row);
    copy_->setObjectName(QStringLiteral("copyButton"));
    copy_->setToolTip(QStringLiteral("Copy transcription to clipboard"));
    connect(copy_, &QAbstractButton::clicked, this, &RecordingDetailView::copyTranscription);
    layout->addWidget(copy_);

    play_ = new BorderedButton(clock(), QStringLiteral("Play"), QStringLiteral("play.fill"),
        BorderedButton::Prominence::prominent, Color::brandBlue(), row);
    play_->setObjectName(QStringLiteral("playButton"));
    connect(play_, &QAbstractButton::clicked, this, [this] {
        const std::function<void()>& action = isPlaying_ ? onStop_ : onPlay_;
        if (action) {
            action();
        }
    });
    layout->addWidget(play_);

    reTranscribe_ = new BorderedButton(clock(), QStringLiteral("ReTranscribe"),
        QStringLiteral("waveform.badge.magnifyingglass"), BorderedButton::Prominence::bordered, Color::brandBlue(), row);
    reTranscribe_->setObjectName(QStringLiteral("reTranscribeButton"));
    reTranscribe_->setToolTip(QStringLiteral("Re-transcribe audio with current language settings"));
    connect(reTranscribe_, &QAbstractButton::clicked, this, &RecordingDetailView::reTranscribe);
    layout->addWidget(reTranscribe_);

    delete_ = new BorderedButton(clock(), QStringLiteral("Delete"), QStringLiteral("trash"),
        BorderedButton::Prominence::bordered, Color::dangerRed(), row);
    delete_->setObjectName(QStringLiteral("deleteButton"));
    connect(delete_, &QAbstractButton::clicked, this, [this] {
        if (onDelete_) {
            onDelete_();
        }
    });
    layout->addWidget(delete_);

    auto* card = glassCard(row, 12, 12, this);
    card->setObjectName(QStringLiteral("actionCard"));
    card->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return card;
}

QWidget* RecordingDetailView::heading(const QString& symbol, const LinearGradient& gradient, const QString& title)
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new PNGradientIcon(symbol, 18, gradient, row));
    layout->addWidget(new PlainLabel(title, Font::titleMedium(), Color::textPrimary(), row));
    layout->addStretch(1);
    return row;
}

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
    for (const AILaunchMethod method : AILaunchMethod::allCases()) {
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

QWidget* RecordingDetailView::transcriptionBlock()
{
    auto* block = new QWidget(this);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(heading(QStringLiteral("doc.text"), LinearGradient::primaryGradient(), QStringLiteral("Transcription")));

    auto* content = new QWidget;
    auto* contentLayout = new QVBoxLayout(content);
    transcript_ = new PlainLabel(QString(), Font::textStyle(TextStyle::body), Color::textPrimary(), content);
    transcript_->setObjectName(QStringLiteral("detailTranscript"));
    transcript_->setWordWrap(true);
    transcript_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    transcript_->setCursor(Qt::IBeamCursor);
    transcript_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    contentLayout->addWidget(transcript_);
    transcriptCard_ = glassCard(content, 16, 8, block);
    transcriptCard_->setObjectName(QStringLiteral("transcriptCard"));
    layout->addWidget(transcriptCard_);

    QFont italic = Font::textStyle(TextStyle::body);
    italic.setItalic(true);
    noTranscript_ = new PlainLabel(QStringLiteral("No transcription available"), italic, Color::textSecondary(), block);
    noTranscript_->setObjectName(QStringLiteral("noTranscription"));
    layout->addWidget(noTranscript_);
    return block;
}

std::optional<Recording> RecordingDetailView::recording() const
{
    return recordingID_ ? services_.library.recording(*recordingID_) : std::nullopt;
}

void RecordingDetailView::setRecording(const QUuid& id)
{
    if (recordingID_ != id) {
        endEditing();
        recordingID_ = id;
        scroll_->verticalScrollBar()->setValue(0);
    }
    refresh();
}

void RecordingDetailView::reset()
{
    endEditing();
    setAILaunchMethod(AILaunchMethod::clipboard);
}

void RecordingDetailView::endEditing()
{
    isEditingTitle_ = false;
    titleField_->clear();
    titleField_->hide();
    title_->show();
    isEditingCategory_ = false;
    categoryPicker_->hide();
    categoryItem_->show();
}

void RecordingDetailView::setIsPlaying(bool playing)
{
    isPlaying_ = playing;
    refreshActions();
}

void RecordingDetailView::setAILaunchMethod(AILaunchMethod method)
{
    aiLaunchMethod_ = method;
    const QSignalBlocker blocker(launchMethod_);
    launchMethod_->setCurrentIndex(launchMethod_->findData(method.rawValue()));
}

QString RecordingDetailView::editedTitle() const
{
    return titleField_->text();
}

void RecordingDetailView::refresh()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    static_cast<CategoryBadge*>(badge_)->setSymbol(shown->category.icon());
    title_->setText(shown->title);
    date_->setText(longDateAndShortTime(shown->date));
    duration_->setText(formattedDuration(shown->duration));
    category_->setText(shown->category.rawValue());
    const bool hasTranscript = !shown->transcription.isEmpty();
    if (transcript_->text() != shown->transcription) {
        transcript_->setText(shown->transcription);
    }
    transcriptCard_->setVisible(hasTranscript);
    noTranscript_->setVisible(!hasTranscript);
    sendToAI_->setVisible(hasTranscript);
    refreshActions();
}

void RecordingDetailView::refreshActions()
{
    play_->setLabel(isPlaying_ ? QStringLiteral("Stop") : QStringLiteral("Play"),
        isPlaying_ ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"), BorderedButton::Prominence::prominent);
    const bool busyHere = reTranscribing_ && reTranscribing_ == recordingID_;
    reTranscribe_->setEnabled(!reTranscribing_);
    reTranscribe_->setBusy(busyHere);
    if (busyHere) {
        reTranscribe_->setLabel(QStringLiteral("Transcribing..."), std::nullopt, BorderedButton::Prominence::bordered);
        reTranscribe_->setMetrics(Font::textStyle(TextStyle::caption, QFont::Medium), 13, QMargins(12, 6, 12, 6));
    } else {
        reTranscribe_->setLabel(QStringLiteral("ReTranscribe"), QStringLiteral("waveform.badge.magnifyingglass"),
            BorderedButton::Prominence::bordered);
        reTranscribe_->setMetrics(Font::textStyle(TextStyle::callout, QFont::Medium), 13, QMargins(12, 6, 12, 6));
    }
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

bool RecordingDetailView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == title_) {
            beginTitleEditing();
            return true;
        }
        if (watched == categoryItem_) {
            beginCategoryEditing();
            return true;
        }
    }
    return AnimatedWidget::eventFilter(watched, event);
}

void RecordingDetailView::beginTitleEditing()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    isEditingTitle_ = true;
    titleField_->setText(shown->title);
    title_->hide();
    titleField_->show();
    titleField_->setFocus(Qt::MouseFocusReason);
    titleField_->selectAll();
}

void RecordingDetailView::saveTitle()
{
    if (!isEditingTitle_) {
        return;
    }
    const QString edited = titleField_->text();
    isEditingTitle_ = false;
    titleField_->hide();
    title_->show();
    if (edited.isEmpty()) {
        consoleLine(QStringLiteral("⚠️ Title cannot be empty"));
        return;
    }
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    try {
        services_.library.updateTitle(*shown, edited);
        consoleLine(QStringLiteral("✅ Title updated: ") + edited);
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("❌ Failed to update title: ") + describe(error));
    }
}

void RecordingDetailView::beginCategoryEditing()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    isEditingCategory_ = true;
    editedCategory_ = shown->category;
    {
        const QSignalBlocker blocker(categoryPicker_);
        categoryPicker_->setCurrentIndex(categoryPicker_->findData(editedCategory_.rawValue()));
    }
    categoryItem_->hide();
    categoryPicker_->show();
}

void RecordingDetailView::saveCategory()
{
    isEditingCategory_ = false;
    categoryPicker_->hide();
    categoryItem_->show();
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    try {
        services_.library.updateCategory(*shown, editedCategory_);
        consoleLine(QStringLiteral("✅ Category updated: ") + editedCategory_.rawValue());
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("❌ Failed to update category: ") + describe(error));
    }
}

void RecordingDetailView::copyTranscription()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    services_.clipboard.clearContents();
    if (!shown->transcription.isEmpty()) {
        services_.clipboard.setText(shown->transcription);
        consoleLine(QStringLiteral("✅ Copied transcription to clipboard"));
    } else {
        services_.clipboard.setText(shown->title);
        consoleLine(QStringLiteral("✅ Copied title to clipboard (no transcription)"));
    }
}

void RecordingDetailView::reTranscribe()
{
    if (reTranscribing_) {
        consoleLine(QStringLiteral("⚠️ Re-transcription already in progress"));
        return;
    }
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    consoleLine(QStringLiteral("🔄 Re-transcribing recording: ") + shown->title);
    consoleLine(QStringLiteral("   Audio file: ") + fileName(shown->audioURL));
    consoleLine(QStringLiteral("   Current transcription length: %1 chars").arg(characterCount(shown->transcription)));
    reTranscribing_ = shown->id;
    refreshActions();
    QMetaObject::invokeMethod(
        this, [this, run = *shown] { performReTranscription(run); }, Qt::QueuedConnection);
}

void RecordingDetailView::performReTranscription(const Recording& recording)
{
    consoleLine(QStringLiteral("🎤 Using WhisperRecorder.shared"));
    const bool ready = services_.recorder.aurisReady();
    consoleLine(QStringLiteral("   Auris ready: ") + (ready ? QStringLiteral("true") : QStringLiteral("false")));
    if (ready) {
        transcribeWhenReady(recording);
        return;
    }
    consoleLine(QStringLiteral("⏳ Waiting for Auris to initialize..."));
    waitForAuris(recording, 0);
}

void RecordingDetailView::waitForAuris(const Recording& recording, int sleeps)
{
    // Readiness is looked at before each of at most 30 one-second sleeps; after the last sleep
    // only the final look follows.
    if (sleeps < readinessSleeps) {
        if (services_.recorder.aurisReady()) {
            consoleLine(QStringLiteral("✅ Auris ready after %1s").arg(sleeps));
            transcribeWhenReady(recording);
            return;
        }
        services_.timer.schedule(
            readinessSleep, this, [this, recording, sleeps] { waitForAuris(recording, sleeps + 1); });
        return;
    }
    transcribeWhenReady(recording);
}

void RecordingDetailView::transcribeWhenReady(const Recording& recording)
{
    if (!services_.recorder.aurisReady()) {
        consoleLine(QStringLiteral("❌ FATAL: Auris not ready after 30s"));
        endReTranscription();
        return;
    }
    transcribe(recording);
}

void RecordingDetailView::transcribe(const Recording& recording)
{
    consoleLine(QStringLiteral("🎯 Starting transcription..."));
    // The library outlives every screen: the result is stored even when this pane has gone.
    LibraryService* library = &services_.library;
    const QPointer<RecordingDetailView> self(this);
    services_.recorder.transcribeExistingFile(
        recording.audioURL, [self, library, recording](const QString& text, std::exception_ptr error) {
            const auto finish = [self] {
                if (self) {
                    self->endReTranscription();
                }
            };
            const auto reportFailure = [&](const QString& description) {
                consoleLine(QStringLiteral("❌ Re-transcription failed with error:"));
                consoleLine(QStringLiteral("   Error: ") + description);
                consoleLine(QStringLiteral("   Localized: ") + description);
                finish();
            };
            if (error) {
                reportFailure(describe(error));
                return;
            }
            consoleLine(QStringLiteral("📝 Transcription result: %1 chars").arg(characterCount(text)));
            consoleLine(QStringLiteral("   Preview: ") + characterPrefix(text, previewLength) + QStringLiteral("..."));
            if (text.isEmpty()) {
                consoleLine(QStringLiteral("❌ FATAL: Empty transcription returned"));
                finish();
                return;
            }
            consoleLine(QStringLiteral("💾 Updating RecordingsManager..."));
            try {
                library->updateTranscription(recording, text);
            } catch (const std::exception& failure) {
                reportFailure(describe(failure));
                return;
            }
            consoleLine(QStringLiteral("✅ Re-transcription completed successfully!"));
            consoleLine(
                QStringLiteral("   New transcription: ") + characterPrefix(text, previewLength) + QStringLiteral("..."));
            finish();
        });
}

void RecordingDetailView::endReTranscription()
{
    reTranscribing_.reset();
    refreshActions();
}

void RecordingDetailView::appear()
{
    appeared_ = true;
    entrance_.jumpTo(0);
    entrance_.animateTo(1, Animation::smoothSpring().delay(0.1), now());
    refreshAppIcons();
    applyEntrance();
}

bool RecordingDetailView::isAnimating() const
{
    return entrance_.isMoving(now()) || titleRow_->revealOpacity() < 0.999 || titleRow_->revealOffset() != 0;
}

void RecordingDetailView::advance()
{
    applyEntrance();
}

void RecordingDetailView::applyEntrance()
{
    const double e = entrance_.value(now());
    const bool done = appeared_ && !entrance_.isMoving(now());
    const double opacity = done ? 1 : std::clamp(e, 0.0, 1.0);
    titleRow_->setReveal(opacity, done ? 0 : 10 * (1 - e));
    actions_->setReveal(opacity, 0);
}

} // namespace parlino
