#include "app/ui/design/LinearGradient.hpp"

namespace parlino::design {

LinearGradient::LinearGradient(std::vector<Color> colors, QPointF startPoint, QPointF endPoint)
    : colors_(std::move(colors))
    , startPoint_(startPoint)
    , endPoint_(endPoint)
{
}

QLinearGradient LinearGradient::brush(const QRectF& area, Appearance appearance) const
{
    const auto at = [&](QPointF unit) {
        return QPointF(area.left() + unit.x() * area.width(), area.top() + unit.y() * area.height());
    };
    QLinearGradient gradient(at(startPoint_), at(endPoint_));
    if (colors_.size() == 1) {
        gradient.setColorAt(0, colors_.front().resolved(appearance));
        gradient.setColorAt(1, colors_.front().resolved(appearance));
        return gradient;
    }
    for (std::size_t i = 0; i < colors_.size(); ++i) {
        gradient.setColorAt(static_cast<double>(i) / static_cast<double>(colors_.size() - 1),
            colors_[i].resolved(appearance));
    }
    return gradient;
}

QColor LinearGradient::middleColor() const
{
    return colors_.empty() ? QColor() : colors_[colors_.size() / 2].resolved();
}

namespace {
Color hex(const char16_t* text)
{
    return Color(QStringView(text));
}
} // namespace

const LinearGradient& LinearGradient::recordingGradient()
{
    static const LinearGradient gradient({Color::accentOrange(), Color::dangerRed(), Color::brandPink()},
        UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::primaryGradient()
{
    static const LinearGradient gradient(
        {Color::brandBlue(), Color::brandIndigo()}, UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::successGradient()
{
    static const LinearGradient gradient(
        {hex(u"#34D399"), Color::successGreen(), hex(u"#059669")}, UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::dangerGradient()
{
    static const LinearGradient gradient(
        {hex(u"#F87171"), Color::dangerRed(), hex(u"#DC2626")}, UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::infoGradient()
{
    static const LinearGradient gradient(
        {hex(u"#22D3EE"), Color::infoCyan(), Color::brandBlue()}, UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::brandGradient()
{
    static const LinearGradient gradient({Color::brandBlue(), Color::brandViolet(), Color::brandPink()},
        UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

const LinearGradient& LinearGradient::warmGradient()
{
    static const LinearGradient gradient({Color::warningAmber(), Color::accentOrange(), Color::dangerRed()},
        UnitPoint::leading, UnitPoint::trailing);
    return gradient;
}

const LinearGradient& LinearGradient::backgroundTintGradient()
{
    static const LinearGradient gradient(
        {Color::brandBlue().opacity(0.05), Color::brandViolet().opacity(0.08), Color::brandPink().opacity(0.03)},
        UnitPoint::topLeading, UnitPoint::bottomTrailing);
    return gradient;
}

} // namespace parlino::design
