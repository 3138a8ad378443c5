#include "app/ui/recordings/MacRecordingsListView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsListModel.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/recordings/RecordingDetailView.hpp"
#include "app/ui/recordings/RecordingRowDelegate.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/PNEmptyState.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"
#include "app/ui/design/Theme.hpp"

#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace parlino {

using namespace design;

namespace {

// The search field's rounded grey box.
class SearchBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedRect(QRectF(rect()), 8), Color::surfaceSecondary().resolved());
    }
};

QLabel* symbolLabel(const QString& symbol, const QColor& color, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(symbol, color, size).pixmap(size, size));
    label->setFixedSize(size + 2, size + 2);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

QWidget* MacRecordingsListView::topBar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("recordingsTopBar"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);

    categoryFilter_ = new MenuPicker(bar);
    categoryFilter_->setObjectName(QStringLiteral("categoryFilter"));
    categoryFilter_->setAccessibleName(QStringLiteral("Category"));
    categoryFilter_->setToolTip(QStringLiteral("Category"));
    setWidthAtLeast(*categoryFilter_, 150);
    categoryFilter_->setIconSize(QSize(14, 14));
    categoryFilter_->addItem(QStringLiteral("All"));
    categoryFilter_->insertSeparator(1);
    for (const RecordingCategory category : RecordingCategory::assignableCases()) {
        categoryFilter_->addItem(
            symbolIcon(category.icon(), Color::brandBlue().resolved(), 14), category.rawValue(), category.rawValue());
    }
    connect(categoryFilter_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant raw = categoryFilter_->itemData(index);
        selectedRecordingCategory_ = raw.isValid() ? RecordingCategory::fromRawValue(raw.toString()) : std::nullopt;
        applyFilter();
    });
    layout->addWidget(categoryFilter_);
    layout->addWidget(line(QFrame::VLine, bar));
    layout->addWidget(searchBox(), 1);

    layout->addSpacing(4);
    auto* sync = toolbarButton(QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Sync"),
        QStringLiteral("Sync with cloud"), "syncButton");
    connect(sync, &QToolButton::clicked, this, &MacRecordingsListView::syncWithCloud);
    layout->addWidget(sync);
    auto* help = toolbarButton(QStringLiteral("questionmark.circle"), QStringLiteral("Help"),
        QStringLiteral("Show help"), "helpButton");
    connect(help, &QToolButton::clicked, this, &MacRecordingsListView::helpRequested);
    layout->addWidget(help);
    auto* feedback = toolbarButton(QStringLiteral("envelope.fill"), QStringLiteral("Feedback"),
        QStringLiteral("Send feedback"), "feedbackButton");
    connect(feedback, &QToolButton::clicked, this, &MacRecordingsListView::feedbackRequested);
    layout->addWidget(feedback);

    count_ = new PlainLabel(QString(), Font::textStyle(TextStyle::caption), Color::textSecondary(), bar);
    count_->setObjectName(QStringLiteral("recordingsCount"));
    count_->setMinimumWidth(QFontMetrics(count_->font()).horizontalAdvance(QStringLiteral("0000 recordings")));
    count_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(count_);
    return bar;
}

QWidget* MacRecordingsListView::searchBox()
{
    auto* box = new SearchBox(this);
    box->setObjectName(QStringLiteral("searchBox"));
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(8, 6, 6, 6);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("magnifyingglass"), Color::textSecondary().resolved(), 14, box));
    search_ = new QLineEdit(box);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(QStringLiteral("Search recordings..."));
    search_->setFrame(false);
    search_->setStyleSheet(QStringLiteral("QLineEdit { border: none; background: transparent; padding: 0; }"));
    layout->addWidget(search_, 1);
    clearSearch_ = new QToolButton(box);
    clearSearch_->setObjectName(QStringLiteral("clearSearchButton"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    clearSearch_->setCursor(Qt::PointingHandCursor);
    clearSearch_->setAutoRaise(true);
    AppearanceFollower::follow(clearSearch_, [button = clearSearch_] {
        button->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), Color::textSecondary().resolved(), 14));
    });
    clearSearch_->setIconSize(QSize(14, 14));
    clearSearch_->setFixedSize(18, 18);
    clearSearch_->setStyleSheet(Theme::borderlessToolButtonSheet());
    clearSearch_->hide();
    layout->addWidget(clearSearch_);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        clearSearch_->setVisible(!text.isEmpty());
        applyFilter();
    });
    connect(clearSearch_, &QToolButton::clicked, this, [this] { search_->clear(); });
    return box;
}

QToolButton* MacRecordingsListView::toolbarButton(
    const QString& symbol, const QString& label, const QString& tooltip, const char* objectName)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(objectName));
    // Toolbar items show their symbol; the label is the accessible name, the tooltip the help.
    button->setText(escapedMnemonic(label));
    button->setAccessibleName(label);
    button->setToolTip(tooltip);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIconSize(QSize(17, 17));
    button->setFixedSize(30, 28);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoRaise(true);
    AppearanceFollower::follow(button, [button, symbol] {
        button->setIcon(symbolIcon(symbol, Color::textPrimary().opacity(0.75).resolved(), 17));
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 6px; background: transparent; }"
                                             "QToolButton:hover { background: %1; }"
                                             "QToolButton:pressed { background: %2; }"
                                             "QToolButton:focus { border: 2px solid %3; }")
                .arg(Color::surfaceSecondary().resolved().name(), Color::surfaceTertiary().resolved().name(),
                    Color::brandBlue().resolved().name()));
    });
    return button;
}

QString MacRecordingsListView::searchText() const
{
    return search_->text();
}

void MacRecordingsListView::setSearchText(const QString& text)
{
    search_->setText(text);
}

void MacRecordingsListView::focusSearch()
{
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
}

void MacRecordingsListView::setSelectedRecordingCategory(std::optional<RecordingCategory> category)
{
    // The first entry is the no-filter "All"; the categories follow the separator.
    const int index
        = category && *category != RecordingCategory::all ? categoryFilter_->findData(category->rawValue()) : 0;
    categoryFilter_->setCurrentIndex(index);
}

} // namespace parlino
