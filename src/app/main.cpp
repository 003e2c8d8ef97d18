#include "app/portoption.h"
#include "app/session.h"
#include "app/stopsignals.h"
#include "app/toplevel.h"
#include "control/runcontrol.h"
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "ui/kora232.h"
#include "ui/sessionreport.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct Options
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption port = kora::PortPinOption();
    QCommandLineOption listPorts = kora::ListPortsOption();
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Appends a CSV row for every poll, START and STOP to "
                                          "FILE (created if missing, never truncated)."),
                           QStringLiteral("FILE")};
    QCommandLineOption report{
        QStringLiteral("report"),
        QStringLiteral("Renders a PDF report of the session log LOG to the file named after it, "
                       "as in kora232 --report LOG.csv OUT.pdf, and exits; no display needed."),
        QStringLiteral("LOG")};
    kora::SessionOptions session;

    Options()
    {
        parser.setApplicationDescription(
            QStringLiteral("Runs and watches a banknote acceptor on a serial port.\n\n") +
            kora::PortMap::numberingHelp());
        parser.addOption(port);
        parser.addOption(listPorts);
        parser.addOption(log);
        parser.addOption(report);
        parser.addPositionalArgument(QStringLiteral("OUT.pdf"),
                                     QStringLiteral("The report's file, with --report."),
                                     QStringLiteral("[OUT.pdf]"));
        session.addTo(parser);
    }

    // --help, --version and --list-ports end the program; gives their exit
    // status. None needs a display.
    std::optional<int> answered() const
    {
        if (parser.isSet(listPorts)) {
            kora::PortMap ports;
            for (const QString& text : parser.values(port))
                ports.pinFromArgument(text);
            std::fputs(qPrintable(ports.table()), stdout);
            return 0;
        }
        if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
            QString text = parser.helpText();
            text.replace(QStringLiteral("<executable_name>"), QStringLiteral("kora232"));
            std::fputs(qPrintable(text), stdout);
            return 0;
        }
        if (parser.isSet(version)) {
            std::printf("kora232 %s\n", qPrintable(QCoreApplication::applicationVersion()));
            return 0;
        }
        return std::nullopt;
    }
};

// --report LOG OUT.pdf: the report and nothing else, with whatever
// application there is, or one of its own on the offscreen platform.
int makeReport(const Options& options, int argc, char** argv)
{
    const QStringList out = options.parser.positionalArguments();
    if (out.size() != 1) {
        std::fprintf(stderr,
                     "kora232: --report %s needs the PDF file to write, as in "
                     "kora232 --report LOG.csv OUT.pdf\n",
                     qPrintable(options.parser.value(options.report)));
        return 2;
    }
    std::unique_ptr<QGuiApplication> own;
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        own = std::make_unique<QGuiApplication>(argc, argv);
    }
    const kora::ReportResult result =
        kora::WriteSessionReport(options.parser.value(options.report), out.constFirst());
    std::fprintf(result.status ? stderr : stdout, "kora232: %s\n", qPrintable(result.message));
    return result.status;
}

// --help and --version before the application exists, so that they work
// without a display. A command line this cannot read yet (it may carry the
// toolkit's own options) is left for readOptions.
std::optional<int> answerEarly(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    Options options;
    if (!options.parser.parse(arguments))
        return std::nullopt;
    if (options.parser.isSet(options.report) && !options.parser.isSet(options.help))
        return makeReport(options, argc, argv);
    return options.answered();
}

// Reads --port N=DEVICE, any number of times, into the port map, and the
// session options into the plan. Gives the exit status when the program
// should end here.
std::optional<int> readOptions(const QStringList& arguments, kora::PortMap& ports,
                               kora::SessionPlan& plan, QString& logFile)
{
    Options options;
    if (!options.parser.parse(arguments)) {
        std::fprintf(stderr, "kora232: %s\n", qPrintable(options.parser.errorText()));
        return 2;
    }
    if (const std::optional<int> status = options.answered())
        return status;
    if (options.parser.isSet(options.report))
        return makeReport(options, 0, nullptr);
    if (!options.parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kora232: unexpected argument %s\n",
                     qPrintable(options.parser.positionalArguments().constFirst()));
        return 2;
    }
    for (const QString& text : options.parser.values(options.port)) {
        QString why;
        if (!ports.pinFromArgument(text, &why)) {
            std::fprintf(stderr, "kora232: %s\n", qPrintable(why));
            return 2;
        }
    }
    logFile = options.parser.value(options.log);
    if (QString why; !options.session.read(options.parser, plan, &why)) {
        std::fprintf(stderr, "kora232: %s\n", qPrintable(why));
        return 2;
    }
    return std::nullopt;
}

// Rows still on their way to the log, this one's and any closed before it,
// get a moment to get out; a run whose log lost rows ends with status 4.
int finishLog(kora::SessionLog& log, int status)
{
    const auto deadline = kora::OutputQueue::Clock::now() + kora::OutputQueue::Grace;
    const bool rowsOut = log.finish(deadline);
    if (!kora::OutputQueue::Settle(deadline) || !rowsOut) {
        std::fprintf(stderr, "kora232: the log is incomplete: %s\n",
                     rowsOut ? "rows were still unwritten when the program ended"
                             : log.failure().c_str());
        return status == 0 ? 4 : status;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // A log whose reader goes away fails its write, which stops logging as
    // any failed write does; the signal would end the program instead.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("kora232"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORA_VERSION));
    if (const std::optional<int> status = answerEarly(argc, argv))
        return *status;

    kora::TopLevel app(argc, argv);
    new kora::StopSignals(&app);
    kora::PortMap ports;
    kora::SessionPlan plan;
    QString logFile;
    if (const std::optional<int> status =
            readOptions(QCoreApplication::arguments(), ports, plan, logFile))
        return *status;
    QGuiApplication::setDesktopFileName(QStringLiteral("kora232"));

    std::unique_ptr<kora::Kora232> window;
    const kora::Session* session = nullptr;
    kora::RunControl* control = nullptr;
    bool refused = false; // a log that cannot be written: the window never opens
    app.guard([&] {
        window = std::make_unique<kora::Kora232>(std::make_unique<kora::MSComm>(ports));
        control = new kora::RunControl(*window); // runs start-up; the window owns it
        if (std::string why;
            !logFile.isEmpty() && !control->record().openLog(logFile.toStdString(), &why)) {
            std::fprintf(stderr, "kora232: cannot log to %s\n", why.c_str());
            refused = true;
            return;
        }
        session = new kora::Session(*window, plan); // so does this
        window->show();
    });
    if (refused)
        return 2;
    int status = app.failed() ? 1 : app.exec();
    if (!app.failed() && session)
        status = session->finish(status);
    if (control)
        status = finishLog(control->record().log(), status);
    window.reset(); // the timers and the port go with it, before any message
    return app.finish(status);
}
