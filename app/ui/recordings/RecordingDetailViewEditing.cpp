#include "app/ui/recordings/RecordingDetailView.hpp"

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

QString RecordingDetailView::editedTitle() const
{
    return titleField_->text();
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
        showSaveError(std::nullopt);
    } catch (const std::exception& error) {
        const QString failure = QStringLiteral("❌ Failed to update title: ") + describe(error);
        consoleLine(failure);
        showSaveError(failure);
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
        showSaveError(std::nullopt);
    } catch (const std::exception& error) {
        const QString failure = QStringLiteral("❌ Failed to update category: ") + describe(error);
        consoleLine(failure);
        showSaveError(failure);
    }
}

void RecordingDetailView::showSaveError(const std::optional<QString>& failure)
{
    saveError_->setText(failure.value_or(QString()));
    saveError_->setVisible(failure.has_value());
}

} // namespace parlino
