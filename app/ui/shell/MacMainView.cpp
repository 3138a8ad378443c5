#include "app/ui/shell/MacMainView.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "app/ui/settings/FeedbackView.hpp"
#include "app/ui/settings/HelpView.hpp"
#include "app/ui/shell/MacRecordView.hpp"
#include "app/ui/recordings/MacRecordingsListView.hpp"
#include "app/ui/settings/MacSettingsView.hpp"
#include "app/ui/shell/PushToTalkPill.hpp"
#include "app/ui/shell/TranscriptSheet.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/dictation/AfterRecordingActions.hpp"
#include "app/ui/design/SheetWindow.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNEmptyState.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>

#include <algorithm>

namespace parlino {

using namespace design;

namespace {

constexpr int sidebarMinimumWidth = 180;
constexpr int sidebarIdealWidth = 250;
// The window width at which the sidebar is at its minimum.
constexpr int narrowWindowWidth = 900;

// Sidebar rows: a rounded highlight in the brand colour for the chosen destination.
class SidebarDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {160, 34}; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF row = QRectF(option.rect).adjusted(10, 2, -10, -2);
        const bool selected = option.state & QStyle::State_Selected;
        const bool hovered = option.state & QStyle::State_MouseOver;
        if (selected) {
            painter->fillPath(roundedRect(row, 8), Color::brandBlue().resolved());
        } else if (hovered) {
            painter->fillPath(roundedRect(row, 8), Color::surfaceTertiary().opacity(0.7).resolved());
        }
        if ((option.state & QStyle::State_HasFocus) && option.widget && option.widget->hasFocus()) {
            QPen ring(Color::brandBlue().opacity(0.45).resolved(), 2);
            painter->setPen(ring);
            painter->drawPath(roundedRect(row.adjusted(-2, -1, 2, 1), 9));
        }
        const QColor ink = selected ? QColor(Qt::white) : Color::textPrimary().resolved();
        const QColor iconInk = selected ? QColor(Qt::white) : Color::brandBlue().resolved();
        const QString symbol = index.data(Qt::UserRole + 1).toString();
        painter->fillPath(symbolPath(symbol, 15, QPointF(row.left() + 20, row.center().y())), iconInk);
        const QFont font = Font::textStyle(TextStyle::body, QFont::Medium);
        const QFontMetricsF metrics(font);
        painter->fillPath(textPath(index.data(Qt::DisplayRole).toString(), font,
                              QPointF(row.left() + 38, row.center().y() + (metrics.ascent() - metrics.descent()) / 2)),
            ink);
        painter->restore();
    }
};

// The screens of the destinations the caller left open: the recordings browser, whose toolbar
// opens the help and feedback sheets, and the settings pane.
MacMainView::Destinations withDefaultScreens(MacMainView::Destinations destinations)
{
    if (!destinations.recordings) {
        destinations.recordings = [](AppServices& services, QWidget* parent) -> QWidget* {
            auto* list = new MacRecordingsListView(services, parent);
            QObject::connect(list, &MacRecordingsListView::helpRequested, list, [list] { HelpView::present(list); });
            QObject::connect(list, &MacRecordingsListView::feedbackRequested, list,
                [list, &services] { FeedbackView::present(services.urlOpener, list); });
            return list;
        };
    }
    if (!destinations.settings) {
        destinations.settings = [](AppServices& services, QWidget* parent) -> QWidget* {
            return new MacSettingsView(services, MacSettingsView::chooseFolderWithPanel, parent);
        };
    }
    return destinations;
}

} // namespace

MacMainView::MacMainView(AppServices& services, Destinations destinations, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , destinations_(withDefaultScreens(std::move(destinations)))
    , shouldAutoStartRecording_(new BoolBinding(this))
{
    setObjectName(QStringLiteral("mainView"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split_ = split;
    split->setObjectName(QStringLiteral("mainSplit"));
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    layout->addWidget(split);

    sidebar_ = sidebar();
    split->addWidget(sidebar_);

    detail_ = new QWidget(split);
    detail_->setObjectName(QStringLiteral("detail"));
    auto* detailLayout = new QHBoxLayout(detail_);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    screens_ = new QStackedWidget(detail_);
    detailLayout->addWidget(screens_);
    split->addWidget(detail_);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({sidebarIdealWidth, 900});
    connect(split, &QSplitter::splitterMoved, this, [this] { sidebarMovedByUser_ = true; });

    recordView_ = new MacRecordView(services_, *shouldAutoStartRecording_,
        [this](const RecordingResult& result) { handleRecordingComplete(result); }, screens_);
    screens_->addWidget(recordView_);

    pill_ = new PushToTalkPill(services_.clock, detail_);
    detail_->installEventFilter(this);
    connect(&services_.globeDictation, &GlobeDictationService::isActiveChanged, this,
        [this] { pill_->setActive(services_.globeDictation.isActive()); });
    pill_->setActive(services_.globeDictation.isActive());

    addShortcuts();

    connect(&services_.globeDictation, &GlobeDictationService::needsAccessibilityPermissionChanged, this, [this] {
        if (services_.globeDictation.needsAccessibilityPermission() && services_.globeDictation.isAnyTriggerEnabled()) {
            presentAccessibilityAlert();
        }
    });
}

MacMainView::~MacMainView() = default;

QListWidget* MacMainView::sidebar()
{
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("sidebar"));
    list->setMinimumWidth(sidebarMinimumWidth);
    list->setMaximumWidth(300);
    list->setFrameShape(QFrame::NoFrame);
    list->setItemDelegate(new SidebarDelegate(list));
    list->setMouseTracking(true);
    // A Tab stop of its own; the arrow keys move between the destinations.
    list->setFocusPolicy(Qt::StrongFocus);
    AppearanceFollower::follow(list, [list] {
        list->setStyleSheet(QStringLiteral("QListWidget { background: %1; border: none; padding-top: 14px; }")
                .arg(Color::surfaceSecondary().resolved().name()));
    });
    const struct {
        const char* text;
        const char* symbol;
        const char* objectName;
    } rows[] = {
        {"Record", "mic.circle.fill", "sidebarRecord"},
        {"Recordings", "list.bullet", "sidebarRecordings"},
        {"Settings", "gearshape", "sidebarSettings"},
    };
    for (const auto& row : rows) {
        auto* item = new QListWidgetItem(QString::fromUtf8(row.text), list);
        item->setData(Qt::UserRole + 1, QString::fromLatin1(row.symbol));
        item->setData(Qt::AccessibleTextRole, QString::fromUtf8(row.text));
    }
    list->setCurrentRow(0);
    connect(list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) {
            setSelectedView(static_cast<MainViewSelection>(row));
        }
    });
    return list;
}

void MacMainView::addShortcuts()
{
    // Text fields take their own keys first (the toolkit asks them before any shortcut fires);
    // none of these keys is one a field uses.
    const auto add = [this](QKeySequence keys, const char* name, auto action) {
        auto* shortcut = new QShortcut(keys, this, action);
        shortcut->setObjectName(QString::fromLatin1(name));
        shortcut->setContext(Qt::WindowShortcut);
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_R), "recordShortcut", [this] { toggleRecording(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Comma), "settingsShortcut",
        [this] { setSelectedView(MainViewSelection::settings); });
    add(QKeySequence(Qt::CTRL | Qt::Key_F), "searchShortcut", [this] {
        setSelectedView(MainViewSelection::recordings);
        if (auto* list = qobject_cast<MacRecordingsListView*>(recordingsScreen_)) {
            list->focusSearch();
        }
    });
}

void MacMainView::toggleRecording()
{
    if (services_.recorder.isRecording()) {
        recordView_->stopRecording();
        return;
    }
    if (services_.recorder.isPreprocessing() || services_.recorder.isTranscribing()) {
        return;
    }
    setSelectedView(MainViewSelection::record);
    recordView_->startRecording();
}

QWidget* MacMainView::currentScreen() const
{
    return screens_->currentWidget();
}

void MacMainView::setSelectedView(MainViewSelection selection)
{
    const auto screenOf = [this](QWidget*& screen, const ScreenFactory& factory, const QString& icon,
                              const QString& title) {
        if (!screen) {
            screen = factory ? factory(services_, screens_)
                             : new PNEmptyState(services_.clock, icon, title, QString(), std::nullopt, {}, screens_);
            screens_->addWidget(screen);
        }
        return screen;
    };
    selectedView_ = selection;
    switch (selection) {
    case MainViewSelection::record: screens_->setCurrentWidget(recordView_); break;
    case MainViewSelection::recordings:
        screens_->setCurrentWidget(screenOf(recordingsScreen_, destinations_.recordings, QStringLiteral("list.bullet"),
            QStringLiteral("Recordings")));
        break;
    case MainViewSelection::settings:
        screens_->setCurrentWidget(screenOf(
            settingsScreen_, destinations_.settings, QStringLiteral("gearshape"), QStringLiteral("Settings")));
        break;
    }
    const int row = static_cast<int>(selection);
    if (sidebar_->currentRow() != row) {
        const QSignalBlocker blocker(sidebar_);
        sidebar_->setCurrentRow(row);
    }
    placePill();
    emit selectedViewChanged(selection);
}

void MacMainView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Restoring a minimised window shows it again but is no new appearance.
    if (!appeared_) {
        appeared_ = true;
        handleAppear();
    }
}

void MacMainView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        appeared_ = false;
    }
}

void MacMainView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A narrow window gives the sidebar's room to the screens, down to the sidebar's minimum.
    if (!sidebarMovedByUser_) {
        const int sidebar = std::clamp(width() - narrowWindowWidth + sidebarMinimumWidth, sidebarMinimumWidth,
            sidebarIdealWidth);
        split_->setSizes({sidebar, std::max(0, width() - sidebar - split_->handleWidth())});
    }
    placePill();
}

bool MacMainView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == detail_ && event->type() == QEvent::Resize) {
        placePill();
    }
    return QWidget::eventFilter(watched, event);
}

void MacMainView::placePill()
{
    const QSize size = pill_->sizeHint();
    pill_->setGeometry((detail_->width() - size.width()) / 2, 0, size.width(), size.height());
    pill_->raise();
}

void MacMainView::handleAppear()
{
    services_.library.loadRecordings();
    services_.library.syncWithCloud();
    services_.hotkey.setOnHotkeyPressed([self = QPointer(this)] {
        if (self) {
            self->handleHotkeyPressed();
        }
    });
    if (services_.globeDictation.isAnyTriggerEnabled() && services_.globeDictation.needsAccessibilityPermission()) {
        presentAccessibilityAlert();
    }
}

QString MacMainView::accessibilityAlertMessage(const QString& grant)
{
    QStringList lines = {
        QStringLiteral("Parlino uses Right Ctrl, Caps Lock, and Right Shift for instant voice-to-text in any app."),
        QString(),
        QStringLiteral("To detect these keys, Linux requires an X11 session (RECORD and XTEST)."),
        QString(),
        QStringLiteral("What Parlino does:"),
        QStringLiteral("• Listens ONLY for Right Ctrl / Caps Lock / Right Shift"),
        QStringLiteral("• Pastes transcribed text at your cursor"),
        QStringLiteral("• Each trigger can be individually enabled/disabled"),
        QString(),
        QStringLiteral("What Parlino does NOT do:"),
        QStringLiteral("• Does NOT log keystrokes or monitor typing"),
        QStringLiteral("• Does NOT send any data to the internet"),
        QStringLiteral("• 100% local transcription (Auris)"),
        QString(),
        QStringLiteral("After clicking \"Allow\":"),
        QStringLiteral("1. Log out of this desktop session"),
        QStringLiteral("2. Choose an X11 (Xorg) session at login"),
        QStringLiteral("3. Start Parlino again"),
        QStringLiteral("4. Enable the toggle — done!"),
    };
    if (!grant.isEmpty()) {
        // Off X11: the desktop's own way, in place of the X11 session's.
        lines[2] = QStringLiteral("To detect these keys, Parlino needs access to them on this desktop.");
        const auto steps = lines.indexOf(QStringLiteral("After clicking \"Allow\":"));
        lines = lines.mid(0, steps);
        lines << QStringLiteral("To allow it:") << grant;
    }
    return lines.join(QLatin1Char('\n'));
}

void MacMainView::presentAccessibilityAlert()
{
    if (accessibilityAlert_) {
        return;
    }
    auto* alert = new QMessageBox(this);
    design::SheetWindow::apply(*alert);
    alert->setObjectName(QStringLiteral("accessibilityAlert"));
    alert->setWindowTitle(QStringLiteral("Parlino"));
    alert->setTextFormat(Qt::PlainText);
    alert->setText(QStringLiteral("Enable Push-to-Talk Dictation?"));
    alert->setInformativeText(accessibilityAlertMessage(services_.globeDictation.permissionGrantText()));
    alert->setIconPixmap(symbolIcon(QStringLiteral("mic.circle.fill"), Color::brandBlue().resolved(), 56).pixmap(56, 56));
    auto* allow = alert->addButton(escapedMnemonic(QStringLiteral("Allow & Open Settings")), QMessageBox::AcceptRole);
    allow->setObjectName(QStringLiteral("allowAccessibilityButton"));
    auto* notNow = alert->addButton(escapedMnemonic(QStringLiteral("Not Now")), QMessageBox::RejectRole);
    notNow->setObjectName(QStringLiteral("notNowButton"));
    alert->setDefaultButton(allow);
    alert->setEscapeButton(notNow);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, allow](QAbstractButton* button) {
        if (button == allow) {
            services_.globeDictation.requestAccessibilityPermission();
        }
    });
    connect(alert, &QMessageBox::finished, alert, &QWidget::close);
    accessibilityAlert_ = alert;
    alert->open();
}

void MacMainView::handleRecordingComplete(const RecordingResult& result)
{
    const RecordingOutcome outcome = afterRecording(result, AfterRecording::Road::window);
    setSelectedView(MainViewSelection::recordings);
    shouldAutoStartRecording_->setValue(false);
    tell(outcome, result.transcription);
}

RecordingOutcome MacMainView::afterRecording(const RecordingResult& result, AfterRecording::Road road)
{
    const AfterRecording plan = AfterRecording::decide(result, AfterRecording::Settings::read(services_.defaults),
        {road, services_.recorder.aurisReady(), ownWindowInFront()});
    AfterRecordingActions actions({services_.defaults, services_.library, services_.clipboard,
        services_.dictationHelper, [](const QString& line) { consoleLine(line); }});
    return actions.carryOut(plan, result);
}

void MacMainView::tell(const RecordingOutcome& outcome, const QString& transcript)
{
    if (outcome.transcriptWouldBeLost()) {
        auto* sheet = TranscriptSheet::present(services_.clipboard, transcript, this);
        connect(sheet, &TranscriptSheet::copied, this, [this] {
            StatusNotice::post(*this, services_.timer, QStringLiteral("Transcript copied to clipboard"),
                StatusNotice::Kind::outcome);
        });
        return;
    }
    if (const auto notice = outcome.notice()) {
        StatusNotice::post(*this, services_.timer, notice->text,
            notice->tone == RecordingOutcome::Tone::good ? StatusNotice::Kind::outcome : StatusNotice::Kind::problem);
    }
}

void MacMainView::handleHotkeyPressed()
{
    if (services_.recorder.isRecording()) {
        handleHotkeyTranscript();
        return;
    }
    // A press while the stop is still on its way to a result belongs to that stop, not to a new
    // recording.
    if (services_.recorder.isTranscribing() || hotkeyStopInFlight_) {
        return;
    }
    QWidget* window = this->window();
    if (window->isMinimized() || !window->isVisible()) {
        window->showNormal();
    }
    window->raise();
    window->activateWindow();
    setSelectedView(MainViewSelection::record);
    shouldAutoStartRecording_->setValue(true);
    services_.dictationHelper.playFeedbackSound(FeedbackSound::start);
}

void MacMainView::handleHotkeyTranscript()
{
    if (hotkeyStopInFlight_) {
        return;
    }
    hotkeyStopInFlight_ = true;
    services_.recorder.stopRecording([self = QPointer(this)](RecordingResult result) {
        if (!self) {
            return;
        }
        self->hotkeyStopInFlight_ = false;
        self->services_.dictationHelper.playFeedbackSound(FeedbackSound::stop);
        const RecordingOutcome outcome = self->afterRecording(result, AfterRecording::Road::hotkey);
        self->tell(outcome, result.transcription);
    });
}

bool MacMainView::ownWindowInFront() const
{
    return QApplication::activeWindow() != nullptr;
}

} // namespace parlino
