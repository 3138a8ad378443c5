#include "app/ui/StatusNotice.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>

namespace parlino {

using namespace design;

namespace {

const QString noticeName = QStringLiteral("statusNotice");
constexpr int bottomMargin = 16;
constexpr int sideMargin = 24;
constexpr int iconSize = 16;

} // namespace

StatusNotice::StatusNotice(Clock& clock, QWidget& window)
    : QWidget(&window)
    , clock_(clock)
{
    setObjectName(noticeName);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 16, 8);
    layout->setSpacing(8);
    icon_ = new QLabel(this);
    layout->addWidget(icon_, 0, Qt::AlignVCenter);
    text_ = new PlainLabel(QString(), Font::textStyle(TextStyle::callout), Color::textPrimary(), this);
    text_->setObjectName(QStringLiteral("statusNoticeText"));
    text_->setTextFormat(Qt::PlainText);
    layout->addWidget(text_, 1, Qt::AlignVCenter);
    window.installEventFilter(this);
    hide();
}

void StatusNotice::post(QWidget& widget, Clock& clock, const QString& message, Kind kind)
{
    QWidget* window = widget.window();
    StatusNotice* notice = of(widget);
    if (!notice) {
        notice = new StatusNotice(clock, *window);
    }
    notice->showMessage(message, kind);
}

StatusNotice* StatusNotice::of(const QWidget& widget)
{
    return widget.window()->findChild<StatusNotice*>(noticeName, Qt::FindDirectChildrenOnly);
}

QString StatusNotice::message() const
{
    return isVisible() ? text_->text() : QString();
}

void StatusNotice::showMessage(const QString& message, Kind kind)
{
    kind_ = kind;
    const QString symbol = kind == Kind::problem ? QStringLiteral("exclamationmark.triangle.fill")
        : kind == Kind::outcome                  ? QStringLiteral("checkmark.circle.fill")
                                                 : QStringLiteral("clock.fill");
    icon_->setPixmap(symbolIcon(symbol, tint().resolved(), iconSize).pixmap(iconSize, iconSize));
    text_->setText(message);
    const auto shown = ++shown_;
    place();
    show();
    raise();
    clock_.schedule(shownFor, this, [this, shown] {
        if (shown == shown_) {
            hide();
        }
    });
}

void StatusNotice::place()
{
    const QWidget* window = parentWidget();
    const int width = std::min(sizeHint().width(), std::max(0, window->width() - 2 * sideMargin));
    const int height = heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height();
    setGeometry((window->width() - width) / 2, window->height() - bottomMargin - height, width, height);
}

Color StatusNotice::tint() const
{
    switch (kind_) {
    case Kind::problem: return Color::dangerRed();
    case Kind::outcome: return Color::successGreen();
    case Kind::waiting: return Color::brandBlue();
    }
    return Color::dangerRed();
}

bool StatusNotice::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) {
        place();
    }
    return QWidget::eventFilter(watched, event);
}

void StatusNotice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = area.height() / 2;
    painter.fillPath(roundedRect(area, radius), Color::surfaceSecondary().resolved());
    painter.setPen(QPen(tint().opacity(0.45).resolved(), 1));
    painter.drawPath(roundedRect(area, radius));
}

} // namespace parlino
