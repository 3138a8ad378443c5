// paste-target --title NAME     shows a window titled NAME with a line edit; prints "window ID PID"
//                               once it is shown, "active" whenever it gets the focus, "text: T"
//                               whenever the text changes, and "return: T" when Return is pressed
//                               (the line is then cleared).
// paste-target --clipboard TEXT owns the clipboard holding TEXT; prints "clipboard ready".
// Runs until it is ended by a signal.

#include <QApplication>
#include <QEvent>
#include <QClipboard>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void printLine(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Keys sent before the compositor has focused the window would be lost, so callers wait for this.
class ActivationReporter : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            printLine("active");
        }
        return QObject::eventFilter(watched, event);
    }
};

int usage()
{
    std::fputs("usage: paste-target --title NAME | --clipboard TEXT\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "--title") != 0 && std::strcmp(argv[1], "--clipboard") != 0)) {
        return usage();
    }
    const bool clipboardOnly = std::strcmp(argv[1], "--clipboard") == 0;
    const QString value = QString::fromLocal8Bit(argv[2]);
    // Ended by the test with SIGTERM: leave quietly.
    std::signal(SIGTERM, [](int) { ::_exit(0); });
    QApplication application(argc, argv);

    if (clipboardOnly) {
        QApplication::clipboard()->setText(value, QClipboard::Clipboard);
        printLine("clipboard ready");
        return application.exec();
    }

    QWidget window;
    window.setWindowTitle(value);
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit(&window);
    edit->setObjectName("pasteTargetEdit");
    layout->addWidget(edit);
    QObject::connect(edit, &QLineEdit::textChanged, [](const QString& text) { printLine("text: " + text.toStdString()); });
    QObject::connect(edit, &QLineEdit::returnPressed, [edit] {
        printLine("return: " + edit->text().toStdString());
        edit->clear();
    });
    ActivationReporter activation;
    window.installEventFilter(&activation);
    window.resize(320, 80);
    window.show();
    edit->setFocus();
    printLine("window " + std::to_string(window.winId()) + " " + std::to_string(::getpid()));
    return application.exec();
}
