#pragma once

#include <QWidget>

namespace parlino::design {

// A horizontal hairline across its width, centred in its height.
class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(int height = 1, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace parlino::design
