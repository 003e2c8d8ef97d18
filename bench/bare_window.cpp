// The floor kora232 is measured against: a bare Qt Widgets window of
// kora232's size, with Qt SerialPort linked and a port object made as
// kora232 makes one, that does nothing but show itself and, with --rows,
// rewrite twelve rows of hex ten times a second as the history's rows are
// rewritten after each poll. It answers --report-shown and --quit-after as
// kora232 does, so that the same launcher times both.
//
//   bench_bare_window [--report-shown] [--quit-after MS] [--rows]
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QSerialPort>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// As kora232 tells it: from the process's start, by the kernel's account.
double msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6 -
           startTicks * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class BareWindow : public QWidget
{
public:
    BareWindow(bool reportShown, int quitAfterMs, bool rows)
        : port(new QSerialPort(this)), reportShown(reportShown), quitAfterMs(quitAfterMs)
    {
        setWindowTitle(QStringLiteral("bare"));
        resize(641, 434); // kora232's client area
        if (rows)
            addRows();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QWidget::paintEvent(event);
        if (painted)
            return;
        painted = true;
        QTimer::singleShot(0, this, [this] { shown(); });
    }

private:
    // Placed where they stand, as kora232 places its controls: no layout;
    // in its font size, six rows of eight bytes beside six of eleven.
    void addRows()
    {
        QFont small = font();
        small.setPixelSize(11);
        setFont(small);
        for (int i = 0; i < 12; ++i) {
            labels[i] = new QLabel(this);
            labels[i]->setGeometry(8 + (i / 6) * 240, 8 + (i % 6) * 20, 220, 16);
        }
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { rewriteRows(); });
        timer->start(100);
    }

    void rewriteRows()
    {
        ++tick;
        for (int i = 0; i < 12; ++i) {
            const QString varying = QStringLiteral("%1 %2")
                                        .arg((tick + i) & 0xFF, 2, 16, QLatin1Char('0'))
                                        .arg((tick * 7 + i) & 0xFF, 2, 16, QLatin1Char('0'))
                                        .toUpper();
            labels[i]->setText(i < 6
                                   ? QStringLiteral("02 08 10 7F %1 00 03 ").arg(varying)
                                   : QStringLiteral("02 0B 20 01 10 00 4B 01 03 %1 ").arg(varying));
        }
    }

    void shown()
    {
        if (reportShown) {
            std::printf("shown %.1f\n", msSinceProcessStart());
            std::fflush(stdout);
        }
        if (quitAfterMs >= 0)
            QTimer::singleShot(quitAfterMs, qApp, [] { QCoreApplication::quit(); });
    }

    QSerialPort* port = nullptr;
    QLabel* labels[12] = {};
    bool reportShown = false;
    int quitAfterMs = -1;
    bool painted = false;
    int tick = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype quit = arguments.indexOf(QStringLiteral("--quit-after"));
    BareWindow window(arguments.contains(QStringLiteral("--report-shown")),
                      quit > 0 ? arguments.value(quit + 1).toInt() : -1,
                      arguments.contains(QStringLiteral("--rows")));
    window.show();
    return app.exec();
}
