#include "app/ui/shell/ScreenProbe.hpp"

#include "platform/system/Console.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>

namespace parlino {

namespace {

QString environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value).trimmed() : QString();
}

} // namespace

std::unique_ptr<ScreenProbe> ScreenProbe::fromEnvironment(QApplication& application, Output output)
{
    QSet<QString> reported;
    for (const QString& name : environmentValue(geometryVariable).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        reported.insert(name.trimmed());
    }
    const QString firstPaint = environmentValue(firstPaintVariable);
    const bool quit = firstPaint == QLatin1String("exit");
    const bool tell = quit || (!firstPaint.isEmpty() && firstPaint != QLatin1String("0"));
    if (reported.isEmpty() && !tell) {
        return nullptr;
    }
    if (!output) {
        output = [](const std::string& line) { platform::Console::print(line); };
    }
    std::unique_ptr<ScreenProbe> probe(new ScreenProbe(std::move(reported), tell, quit, std::move(output)));
    application.installEventFilter(probe.get());
    return probe;
}

ScreenProbe::ScreenProbe(QSet<QString> reported, bool reportFirstPaint, bool quitAfterFirstPaint, Output output)
    : reported_(std::move(reported))
    , output_(std::move(output))
    , reportFirstPaint_(reportFirstPaint)
    , quitAfterFirstPaint_(quitAfterFirstPaint)
{
}

bool ScreenProbe::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::Paint && type != QEvent::Move && type != QEvent::Resize && type != QEvent::Hide
        && type != QEvent::FocusIn) {
        return false;
    }
    if (!watched->isWidgetType()) {
        return false;
    }
    auto& widget = static_cast<QWidget&>(*watched);
    if (type == QEvent::FocusIn) {
        if (reported_.contains(widget.objectName())) {
            output_("🧪 focus " + widget.objectName().toStdString());
        }
        return false;
    }
    if (type == QEvent::Hide) {
        if (auto* view = qobject_cast<QAbstractItemView*>(&widget); view && reported_.contains(view->objectName())) {
            forgetRows(*view);
        }
        // Shown again, it is told again, also at the same place and with the same text.
        toldTexts_.remove(&widget);
        if (told_.remove(&widget) > 0) {
            output_("🧪 hidden " + widget.objectName().toStdString());
        }
        return false;
    }
    if (type == QEvent::Paint && reportFirstPaint_ && !firstPaintSeen_ && widget.objectName() == QLatin1String(mainViewName)) {
        firstPaintSeen_ = true;
        // After the paint now under way has been put on the screen.
        QTimer::singleShot(0, this, &ScreenProbe::tellFirstPaint);
    }
    if (reported_.contains(widget.objectName()) && (type == QEvent::Paint || widget.isWindow())) {
        tellGeometry(widget);
        if (type == QEvent::Paint) {
            tellText(widget);
        }
    }
    // A text editor paints its text on its viewport.
    if (type == QEvent::Paint) {
        if (auto* editor = qobject_cast<QPlainTextEdit*>(widget.parentWidget());
            editor && editor->viewport() == &widget && reported_.contains(editor->objectName())) {
            tellText(*editor);
        }
    }
    // A scroll area scrolls by moving its content and copying what was painted, so what sits
    // inside it may not be painted again at its new place.
    if (type == QEvent::Move && !widget.isWindow() && !reported_.isEmpty()) {
        tellDescendants(widget);
    }
    // A list paints its rows on its viewport.
    if (type == QEvent::Paint) {
        if (auto* view = qobject_cast<QAbstractItemView*>(widget.parentWidget());
            view && view->viewport() == &widget && reported_.contains(view->objectName())) {
            tellRows(*view);
        }
    }
    return false;
}

void ScreenProbe::tellRows(QAbstractItemView& view)
{
    const QAbstractItemModel* model = view.model();
    if (!model || !view.isVisible()) {
        return;
    }
    QWidget* viewport = view.viewport();
    const QRect shown = viewport->rect();
    const QString prefix = view.objectName() + QStringLiteral(".row");
    QSet<QString> inView;
    for (int row = 0; row < model->rowCount(view.rootIndex()); ++row) {
        const QRect rect = view.visualRect(model->index(row, 0, view.rootIndex())).intersected(shown);
        if (rect.isEmpty()) {
            continue;
        }
        const QString name = prefix + QString::number(row);
        inView.insert(name);
        const QRect place(viewport->mapToGlobal(rect.topLeft()), rect.size());
        auto told = toldRows_.find(name);
        if (told != toldRows_.end() && *told == place) {
            continue;
        }
        toldRows_.insert(name, place);
        output_(QStringLiteral("🧪 geometry %1 %2 %3 %4 %5")
                .arg(name)
                .arg(place.x())
                .arg(place.y())
                .arg(place.width())
                .arg(place.height())
                .toStdString());
    }
    for (auto told = toldRows_.begin(); told != toldRows_.end();) {
        if (told.key().startsWith(prefix) && !inView.contains(told.key())) {
            output_("🧪 hidden " + told.key().toStdString());
            told = toldRows_.erase(told);
        } else {
            ++told;
        }
    }
}

void ScreenProbe::forgetRows(const QAbstractItemView& view)
{
    const QString prefix = view.objectName() + QStringLiteral(".row");
    for (auto told = toldRows_.begin(); told != toldRows_.end();) {
        if (told.key().startsWith(prefix)) {
            output_("🧪 hidden " + told.key().toStdString());
            told = toldRows_.erase(told);
        } else {
            ++told;
        }
    }
}

void ScreenProbe::tellGeometry(QWidget& widget)
{
    if (!widget.isVisible()) {
        return;
    }
    const QRect place = widget.isWindow() ? widget.geometry() : QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
    auto told = told_.find(&widget);
    if (told != told_.end() && *told == place) {
        return;
    }
    if (told == told_.end()) {
        connect(&widget, &QObject::destroyed, this, [this](QObject* gone) { told_.remove(gone); });
    }
    told_.insert(&widget, place);
    output_(QStringLiteral("🧪 geometry %1 %2 %3 %4 %5")
            .arg(widget.objectName())
            .arg(place.x())
            .arg(place.y())
            .arg(place.width())
            .arg(place.height())
            .toStdString());
}

void ScreenProbe::tellDescendants(QWidget& moved)
{
    for (QWidget* inside : moved.findChildren<QWidget*>()) {
        if (reported_.contains(inside->objectName())) {
            tellGeometry(*inside);
        }
    }
}

void ScreenProbe::tellText(QWidget& widget)
{
    QString text;
    if (const auto* label = qobject_cast<QLabel*>(&widget)) {
        text = label->text();
    } else if (const auto* editor = qobject_cast<QPlainTextEdit*>(&widget)) {
        text = editor->toPlainText();
    } else {
        return;
    }
    auto told = toldTexts_.find(&widget);
    if (told != toldTexts_.end() && *told == text) {
        return;
    }
    if (told == toldTexts_.end()) {
        connect(&widget, &QObject::destroyed, this, [this](QObject* gone) { toldTexts_.remove(gone); });
    }
    toldTexts_.insert(&widget, text);
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    output_(QStringLiteral("🧪 text %1 %2").arg(widget.objectName(), text).toStdString());
}

void ScreenProbe::tellFirstPaint()
{
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    output_("🧪 first paint " + std::to_string(now.count()));
    if (quitAfterFirstPaint_) {
        QCoreApplication::quit();
    }
}

} // namespace parlino
