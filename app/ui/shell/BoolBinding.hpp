#pragma once

#include <QObject>

namespace parlino {

// A flag owned by one screen and handed to another, which may read, set and watch it.
class BoolBinding : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool value() const { return value_; }
    void setValue(bool value)
    {
        if (value_ == value) {
            return;
        }
        value_ = value;
        emit valueChanged(value_);
    }

signals:
    void valueChanged(bool value);

private:
    bool value_ = false;
};

} // namespace parlino
