// The floor kora232 is measured against: a bare Qt Widgets window of
// kora232's size, with Qt SerialPort linked and a port object made as
// kora232 makes one, that does nothing but show twelve rows of hex drawn as
// kora232 draws its history and, with --rows, rewrite them ten times a
// second as the history's rows are rewritten after each poll. It answers
// --report-shown and --quit-after as kora232 does, so that the same launcher
// times both.
//
//   bench_bare_window [--report-shown] [--quit-after MS] [--rows]
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
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
        addRows(rows);
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
    // The twelve rows of kora232's history as it makes them: placed where
    // they stand (no layout), plain text that wraps at blanks, centred, in
    // its bold 9.75 point face (13 pixels), on their own background
    // colours. Drawing them is the floor of what a poll costs the window.
    void addRows(bool rewrite)
    {
        QFont rowFont(family());
        rowFont.setPixelSize(13);
        rowFont.setBold(true);
        for (int i = 0; i < 12; ++i) {
            const bool host = i < 6;
            const int row = i % 6;
            auto* label = new QLabel(this);
            // In twips, 15 to a pixel, within the monitor frame, whose
            // top left corner lies at (1800, 1440) in the window.
            const int left = host ? 120 : 3480, width = host ? 3255 : 4215;
            label->setGeometry((1800 + left) / 15, (1440 + 4560 - 360 * row) / 15, width / 15,
                               255 / 15);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            label->setFont(rowFont);
            QPalette p = label->palette();
            p.setColor(QPalette::Window,
                       row == 0 ? (host ? QColor(128, 255, 128) : QColor(192, 192, 255))
                                : (host ? QColor(192, 255, 192) : QColor(216, 216, 255)));
            p.setColor(QPalette::WindowText, Qt::black);
            label->setPalette(p);
            label->setAutoFillBackground(true);
            labels[i] = label;
        }
        rewriteRows();
        if (!rewrite)
            return;
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { rewriteRows(); });
        timer->start(100);
    }

    // kora232's face: the classic one where the system has it, else the
    // sans-serif with its metrics.
    static QString family()
    {
        const QStringList installed = QFontDatabase::families();
        for (const char* f : {"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"})
            if (installed.contains(QLatin1String(f), Qt::CaseInsensitive))
                return QString::fromLatin1(f);
        return QFont().family();
    }

    // Each poll's rows move up one place and the newest comes in at the
    // bottom, so every row's text changes, as in kora232's history.
    void rewriteRows()
    {
        ++tick;
        for (int i = 0; i < 12; ++i) {
            const int age = tick - i % 6;
            const QString varying = QStringLiteral("%1 %2")
                                        .arg(age & 1 ? 0x11 : 0x10, 2, 16, QLatin1Char('0'))
                                        .arg((age * 7) & 0x7F, 2, 16, QLatin1Char('0'))
                                        .toUpper();
            labels[i]->setText(i < 6
                                   ? QStringLiteral("02 08 %1 10 00 03 77 ").arg(varying)
                                   : QStringLiteral("02 0B %1 10 00 4B 01 03 03 73 ").arg(varying));
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
