#include "app/windowoptions.h"

#include "app/portoption.h"
#include "ui/certificate.h"
#include "ui/sessionreport.h"

#include <QApplication>
#include <QCommandLineParser>
#include <array>
#include <cstdio>
#include <memory>
#include <string_view>

namespace kora {

namespace {

constexpr const char* Usage =
    "Usage: kora232 [OPTION]... or kora232 --report LOG OUT.pdf, or --certificate; "
    "kora232 --help lists the options";

// In the help, in the form the manual page's list is checked against.
constexpr const char* ExitStatusHelp =
    "Exit status:\n"
    "  0  the window was closed, --quit-after ran out or a stop signal came (SIGTERM,\n"
    "     SIGINT, SIGHUP); --help, --version, --list-ports, a --report written\n"
    "     (or a --certificate)\n"
    "  1  an error the program could not handle (a message box shows it), no display\n"
    "     for the window, or a --screenshot picture or --report PDF not written\n"
    "     (or --certificate PDF)\n"
    "  2  a command line it cannot take: an unknown option or argument, a value out\n"
    "     of range, a --log file that cannot be opened or is in use, a --report log\n"
    "     that is no session log, or an output that is the log or no regular file;\n"
    "     a --certificate log that holds no plan run\n"
    "  3  with --start or --quit-after, a port that cannot be opened at START\n"
    "  4  as 0, but rows of the session log were lost\n";

struct Options
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption port = PortPinOption();
    QCommandLineOption listPorts = ListPortsOption();
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Appends a CSV row for every poll, START and STOP to "
                                          "FILE (created if missing, never truncated); a "
                                          "restart carries on from its end."),
                           QStringLiteral("FILE")};
    QCommandLineOption report{
        QStringLiteral("report"),
        QStringLiteral("Renders a PDF report of the session log LOG, and of any more logs "
                       "named after it (its rotations, plain or gzip-compressed, in any order), "
                       "to the file named last, whose name ends in .pdf, as in kora232 --report "
                       "LOG.csv LOG.csv.1 OUT.pdf, and exits; no display needed."),
        QStringLiteral("LOG")};
    QCommandLineOption certificate{
        QStringLiteral("certificate"),
        QStringLiteral("Renders a certificate, one PDF page per bench test plan run in the "
                       "session log LOG, to the file named after it, as in kora232 --certificate "
                       "LOG.csv OUT.pdf, and exits; no display needed."),
        QStringLiteral("LOG")};
    SessionOptions session;

    Options()
    {
        parser.setApplicationDescription(
            QStringLiteral(
                "Runs and watches a banknote acceptor on a serial port. Each stacked bill counts\n"
                "once: a lost reply sent again, or in escrow mode a report staying up, counts no\n"
                "more; with escrow mode off a report that stays up over fresh replies counts\n"
                "again. With a log, a restart carries on from its end. man kora232 gives the\n"
                "whole rule and its limits.\n\n") +
            QLatin1String(ExitStatusHelp) + u'\n' + PortMap::numberingHelp());
        parser.addOption(port);
        parser.addOption(listPorts);
        parser.addOption(log);
        parser.addOption(report);
        parser.addOption(certificate);
        parser.addPositionalArgument(QStringLiteral("OUT.pdf"),
                                     QStringLiteral("With --report: more logs, then the report's "
                                                    "file; with --certificate: the certificate's "
                                                    "file."),
                                     QStringLiteral("[LOG]... [OUT.pdf]"));
        session.addTo(parser);
    }
};

// The toolkit's own options, as QCoreApplication, QGuiApplication (with its
// X11 aliases) and QApplication take them, with one dash or two.
struct ToolkitOption
{
    const char* name;
    bool takesValue;
};
constexpr std::array<ToolkitOption, 22> ToolkitOptions{{
    {"qmljsdebugger", true}, {"platform", true},     {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},       {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true}, {"reverse", false},
    {"session", true},       {"testability", false}, {"display", true},
    {"name", true},          {"nograb", false},      {"dograb", false},
    {"visual", true},        {"geometry", true},     {"icon", true},
    {"title", true},         {"style", true},        {"stylesheet", true},
    {"widgetcount", false},
}};

const ToolkitOption* toolkitOption(const QString& argument)
{
    if (!argument.startsWith(QLatin1Char('-')))
        return nullptr;
    const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    for (const ToolkitOption& option : ToolkitOptions)
        if (name == QLatin1String(option.name))
            return &option;
    // -style=fusion and the like: the value in the same word.
    static constexpr ToolkitOption inWord{"", false};
    for (const char* withValue : {"style=", "stylesheet=", "qmljsdebugger="})
        if (name.startsWith(QLatin1String(withValue)))
            return &inWord;
    return nullptr;
}

// The command line less the toolkit's options and their values.
QStringList ownArguments(const QStringList& arguments)
{
    QStringList own = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (const ToolkitOption* option = toolkitOption(arguments[i]))
            i += option->takesValue ? 1 : 0;
        else
            own << arguments[i];
    }
    return own;
}

// Why the window would find no display, or empty: the platform Qt picks
// (-platform, else QT_QPA_PLATFORM, else X11 or Wayland) is X11 or Wayland
// and nothing names its display. Qt itself would abort the program.
QString missingDisplay(const QStringList& arguments)
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        const ToolkitOption* option = toolkitOption(arguments[i]);
        if (option && option->name == std::string_view("platform"))
            platform = arguments[i + 1];
        x11 = x11 || (option && option->name == std::string_view("display"));
    }
    if (platform.isEmpty())
        return x11 || wayland ? QString()
                              : QStringLiteral("DISPLAY and WAYLAND_DISPLAY are not set");
    QStringList needs;
    for (const QString& name : platform.split(QLatin1Char(';'))) {
        const QString base = name.section(QLatin1Char(':'), 0, 0);
        if (base == QLatin1String("xcb")                ? x11
            : base.startsWith(QLatin1String("wayland")) ? wayland
                                                        : true)
            return {};
        needs << (base == QLatin1String("xcb") ? "DISPLAY" : "WAYLAND_DISPLAY");
    }
    return QStringLiteral("the %1 platform needs %2").arg(platform, needs.join(" or "));
}

int mistake(const QString& why)
{
    std::fprintf(stderr, "kora232: %s\n%s\n", qPrintable(why), Usage);
    return 2;
}

} // namespace

// Run as root from a script or a service, XDG_RUNTIME_DIR is often unset,
// and Qt says so when the offscreen platform looks for the runtime folder,
// which nothing here uses. A platform plugin without a window manager (the
// offscreen one, a bare X server) says so of each call it cannot carry out
// on a window: raising, grabbing, size hints. Neither asks anything of the
// user, and both would fill a kiosk's journal; the texts are Qt's exact
// ones, so that any other message is still written as Qt writes it.
void WriteToolkitMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const char* const Chatter[] = {"This plugin does not support propagateSizeHints()",
                                          "This plugin does not support raise()",
                                          "This plugin does not support lower()",
                                          "This plugin does not support grabbing the keyboard",
                                          "This plugin does not support grabbing the mouse",
                                          "This plugin does not support setting window opacity",
                                          "This plugin does not support setting window masks"};
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    for (const char* text : Chatter)
        if (message == QLatin1String(text))
            return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

namespace {

// An application of its own on the offscreen platform, for what needs one
// but no display: the report's painting, the toolkit's options in the help.
class OffscreenApplication
{
public:
    OffscreenApplication()
    {
        qInstallMessageHandler(WriteToolkitMessages);
        app = std::make_unique<QApplication>(argc, argv.data());
    }
    ~OffscreenApplication() { app.reset(), qInstallMessageHandler(nullptr); }

private:
    // Named kora232 whatever path it was run by, as the help's usage line
    // names it; -platform rules over QT_QPA_PLATFORM and any -platform given.
    std::array<char*, 4> argv{const_cast<char*>("kora232"), const_cast<char*>("-platform"),
                              const_cast<char*>("offscreen"), nullptr};
    int argc = 3;
    std::unique_ptr<QApplication> app;
};

// --report LOG [LOG]... OUT.pdf: the report and nothing else.
int makeReport(const Options& options)
{
    QStringList logs = options.parser.positionalArguments();
    if (logs.isEmpty())
        return mistake(QStringLiteral("--report %1 needs the PDF file to write, as in "
                                      "kora232 --report LOG.csv OUT.pdf")
                           .arg(options.parser.value(options.report)));
    const QString out = logs.takeLast();
    logs.prepend(options.parser.value(options.report));
    OffscreenApplication app;
    const ReportResult result = WriteSessionReport(logs, out);
    std::fprintf(result.status ? stderr : stdout, "kora232: %s\n", qPrintable(result.message));
    return result.status;
}

// --certificate LOG OUT.pdf: the certificate and nothing else.
int makeCertificate(const Options& options)
{
    const QStringList out = options.parser.positionalArguments();
    const QString log = options.parser.value(options.certificate);
    if (out.size() != 1 || options.parser.isSet(options.report))
        return mistake(QStringLiteral("--certificate %1 needs the PDF file to write, as in "
                                      "kora232 --certificate LOG.csv OUT.pdf")
                           .arg(log));
    OffscreenApplication app;
    const ReportResult result = WriteCertificates(log, out.constFirst());
    std::fprintf(result.status ? stderr : stdout, "kora232: %s\n", qPrintable(result.message));
    return result.status;
}

// --help, --help-all, --version and --list-ports end the program; gives
// their exit status.
std::optional<int> answered(Options& options)
{
    const QCommandLineParser& p = options.parser;
    if (p.isSet(options.listPorts)) {
        PortMap ports;
        for (const QString& text : p.values(options.port))
            ports.pinFromArgument(text);
        std::fputs(qPrintable(ports.table()), stdout);
        return 0;
    }
    if (p.isSet(QStringLiteral("help-all"))) {
        // Only Qt lists its own options, and only from an application.
        OffscreenApplication app;
        options.parser.process(
            QStringList{QStringLiteral("kora232"), QStringLiteral("--help-all")});
        return 0; // process() has shown the help and ended the program
    }
    if (p.isSet(options.help)) {
        QString text = p.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("kora232"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (p.isSet(options.version)) {
        std::printf("kora232 %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}

} // namespace

std::optional<int> ReadWindowCommandLine(int argc, char** argv, WindowPlan& plan)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    Options options;
    const QCommandLineParser& p = options.parser;
    if (!options.parser.parse(ownArguments(arguments)))
        return mistake(p.errorText());
    if (const std::optional<int> status = answered(options))
        return status;
    if (p.isSet(options.certificate))
        return makeCertificate(options);
    if (p.isSet(options.report))
        return makeReport(options);
    if (!p.positionalArguments().isEmpty())
        return mistake(
            QStringLiteral("unexpected argument %1").arg(p.positionalArguments().constFirst()));
    for (const QString& text : p.values(options.port))
        if (QString why; !plan.ports.pinFromArgument(text, &why))
            return mistake(why);
    plan.logFile = p.value(options.log);
    if (QString why; !options.session.read(p, plan.session, &why))
        return mistake(why);
    if (const QString why = missingDisplay(arguments); !why.isEmpty()) {
        std::fprintf(stderr,
                     "kora232: no display for the window: %s; use "
                     "kora232-headless to poll without a window, or QT_QPA_PLATFORM=offscreen "
                     "for a scripted run\n",
                     qPrintable(why));
        return 1;
    }
    return std::nullopt;
}

} // namespace kora
