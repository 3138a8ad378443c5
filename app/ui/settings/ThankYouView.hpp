#pragma once

#include "app/ui/UrlOpener.hpp"

#include <QDialog>
#include <QString>
#include <QUrl>

#include <optional>

namespace parlino {

class FormWarning;

// The thank-you sheet shown over the feedback form after four or five stars: why a review helps,
// a button to the store's review page and one to close it. Without a valid review page, or when
// nothing opens it, a line under the review button says so and the sheet stays open.
class ThankYouView : public QDialog {
    Q_OBJECT

public:
    // The store page where the user writes a review; the application has none yet.
    static constexpr const char* reviewPage = "";

    explicit ThankYouView(UrlOpener& urlOpener, QWidget* parent = nullptr, QString reviewUrl = QString::fromLatin1(reviewPage));

    // True when the review page was opened.
    bool openAppStoreReview();

private:
    std::optional<QUrl> reviewPageUrl() const;

    UrlOpener& urlOpener_;
    QString reviewUrl_;
    FormWarning* unopened_ = nullptr;
};

} // namespace parlino
