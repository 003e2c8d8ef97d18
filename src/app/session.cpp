#include "app/session.h"

#include "control/monitormenu.h"
#include "ui/historyview.h"
#include "ui/kora232.h"
#include "ui/linkstatsview.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace kora {

namespace {

bool isShowable(const QString& name)
{
    return name == QLatin1String("statistics") || name == QLatin1String("history") ||
           name == QLatin1String("menu");
}

// Where the picture of the shown window `name` goes beside the main
// window's picture `screenshot`: shot.png gives shot-history.png.
QString pictureBeside(const QString& screenshot, const QString& name)
{
    const QFileInfo main(screenshot);
    const QString suffix = main.suffix().isEmpty() ? QString() : u'.' + main.suffix();
    return main.dir().filePath(main.completeBaseName() + u'-' + name + suffix);
}

// The window with the popup drawn where it stands over it, as the operator
// sees them; the picture grows to take in any part of the popup outside it.
QImage popupOver(QWidget& window, QWidget& popup)
{
    const QRect windowRect(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QRect popupRect = popup.geometry(); // a popup is a window: its place is global
    const QRect all = windowRect.united(popupRect);
    QImage image(all.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawPixmap(windowRect.topLeft() - all.topLeft(), window.grab());
    painter.drawPixmap(popupRect.topLeft() - all.topLeft(), popup.grab());
    return image;
}

} // namespace

void SessionOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOption(start);
    parser.addOption(screenshot);
    parser.addOption(quitAfter);
    parser.addOption(reportShown);
    parser.addOption(show);
}

bool SessionOptions::read(const QCommandLineParser& parser, SessionPlan& plan, QString* why) const
{
    plan.start = parser.isSet(start);
    plan.reportShown = parser.isSet(reportShown);
    if (parser.isSet(screenshot)) {
        plan.screenshot = parser.value(screenshot);
        if (plan.screenshot.isEmpty()) {
            *why = QStringLiteral("--screenshot needs a file name");
            return false;
        }
    }
    if (parser.isSet(quitAfter)) {
        bool ok = false;
        plan.quitAfterMs = parser.value(quitAfter).toInt(&ok);
        if (!ok || plan.quitAfterMs < 0) {
            *why = QStringLiteral("--quit-after needs a whole number of milliseconds, not '%1'")
                       .arg(parser.value(quitAfter));
            return false;
        }
    }
    for (const QString& name : parser.values(show)) {
        if (!isShowable(name)) {
            *why = QStringLiteral("--show takes statistics, history or menu, not '%1'").arg(name);
            return false;
        }
        if (!plan.show.contains(name))
            plan.show << name;
    }
    return true;
}

Session::Session(Kora232& window, SessionPlan p) : QObject(&window), w(window), plan(std::move(p))
{
    w.installEventFilter(this);
    // Quitting closes every window, and a closed History lets go of its rows:
    // the pictures are taken before that.
    if (!plan.screenshot.isEmpty())
        QCoreApplication::instance()->installEventFilter(this);
    // A script has nobody at the window to read the box: a port that cannot
    // be opened is said on standard error too and ends the run with status
    // 3, as in kora232-headless.
    if (plan.start || plan.quitAfterMs >= 0)
        connect(&w.engine(), &SessionEngine::openRefused, this, [](const QString& reason) {
            std::fprintf(stderr, "kora232: %s\n", qPrintable(reason));
            QCoreApplication::exit(3);
        });
}

bool Session::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() &&
        pictures.empty())
        takePictures();
    // The first paint of the window itself comes from its first expose; the
    // children are painted and the frame flushed before the queued call runs.
    if (watched == &w && event->type() == QEvent::Paint && !painted) {
        painted = true;
        w.removeEventFilter(this);
        QTimer::singleShot(0, this, &Session::shown);
    }
    return QObject::eventFilter(watched, event);
}

void Session::shown()
{
    if (plan.reportShown) {
        std::printf("shown %.1f\n", MsSinceProcessStart());
        std::fflush(stdout);
    }
    if (plan.start)
        w.PressStartStop();
    if (plan.quitAfterMs >= 0)
        QTimer::singleShot(plan.quitAfterMs, this, [] { QCoreApplication::quit(); });
    showAsked();
}

// The windows as the operator opens them from the monitor's menu, and the
// menu itself last, so that it is the one open on top.
void Session::showAsked()
{
    auto* monitorMenu = w.findChild<MonitorMenu*>();
    if (plan.show.isEmpty() || !monitorMenu)
        return;
    for (const QString& name : plan.show) {
        if (name == QLatin1String("statistics"))
            opened.emplace_back(name, monitorMenu->showStatistics());
        else if (name == QLatin1String("history"))
            opened.emplace_back(name, monitorMenu->showHistory());
    }
    if (plan.show.contains(QLatin1String("menu"))) {
        // In the monitor's lower right corner, over the replies: all of it
        // inside the window, none of it over the counters.
        menu = monitorMenu->menu();
        const QSize room = w.frmMonitor()->size() - menu->sizeHint() - QSize(8, 8);
        monitorMenu->popUp(QPoint(room.width(), room.height()));
    }
}

void Session::takePictures()
{
    pictures = {{plan.screenshot, w.grab().toImage()}};
    for (const auto& [name, window] : opened)
        if (window)
            pictures.emplace_back(pictureBeside(plan.screenshot, name), window->grab().toImage());
    if (menu)
        pictures.emplace_back(pictureBeside(plan.screenshot, QStringLiteral("menu")),
                              popupOver(w, *menu));
}

int Session::finish(int status)
{
    if (plan.screenshot.isEmpty())
        return status;
    if (pictures.empty()) // an end that closed no window: status 3, say
        takePictures();
    for (const auto& [path, image] : pictures) {
        // Whole or not at all, and with the system's reason when not.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
            std::fprintf(stderr, "kora232: cannot write the screenshot to %s: %s\n",
                         qPrintable(path), qPrintable(file.errorString()));
            return 1;
        }
    }
    return status;
}

double MsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks and parentheses; the fields after it
    // start at the last ')'. The start time is field 22, the 20th after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const double startTicks = fields.value(19).toDouble(&ok);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec now{};
    if (!ok || ticksPerSecond <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    const double nowMs =
        static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - startTicks * 1e3 / static_cast<double>(ticksPerSecond);
}

} // namespace kora
