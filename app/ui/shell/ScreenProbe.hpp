#pragma once

#include <QHash>
#include <QObject>
#include <QRect>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QAbstractItemView;
class QApplication;
class QWidget;

namespace parlino {

// What the screen shows, told on standard output to programs that drive or time the application
// from outside: its end-to-end test and its start-up benchmark. Off unless the environment asks.
//
// PARLINO_REPORT_GEOMETRY=name,name,...  For each widget of one of these object names, a line
//     "🧪 geometry <name> <x> <y> <width> <height>" in screen coordinates whenever it is painted (a
//     window also when moved or resized) at a place other than the one last told; when a widget
//     told is hidden, "🧪 hidden <name>", and it is told again once shown; when one gets the
//     keyboard focus, "🧪 focus <name>". A widget inside a pane that scrolls is told again at
//     its new place as the pane scrolls, though scrolling need not paint it. The rows of a list of one of these names are told as
//     "<name>.row<index>" whenever the list is painted (only rows in view; "🧪 hidden" when one
//     leaves the view or the list is hidden). A label or text editor of one of these names is also
//     told as "🧪 text <name> <its text>" (line breaks as spaces) when it is painted with a text
//     other than the one last told.
// PARLINO_REPORT_FIRST_PAINT=1  Once the main window's content has first been painted and put on
//     the screen: "🧪 first paint <nanoseconds on the monotonic clock>". With "exit" the program
//     then quits.
class ScreenProbe final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* geometryVariable = "PARLINO_REPORT_GEOMETRY";
    static constexpr const char* firstPaintVariable = "PARLINO_REPORT_FIRST_PAINT";
    // The widget whose first paint is told.
    static constexpr const char* mainViewName = "mainView";

    // Where the lines go; standard output unless given.
    using Output = std::function<void(const std::string& line)>;

    // Watches the application's widgets when either variable is set; nothing otherwise.
    static std::unique_ptr<ScreenProbe> fromEnvironment(QApplication& application, Output output = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ScreenProbe(QSet<QString> reported, bool reportFirstPaint, bool quitAfterFirstPaint, Output output);
    void tellGeometry(QWidget& widget);
    // The reported widgets inside one that moved, as a scrolled pane's content does.
    void tellDescendants(QWidget& moved);
    void tellText(QWidget& widget);
    void tellRows(QAbstractItemView& view);
    void forgetRows(const QAbstractItemView& view);
    void tellFirstPaint();

    QSet<QString> reported_;
    Output output_;
    // Where each widget was last told to be; a new widget of the same name is told anew.
    QHash<const QObject*, QRect> told_;
    QHash<const QObject*, QString> toldTexts_;
    // The same for list rows, by their told names.
    QHash<QString, QRect> toldRows_;
    bool reportFirstPaint_ = false;
    bool quitAfterFirstPaint_ = false;
    bool firstPaintSeen_ = false;
};

} // namespace parlino
