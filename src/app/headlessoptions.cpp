#include "app/headlessoptions.h"

#include "app/portoption.h"
#include "app/sayline.h"
#include "serial/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>
#include <cstdio>
#include <memory>

namespace kora {

namespace {

constexpr int LongestDurationS = 2'000'000; // a timer holds some 24 days in milliseconds

// The window reads the port list again at each START; the poller has no
// START and reads it once, as its run begins.
QString numberingForOneRun()
{
    static const QRegularExpression atEachStart(
        QStringLiteral("The list is read at each START[^.]*\\."));
    return PortMap::numberingHelp().replace(atEachStart,
                                            QStringLiteral("The list is read as the run starts."));
}

QString describeRun()
{
    return QStringLiteral(
               "Polls a banknote acceptor on a serial port as kora232 does, without a window,\n"
               "and writes what happens on standard output as JSON lines, one per event; a\n"
               "log that fails says so in a log-failed line, and polling goes on. Bills count\n"
               "by kora232's rule (man kora232-headless gives its limits); with --log, a\n"
               "restart carries on from the log's end.\n\n"
               "Exit status:\n"
               "  0  the run ended (--duration, --until-bills, SIGTERM, SIGINT, SIGHUP,\n"
               "     standard output closed) with every line and row written; --help,\n"
               "     --version, --list-ports\n"
               "  2  a command line it cannot take, or a --log or --metrics file that\n"
               "     cannot be written, is in use or is refused at the start\n"
               "  3  the port cannot be opened at the start\n"
               "  4  lines or rows were lost: a write failed, a reader fell 8 MiB behind,\n"
               "     or the last of them took more than a second to get out; or the\n"
               "     --metrics file could not be written at the end\n"
               "  5  the --plan ended with the verdict FAIL\n"
               "  6  the --plan ended INCOMPLETE: the run ended before its last step\n\n") +
           numberingForOneRun();
}

// An option of two words: `value` is true for the first; false, and why, for
// any other word.
bool readChoice(const QCommandLineParser& p, const QCommandLineOption& option,
                std::array<const char*, 2> words, bool& value, QString* why)
{
    if (!p.isSet(option))
        return true;
    const QString given = p.value(option);
    if (given != QLatin1String(words[0]) && given != QLatin1String(words[1])) {
        *why = QStringLiteral("--%1 %2: must be %3 or %4")
                   .arg(option.names().constFirst(), given, QLatin1String(words[0]),
                        QLatin1String(words[1]));
        return false;
    }
    value = given == QLatin1String(words[0]);
    return true;
}

struct Options
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption port = PortPinOption();
    QCommandLineOption listPorts = ListPortsOption();
    QCommandLineOption portNumber{
        QStringLiteral("port-number"),
        QStringLiteral("Polls port N (1-8); default: the one pinned with --port, else 1."),
        QStringLiteral("N")};
    QCommandLineOption pollRate{QStringLiteral("poll-rate"),
                                QStringLiteral("Polls every MS milliseconds, 100-5000 (100)."),
                                QStringLiteral("MS")};
    QCommandLineOption bills{QStringLiteral("bills"),
                             QStringLiteral("Enables only bills LIST, e.g. 1,3-5 (all)."),
                             QStringLiteral("LIST")};
    QCommandLineOption escrow{QStringLiteral("escrow"),
                              QStringLiteral("Escrow mode on or off (on)."),
                              QStringLiteral("on|off")};
    QCommandLineOption escrowAction{
        QStringLiteral("escrow-action"),
        QStringLiteral("Orders each escrowed bill stacked or returned (stack)."),
        QStringLiteral("stack|return")};
    QCommandLineOption duration{QStringLiteral("duration"),
                                QStringLiteral("Ends the run after SECONDS."),
                                QStringLiteral("SECONDS")};
    QCommandLineOption untilBills{
        QStringLiteral("until-bills"),
        QStringLiteral("Ends the run once N bills are counted; with --duration, whichever "
                       "comes first."),
        QStringLiteral("N")};
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Appends a row per poll to the CSV session log FILE, and "
                                          "carries on from its end."),
                           QStringLiteral("FILE")};
    QCommandLineOption metrics{
        QStringLiteral("metrics"),
        QStringLiteral("Keeps the poller's metrics in FILE for Prometheus (the node exporter's "
                       "textfile collector), rewritten whole every interval and at the end."),
        QStringLiteral("FILE")};
    QCommandLineOption metricsInterval{
        QStringLiteral("metrics-interval"),
        QStringLiteral("Rewrites the --metrics file every SECONDS, 1-86400 (10)."),
        QStringLiteral("SECONDS")};
    QCommandLineOption plan{
        QStringLiteral("plan"),
        QStringLiteral("Runs the bench test plan FILE (JSON) with --log, which sets the poll "
                       "period, the bills and escrow, and ends the run with its verdict."),
        QStringLiteral("FILE")};
    QCommandLineOption unitSerial{QStringLiteral("unit-serial"),
                                  QStringLiteral("The tested unit's serial number, for --plan."),
                                  QStringLiteral("TEXT")};
    QCommandLineOption unitModel{QStringLiteral("unit-model"),
                                 QStringLiteral("The tested unit's model, for --plan."),
                                 QStringLiteral("TEXT")};
    QCommandLineOption unitFirmware{QStringLiteral("unit-firmware"),
                                    QStringLiteral("The tested unit's firmware, for --plan."),
                                    QStringLiteral("TEXT")};
    QCommandLineOption unitNotes{QStringLiteral("unit-notes"),
                                 QStringLiteral("Notes on the tested unit, for --plan."),
                                 QStringLiteral("TEXT")};
    QCommandLineOption operatorName{QStringLiteral("operator"),
                                    QStringLiteral("Who runs the --plan."), QStringLiteral("NAME")};

    Options()
    {
        parser.setApplicationDescription(describeRun());
        parser.addOptions({port, listPorts, portNumber, pollRate, bills, escrow, escrowAction,
                           duration, untilBills, log, metrics, metricsInterval, plan, unitSerial,
                           unitModel, unitFirmware, unitNotes, operatorName});
    }
};

int refuse(const QString& why)
{
    Say(Priority::Error, why + QStringLiteral("\nUsage: kora232-headless [OPTION]...; "
                                              "kora232-headless --help lists the options"));
    return 2;
}

// Only Qt lists its own options, and only from an application: one of its
// own when there is none yet, named as the help names the program.
void showHelpAll(QCommandLineParser& parser)
{
    std::array<char*, 2> argv{const_cast<char*>("kora232-headless"), nullptr};
    int argc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv.data());
    parser.process(QStringList{QStringLiteral("kora232-headless"), QStringLiteral("--help-all")});
}

// A whole number within [least, most] from option `name`'s value.
std::optional<int> wholeNumber(const QString& name, const QString& text, int least, int most,
                               QString* why)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (ok && n >= least && n <= most)
        return n;
    *why = QStringLiteral("--%1 %2: must be a whole number from %3 to %4")
               .arg(name, text)
               .arg(least)
               .arg(most);
    return std::nullopt;
}

// The port to poll: --port-number, else the one number pinned, else 1.
std::optional<int> portToPoll(const Options& o, const QSet<int>& pinned, QString* why)
{
    if (o.parser.isSet(o.portNumber))
        return wholeNumber(QStringLiteral("port-number"), o.parser.value(o.portNumber), 1, 8, why);
    if (pinned.size() > 1) {
        *why = QStringLiteral("several ports are pinned; say which to poll with --port-number");
        return std::nullopt;
    }
    return pinned.isEmpty() ? 1 : *pinned.begin();
}

bool readMetrics(const Options& o, HeadlessPlan& plan, QString* why)
{
    const QCommandLineParser& p = o.parser;
    if (p.isSet(o.metricsInterval)) {
        const auto s = wholeNumber(QStringLiteral("metrics-interval"), p.value(o.metricsInterval),
                                   1, 86400, why);
        if (!s)
            return false;
        plan.metricsIntervalS = *s;
    }
    if (!p.isSet(o.metrics)) {
        if (p.isSet(o.metricsInterval))
            *why = QStringLiteral("--metrics-interval needs --metrics FILE");
        return !p.isSet(o.metricsInterval);
    }
    plan.metricsPath = p.value(o.metrics);
    if (plan.metricsPath.isEmpty())
        *why = QStringLiteral("--metrics needs a file name");
    return !plan.metricsPath.isEmpty();
}

// The settings a plan makes its own; the unit and operator it is run with.
bool readTestPlan(const Options& o, HeadlessPlan& plan, QString* why)
{
    const QCommandLineParser& p = o.parser;
    const std::array<const QCommandLineOption*, 5> people{
        &o.unitSerial, &o.unitModel, &o.unitFirmware, &o.unitNotes, &o.operatorName};
    if (!p.isSet(o.plan)) {
        for (const QCommandLineOption* option : people)
            if (p.isSet(*option)) {
                *why = QStringLiteral("--%1 goes with --plan").arg(option->names().constFirst());
                return false;
            }
        return true;
    }
    if (plan.logPath.isEmpty()) {
        *why = QStringLiteral("--plan needs --log FILE: a plan is judged again from its log");
        return false;
    }
    for (const QCommandLineOption* own : {&o.pollRate, &o.bills, &o.escrow, &o.escrowAction})
        if (p.isSet(*own)) {
            *why = QStringLiteral("--%1 cannot go with --plan: the plan sets the poll period, the "
                                  "bills and escrow")
                       .arg(own->names().constFirst());
            return false;
        }
    plan.testPlan = ReadTestPlanFile(p.value(o.plan), why);
    if (!plan.testPlan)
        return false;
    plan.planPeople = {p.value(o.unitSerial), p.value(o.unitModel), p.value(o.unitFirmware),
                       p.value(o.unitNotes), p.value(o.operatorName)};
    const TestPlan& test = *plan.testPlan;
    plan.pollRateMs = test.pollMs;
    plan.bills = {};
    for (const int bill : test.bills())
        plan.bills[static_cast<std::size_t>(bill - 1)] = true;
    plan.escrow = true;
    plan.stackEscrowed = !test.deck.front().mustRefuse;
    return true;
}

bool readRun(const Options& o, HeadlessPlan& plan, QString* why)
{
    const QCommandLineParser& p = o.parser;
    if (p.isSet(o.pollRate)) {
        const auto ms =
            wholeNumber(QStringLiteral("poll-rate"), p.value(o.pollRate), 100, 5000, why);
        if (!ms)
            return false;
        plan.pollRateMs = *ms;
    }
    if (p.isSet(o.bills) && !ParseBillList(p.value(o.bills), plan.bills, why))
        return false;
    if (!readChoice(p, o.escrow, {"on", "off"}, plan.escrow, why) ||
        !readChoice(p, o.escrowAction, {"stack", "return"}, plan.stackEscrowed, why))
        return false;
    if (p.isSet(o.duration)) {
        bool ok = false;
        const double s = p.value(o.duration).toDouble(&ok);
        if (!ok || !(s > 0) || s > LongestDurationS) {
            *why = QStringLiteral("--duration %1: must be a number of seconds above 0, at most %2")
                       .arg(p.value(o.duration))
                       .arg(LongestDurationS);
            return false;
        }
        plan.durationMs = static_cast<int>(s * 1000 + 0.5);
    }
    if (p.isSet(o.untilBills)) {
        const auto n = wholeNumber(QStringLiteral("until-bills"), p.value(o.untilBills), 1,
                                   1'000'000'000, why);
        if (!n)
            return false;
        plan.untilBills = *n;
    }
    if (p.isSet(o.log)) {
        plan.logPath = p.value(o.log);
        if (plan.logPath.isEmpty()) {
            *why = QStringLiteral("--log needs a file name");
            return false;
        }
    }
    return readMetrics(o, plan, why) && readTestPlan(o, plan, why);
}

} // namespace

std::optional<int> ReadHeadlessOptions(const QStringList& arguments, PortMap& ports,
                                       HeadlessPlan& plan)
{
    Options o;
    if (!o.parser.parse(arguments))
        return refuse(o.parser.errorText());
    if (o.parser.isSet(QStringLiteral("help-all")))
        showHelpAll(o.parser); // shows the help and ends the program, as Qt does
    if (o.parser.isSet(o.help)) {
        // The usage line names the program as it was called, path and all,
        // or, with no application yet, not at all.
        QString text = o.parser.helpText();
        const QString called =
            QCoreApplication::instance() ? arguments.value(0) : QStringLiteral("<executable_name>");
        text.replace(QStringLiteral("Usage: %1").arg(called),
                     QStringLiteral("Usage: kora232-headless"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (o.parser.isSet(o.version)) {
        std::printf("kora232-headless %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!o.parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument %1")
                          .arg(o.parser.positionalArguments().constFirst()));
    QSet<int> pinned;
    QString why;
    for (const QString& text : o.parser.values(o.port)) {
        if (!ports.pinFromArgument(text, &why))
            return refuse(why);
        pinned.insert(text.section(QLatin1Char('='), 0, 0).toInt());
    }
    if (o.parser.isSet(o.listPorts)) {
        std::fputs(qPrintable(ports.table()), stdout);
        return 0;
    }
    const std::optional<int> number = portToPoll(o, pinned, &why);
    if (!number)
        return refuse(why);
    plan.portNumber = *number;
    if (!readRun(o, plan, &why))
        return refuse(why);
    return std::nullopt;
}

bool ParseBillList(const QString& text, std::array<bool, 7>& bills, QString* why)
{
    std::array<bool, 7> chosen{};
    const auto bill = [](const QString& part, bool* ok) {
        const int n = part.toInt(ok);
        *ok = *ok && n >= 1 && n <= 7 && !part.startsWith(QLatin1Char('+'));
        return n;
    };
    for (const QString& item : text.split(QLatin1Char(','))) {
        const QStringList ends = item.split(QLatin1Char('-'));
        bool firstOk = false, lastOk = false;
        const int first = bill(ends.value(0), &firstOk);
        const int last = ends.size() == 2 ? bill(ends.value(1), &lastOk) : first;
        if (ends.size() == 2 ? !(firstOk && lastOk && first <= last)
                             : !(firstOk && ends.size() == 1)) {
            *why = QStringLiteral("--bills %1: \"%2\" is not a bill 1-7 or a range such as 3-5")
                       .arg(text, item);
            return false;
        }
        for (int n = first; n <= last; ++n)
            chosen[static_cast<std::size_t>(n - 1)] = true;
    }
    bills = chosen;
    return true;
}

} // namespace kora
