#include "app/ui/shell/RecordingOptionsView.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/SwitchToggle.hpp"
#include "app/ui/design/Symbol.hpp"
#include "app/ui/design/Theme.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

namespace {

QLabel* symbolLabel(const QString& name, const Color& color, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(name, color.resolved(), size).pixmap(size, size));
    label->setFixedSize(16, 16);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLineEdit* textField(const QString& placeholder, int maximumWidth, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Font::textStyle(TextStyle::caption));
    field->setMaximumWidth(maximumWidth);
    field->setMinimumWidth(maximumWidth);
    field->setClearButtonEnabled(false);
    return field;
}

} // namespace

QString RecordingOptionsView::categoryIcon(RecordingCategory category)
{
    return category.icon();
}

RecordingOptionsView::RecordingOptionsView(
    platform::UserDefaults& defaults, AnimationClock& clock, bool compact, bool cloudSynced, QWidget* parent)
    : QWidget(parent)
    , defaults_(defaults)
    , compact_(compact)
    , cloudSynced_(cloudSynced)
{
    setObjectName(compact ? QStringLiteral("recordingOptionsCompact") : QStringLiteral("recordingOptions"));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(compact_ ? 6 : 10);
    layout->setContentsMargins(compact_ ? 8 : 16, compact_ ? 6 : 10, compact_ ? 8 : 16, compact_ ? 6 : 10);
    layout->addWidget(titleRow(), 0, Qt::AlignHCenter);
    layout->addWidget(categoryRow(), 0, Qt::AlignHCenter);
    layout->addWidget(togglesBlock(clock));
    layout->addWidget(keywordsRow(), 0, Qt::AlignHCenter);

    for (const char* key : {SettingsKeys::recordingTitle, SettingsKeys::selectedRecordingCategory,
             SettingsKeys::recordingKeywords, SettingsKeys::copyToClipboardAfterRecording,
             SettingsKeys::autoEnterAfterPaste, SettingsKeys::saveToRecordings, SettingsKeys::saveAudioFile}) {
        readSetting(QString::fromLatin1(key));
    }
    connect(&defaults_, &platform::UserDefaults::changed, this, &RecordingOptionsView::readSetting);
}

QToolButton* RecordingOptionsView::clearButton(const QString& objectName)
{
    auto* button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    AppearanceFollower::follow(button, [button] {
        button->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), Color::textSecondary().resolved(), 14));
    });
    button->setIconSize(QSize(14, 14));
    button->setFixedSize(18, 18);
    button->setStyleSheet(Theme::borderlessToolButtonSheet());
    return button;
}

QWidget* RecordingOptionsView::titleRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("character.cursor.ibeam"), Color::brandBlue(), 12, row));
    title_ = textField(QStringLiteral("Recording name (auto if empty)"), 280, row);
    title_->setObjectName(QStringLiteral("recordingTitleField"));
    layout->addWidget(title_);
    clearTitle_ = clearButton(QStringLiteral("clearRecordingTitle"));
    layout->addWidget(clearTitle_);
    connect(title_, &QLineEdit::textEdited, this,
        [this](const QString& text) { defaults_.setString(QString::fromLatin1(SettingsKeys::recordingTitle), text); });
    connect(clearTitle_, &QToolButton::clicked, this,
        [this] { defaults_.setString(QString::fromLatin1(SettingsKeys::recordingTitle), QString()); });
    return row;
}

QWidget* RecordingOptionsView::categoryRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("folder.fill"), Color::brandBlue(), 12, row));
    layout->addWidget(new PlainLabel(
        QStringLiteral("Category"), Font::textStyle(TextStyle::caption), Color::textSecondary(), row));
    category_ = new MenuPicker(row);
    category_->setObjectName(QStringLiteral("categoryPicker"));
    category_->setFixedWidth(140);
    category_->setFont(Font::textStyle(TextStyle::caption));
    category_->setIconSize(QSize(14, 14));
    for (const RecordingCategory category : RecordingCategory::assignableCases()) {
        category_->addItem(symbolIcon(categoryIcon(category), Color::brandBlue().resolved(), 14), category.rawValue(),
            category.rawValue());
    }
    layout->addWidget(category_);
    layout->addStretch(1);
    connect(category_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            defaults_.setString(
                QString::fromLatin1(SettingsKeys::selectedRecordingCategory), category_->itemData(index).toString());
        }
    });
    return row;
}

QWidget* RecordingOptionsView::toggleRow(AnimationClock& clock, const QString& icon, const QString& title,
    const QString& subtitle, const char* key, bool defaultValue, const QString& objectName)
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(symbolLabel(icon, Color::brandBlue(), 13, row), 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(new PlainLabel(title, Font::textStyle(TextStyle::caption, QFont::Medium), Color::textPrimary(), row));
    auto* detail = new PlainLabel(subtitle, Font::textStyle(TextStyle::caption2), Color::textSecondary(), row);
    detail->setWordWrap(true);
    detail->setMaximumHeight(QFontMetrics(detail->font()).lineSpacing() * 2 + 2);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);
    auto* toggle = new SwitchToggle(clock, row);
    toggle->setObjectName(objectName);
    toggle->setAccessibleName(title);
    layout->addWidget(toggle, 0, Qt::AlignVCenter);
    const QString settingsKey = QString::fromLatin1(key);
    connect(toggle, &QAbstractButton::toggled, this, [this, settingsKey](bool on) { defaults_.setBool(settingsKey, on); });
    switches_.emplace_back(settingsKey, toggle);
    switchDefaults_.push_back(defaultValue);
    return row;
}

QWidget* RecordingOptionsView::togglesBlock(AnimationClock& clock)
{
    auto* block = new QWidget(this);
    // The design's width, wider with larger text so that each description keeps to its line.
    block->setFixedWidth(qRound(400 * Font::scale()));
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(6);
    layout->addWidget(toggleRow(clock, QStringLiteral("doc.on.clipboard"), QStringLiteral("Copy to clipboard"),
        QStringLiteral("Transcript lands in clipboard — paste anywhere with Ctrl+V"),
        SettingsKeys::copyToClipboardAfterRecording, SettingsKeys::copyToClipboardAfterRecordingDefault,
        QStringLiteral("copyToClipboardSwitch")));
    layout->addWidget(toggleRow(clock, QStringLiteral("return"), QStringLiteral("Auto-press Enter"),
        QStringLiteral("Sends Return after the transcript is pasted (chat apps, terminals)"),
        SettingsKeys::autoEnterAfterPaste, SettingsKeys::autoEnterAfterPasteDefault,
        QStringLiteral("autoEnterSwitch")));
    layout->addWidget(toggleRow(clock, QStringLiteral("square.and.arrow.down"), QStringLiteral("Save to Recordings"),
        cloudSynced_ ? QStringLiteral("Keep the transcript in the Recordings list (cloud-synced)")
                     : QStringLiteral("Keep the transcript in the Recordings list"),
        SettingsKeys::saveToRecordings,
        SettingsKeys::saveToRecordingsDefault, QStringLiteral("saveToRecordingsSwitch")));
    layout->addWidget(toggleRow(clock, QStringLiteral("waveform"), QStringLiteral("Keep audio file"),
        QStringLiteral("Persist the original .wav next to the transcript"), SettingsKeys::saveAudioFile,
        SettingsKeys::saveAudioFileDefault, QStringLiteral("saveAudioFileSwitch")));
    return block;
}

QWidget* RecordingOptionsView::keywordsRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("tag.fill"), Color::accentOrange(), 12, row));
    keywords_ = textField(QStringLiteral("keywords, separated, by comma"), 260, row);
    keywords_->setObjectName(QStringLiteral("recordingKeywordsField"));
    layout->addWidget(keywords_);
    clearKeywords_ = clearButton(QStringLiteral("clearRecordingKeywords"));
    layout->addWidget(clearKeywords_);
    auto* optional = new PlainLabel(
        QStringLiteral("optional"), Font::textStyle(TextStyle::caption2), Color::textSecondary().opacity(0.6), row);
    optional->setObjectName(QStringLiteral("keywordsOptionalLabel"));
    layout->addWidget(optional);
    connect(keywords_, &QLineEdit::textEdited, this, [this](const QString& text) {
        defaults_.setString(QString::fromLatin1(SettingsKeys::recordingKeywords), text);
    });
    connect(clearKeywords_, &QToolButton::clicked, this,
        [this] { defaults_.setString(QString::fromLatin1(SettingsKeys::recordingKeywords), QString()); });
    return row;
}

void RecordingOptionsView::readSetting(const QString& key)
{
    const auto syncField = [](QLineEdit* field, QToolButton* clear, const QString& value) {
        if (field->text() != value) {
            field->setText(value);
        }
        clear->setVisible(!value.isEmpty());
    };
    if (key == QLatin1String(SettingsKeys::recordingTitle)) {
        syncField(title_, clearTitle_, defaults_.stringValue(key));
        return;
    }
    if (key == QLatin1String(SettingsKeys::recordingKeywords)) {
        syncField(keywords_, clearKeywords_, defaults_.stringValue(key));
        return;
    }
    if (key == QLatin1String(SettingsKeys::selectedRecordingCategory)) {
        const QString raw
            = defaults_.stringValue(key, QString::fromLatin1(SettingsKeys::selectedRecordingCategoryDefault));
        const QSignalBlocker blocker(category_);
        category_->setCurrentIndex(category_->findData(raw));
        return;
    }
    for (std::size_t i = 0; i < switches_.size(); ++i) {
        if (switches_[i].first == key) {
            const QSignalBlocker blocker(switches_[i].second);
            switches_[i].second->setChecked(defaults_.boolValue(key, switchDefaults_[i]));
        }
    }
}

void RecordingOptionsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRect(QRectF(rect()), 10), Color::surfaceSecondary().opacity(0.6).resolved());
}

} // namespace parlino
