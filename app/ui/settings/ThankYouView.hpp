#pragma once

#include "app/ui/UrlOpener.hpp"

#include <QDialog>
#include <QString>

namespace parlino {

// The thank-you sheet shown over the feedback form after four or five stars: why a review helps,
// a button to the store's review page and one to close it.
class ThankYouView : public QDialog {
    Q_OBJECT

public:
    // The store page where the user writes a review; the application has none yet.
    static constexpr const char* reviewPage = "";

    explicit ThankYouView(UrlOpener& urlOpener, QWidget* parent = nullptr, QString reviewUrl = QString::fromLatin1(reviewPage));

    void openAppStoreReview();

private:
    UrlOpener& urlOpener_;
    QString reviewUrl_;
};

} // namespace parlino
