#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/recordings/CategoryBadge.hpp"
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


} // namespace

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
    saveError_ = new PlainLabel(QString(), Font::textStyle(TextStyle::callout), Color::dangerRed(), block);
    saveError_->setObjectName(QStringLiteral("detailSaveError"));
    saveError_->setWordWrap(true);
    saveError_->hide();
    layout->addWidget(saveError_);
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
    for (const RecordingCategory category : RecordingCategory::assignableCases()) {
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

void RecordingDetailView::refreshHeader(const Recording& shown)
{
    static_cast<CategoryBadge*>(badge_)->setSymbol(shown.category.icon());
    title_->setText(shown.title);
    date_->setText(RecordingRow::dateAndTimeText(shown.date));
    duration_->setText(formattedDuration(shown.duration));
    category_->setText(shown.category.rawValue());
}

} // namespace parlino
