#pragma once

#include <QCommandLineOption>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QCommandLineParser;
class QMenu;
class QWidget;

namespace kora {

class Kora232;

// What a scripted run (a demo, a screenshot, a benchmark) asks of the program
// on top of the operator's own use. Left at its defaults it changes nothing.
struct SessionPlan
{
    bool start = false;       // press START once the window is shown
    QString screenshot;       // save the window here, as PNG, just before quitting
    int quitAfterMs = -1;     // quit this long after the window is shown; -1: never
    bool reportShown = false; // print "shown <ms>" on stdout when the window is shown
    // Opened with the window, by their names on the command line: the
    // windows "statistics" and "history" and the monitor's "menu"; each once.
    QStringList show;
};

// The command-line options that make up a session plan.
class SessionOptions
{
public:
    void addTo(QCommandLineParser& parser) const;

    // Fills the plan from a parsed command line; false, and why, on a bad value.
    bool read(const QCommandLineParser& parser, SessionPlan& plan, QString* why) const;

private:
    QCommandLineOption start{QStringLiteral("start"),
                             QStringLiteral("Presses START once the window is shown.")};
    QCommandLineOption screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("Saves the window as a PNG image to FILE just before quitting."),
        QStringLiteral("FILE")};
    QCommandLineOption quitAfter{
        QStringLiteral("quit-after"),
        QStringLiteral("Quits MS milliseconds after the window is first shown."),
        QStringLiteral("MS")};
    QCommandLineOption reportShown{
        QStringLiteral("report-shown"),
        QStringLiteral("Prints 'shown <ms>' once the window's first frame is drawn: the "
                       "milliseconds since the process started.")};
    QCommandLineOption show{
        QStringLiteral("show"),
        QStringLiteral(
            "Opens WINDOW with the main window: statistics (the Link statistics window), "
            "history (the History window) or menu (the monitor's context menu, "
            "popped up over it); may be repeated. With --screenshot FILE each is "
            "saved as a picture of its own beside FILE: shot-menu.png beside "
            "shot.png."),
        QStringLiteral("WINDOW")};
};

// Carries out a session plan on the window, which is its parent. "Shown"
// means the window's first frame has been painted and handed to the display.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(Kora232& window, SessionPlan plan);

    // Call once the event loop has ended, while the window still exists:
    // saves the screenshot if one was asked for, with a picture beside it of
    // each window --show opened, and gives the exit status, 1 when an image
    // could not be written.
    int finish(int status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void shown();
    void showAsked();
    void takePictures();

    Kora232& w;
    SessionPlan plan;
    bool painted = false;
    std::vector<std::pair<QString, QPointer<QWidget>>> opened; // by --show, with their names
    QPointer<QMenu> menu;                                      // popped up by --show menu
    std::vector<std::pair<QString, QImage>> pictures;          // taken as the program quits
};

// Milliseconds from the process's start, as the kernel recorded it (so the
// program's loading counts too), to now. The start is kept in clock ticks,
// so this reads up to one tick (10 ms) high. Negative if it cannot be read.
double MsSinceProcessStart();

} // namespace kora
