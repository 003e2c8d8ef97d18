#include "app/session.h"

#include "ui/kora232.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace kora {

void SessionOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOption(start);
    parser.addOption(screenshot);
    parser.addOption(quitAfter);
    parser.addOption(reportShown);
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
    return true;
}

Session::Session(Kora232& window, SessionPlan p) : QObject(&window), w(window), plan(std::move(p))
{
    w.installEventFilter(this);
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
}

int Session::finish(int status) const
{
    if (plan.screenshot.isEmpty())
        return status;
    const QImage image = w.grab().toImage();
    if (!image.save(plan.screenshot, "PNG")) {
        std::fprintf(stderr, "kora232: cannot write the screenshot to %s\n",
                     qPrintable(plan.screenshot));
        return 1;
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
