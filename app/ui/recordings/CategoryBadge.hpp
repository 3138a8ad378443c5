#pragma once

#include <QString>
#include <QWidget>

namespace parlino {

// The detail pane's title badge: a soft brand glow with the category's gradient symbol.
class CategoryBadge final : public QWidget {
public:
    explicit CategoryBadge(QWidget* parent);

    void setSymbol(const QString& symbol);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

} // namespace parlino
