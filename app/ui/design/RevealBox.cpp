#include "app/ui/design/RevealBox.hpp"

#include <QEvent>
#include <QGraphicsOpacityEffect>

#include <cmath>

namespace parlino::design {

RevealBox::RevealBox(QWidget* content, QWidget* parent)
    : QWidget(parent)
    , content_(content)
{
    content_->setParent(this);
    setSizePolicy(content_->sizePolicy());
}

QSize RevealBox::sizeHint() const
{
    return content_->sizeHint();
}

QSize RevealBox::minimumSizeHint() const
{
    return content_->minimumSizeHint();
}

bool RevealBox::hasHeightForWidth() const
{
    return content_->hasHeightForWidth();
}

int RevealBox::heightForWidth(int width) const
{
    return content_->heightForWidth(width);
}

void RevealBox::setReveal(double opacity, double offset)
{
    opacity_ = opacity;
    offset_ = offset;
    if (opacity_ < 0.999) {
        if (!effect_) {
            effect_ = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(effect_);
        }
        effect_->setOpacity(opacity_);
    } else if (effect_) {
        setGraphicsEffect(nullptr); // deletes the effect
        effect_ = nullptr;
    }
    place();
}

void RevealBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

bool RevealBox::event(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QWidget::event(event);
}

void RevealBox::place()
{
    content_->setGeometry(0, static_cast<int>(std::lround(offset_)), width(), height());
}

} // namespace parlino::design
