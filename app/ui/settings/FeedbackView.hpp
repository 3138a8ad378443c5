#pragma once

#include "app/ui/settings/ThankYouView.hpp"
#include "app/ui/UrlOpener.hpp"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace parlino {

class FormWarning;

// The feedback sheet: a category, one to five stars and free text. One to three stars compose a
// mail to the maker in the desktop's mail program and close the sheet; four or five send nothing
// and ask for a store review in a second sheet over this one (a written text is mailed first, so
// that it is not lost). Nothing is kept after it closes. Without a valid address nothing can be sent
// and the button stays off; when no mail program opens, a line under the buttons says so. Either
// way the sheet stays open with what was written.
class FeedbackView : public QDialog {
    Q_OBJECT

public:
    // The maker's feedback address; none is known yet, so no mail can be composed.
    static constexpr const char* feedbackAddress = "";

    explicit FeedbackView(UrlOpener& urlOpener, QWidget* parent = nullptr, QString address = QString::fromLatin1(feedbackAddress));

    static const QStringList& categories();

    QString selectedCategory() const;
    int rating() const { return rating_; }
    QString feedbackText() const;
    bool showThankYouSheet() const { return !thankYou_.isNull(); }
    ThankYouView* thankYouView() const { return thankYou_; }

    void setRating(int stars);
    void submitFeedback();
    // True when the mail program was opened with the feedback.
    bool sendFeedback();

    // The mail link for one submission, every value percent-encoded as a mailto: header value
    // (RFC 6068), with line breaks as CR LF; none when the address is empty.
    static std::optional<QUrl> mailLink(const QString& address, const QString& category, int rating, const QString& text);
    static QString mailSubject(const QString& category);
    static QString mailBody(const QString& category, int rating, const QString& text);

    // Opens the sheet over `parent`'s window; it deletes itself when closed.
    static FeedbackView* present(UrlOpener& urlOpener, QWidget* parent);

private:
    bool canMail() const;
    void showRating();
    void fitScreen(QVBoxLayout& layout);

    UrlOpener& urlOpener_;
    QString address_;
    int rating_ = 0;
    QComboBox* category_ = nullptr;
    std::vector<QToolButton*> stars_;
    QPlainTextEdit* text_ = nullptr;
    QWidget* editor_ = nullptr;
    QPushButton* send_ = nullptr;
    FormWarning* unsent_ = nullptr;
    QPointer<ThankYouView> thankYou_;
};

} // namespace parlino
