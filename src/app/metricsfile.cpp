#include "app/metricsfile.h"

#include "app/sayline.h"
#include "engine/sessionengine.h"
#include "record/outputpath.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <unistd.h>

namespace kora {

namespace {

std::string number(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : "NaN";
}

std::string labelValue(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

// Families one after another, each with its HELP and TYPE lines, every
// sample labelled with the port.
class Exposition
{
public:
    explicit Exposition(std::string_view port) : port_(labelValue(port)) {}

    Exposition& family(const char* name, const char* type, const char* help)
    {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n";
        text_ += std::string("# TYPE ") + name + " " + type + "\n";
        return *this;
    }
    // `label` is `name="value"` or empty; `suffix` follows the family's name.
    Exposition& sample(double value, const std::string& label = {}, const char* suffix = "")
    {
        text_ += name_ + suffix + "{port=\"" + port_ + "\"" + (label.empty() ? "" : ",") + label +
                 "} " + number(value) + "\n";
        return *this;
    }
    std::string str() const { return text_; }

private:
    std::string port_;
    std::string name_;
    std::string text_;
};

std::string label(const char* name, std::string_view value)
{
    return std::string(name) + "=\"" + labelValue(value) + "\"";
}

void addReplies(Exposition& e, const ReplyBuckets& h)
{
    e.family("kora232_reply_duration_seconds", "histogram",
             "Time from sending a poll to the last byte of its answer.");
    for (std::size_t i = 0; i < h.Bounds.size(); ++i)
        e.sample(double(h.atMost[i]), label("le", number(h.Bounds[i])), "_bucket");
    e.sample(double(h.count), label("le", "+Inf"), "_bucket");
    e.sample(h.sumSeconds, {}, "_sum").sample(double(h.count), {}, "_count");
}

void addBills(Exposition& e, const MetricsSample& s)
{
    e.family("kora232_bills_counted_total", "counter",
             "Bills stacked and counted, by denomination.");
    for (int n = 1; n <= 7; ++n)
        e.sample(double(s.counted[std::size_t(n - 1)]), label("bill", std::to_string(n)));
    e.family("kora232_bill_cycles_total", "counter",
             "Bills whose cycle has ended, by how it ended.");
    e.sample(double(s.bills.stacked), label("outcome", "stacked"))
        .sample(double(s.bills.returned), label("outcome", "returned"))
        .sample(double(s.bills.rejected), label("outcome", "rejected"))
        .sample(double(s.bills.other), label("outcome", "other"));
    e.family("kora232_acceptor_events_total", "counter",
             "Times the acceptor raised a flag, a jam caught a bill or not.");
    e.sample(double(s.events.jams), label("event", "jam"))
        .sample(double(s.events.stackerFull), label("event", "stacker_full"))
        .sample(double(s.events.failures), label("event", "failure"))
        .sample(double(s.events.powerUps), label("event", "power_up"));
}

} // namespace

void ReplyBuckets::add(double seconds)
{
    for (std::size_t i = 0; i < Bounds.size(); ++i)
        atMost[i] += seconds <= Bounds[i];
    ++count;
    sumSeconds += seconds;
}

std::string MetricsText(const MetricsSample& s)
{
    Exposition e(s.port);
    e.family("kora232_up", "gauge", "Whether the poller runs (1) or has stopped (0).").sample(s.up);
    // A poller killed or hung leaves a file that still says up: its age
    // against the interval tells that nobody rewrites it any more.
    e.family("kora232_metrics_written_timestamp_seconds", "gauge",
             "Unix time at which this file was written.")
        .sample(s.writtenAt);
    e.family("kora232_metrics_interval_seconds", "gauge",
             "How often the poller rewrites this file while it runs.")
        .sample(s.intervalSeconds);
    e.family("kora232_link_up", "gauge",
             "Whether the acceptor gave a good answer to the last poll (1) or not (0).")
        .sample(s.linkUp);
    e.family("kora232_polls_total", "counter", "Polls by outcome.")
        .sample(double(s.good), label("outcome", "good"))
        .sample(double(s.noReply), label("outcome", "no-reply"))
        .sample(double(s.checksum), label("outcome", "checksum"));
    addReplies(e, s.replies);
    addBills(e, s);
    e.family("kora232_device_lost_total", "counter", "Times the device went away while polling.")
        .sample(double(s.lost));
    e.family("kora232_reconnects_total", "counter", "Times a lost device was opened again.")
        .sample(double(s.reconnects));
    // Never a good answer yet: the family stands without a sample, rather
    // than a time at the start of 1970.
    e.family("kora232_last_good_reply_timestamp_seconds", "gauge",
             "Unix time of the last good answer.");
    if (s.lastGoodReply)
        e.sample(*s.lastGoodReply);
    e.family("kora232_acceptor_flag", "gauge",
             "Status flags an operator acts on, as the last good answer set them.")
        .sample(s.stackerFull, label("flag", "stacker_full"))
        .sample(s.cassetteOut, label("flag", "cassette_out"))
        .sample(s.jammed, label("flag", "jammed"))
        .sample(s.failure, label("flag", "failure"));
    return e.str();
}

bool WriteAtomically(const QString& path, const std::string& text, QString* why,
                     const std::string& log)
{
    const auto refused = [&] {
        const std::string refusal = OutputPathRefusal(QFile::encodeName(path).toStdString(), log);
        if (!refusal.empty())
            *why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(refusal.c_str()));
        return !refusal.empty();
    };
    if (refused())
        return false;
    // QSaveFile makes its temporary exclusively under a name of its own (on
    // Linux a file with no name at all until it is complete), so it never
    // meets a file another program keeps, and a run killed mid-write leaves
    // nothing in the folder; the collector reads *.prom only.
    QSaveFile file(path);
    const auto failed = [&] {
        *why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    };
    // Unbuffered: a write that fails (a full disk) must fail here, where it
    // is seen; a buffered one fails in commit's flush, which Qt 6 passes
    // over, renaming a cut file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed();
    // The node exporter reads the file under a user of its own.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther))
        return failed();
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size()))
        return failed();
    // Synced before the rename, which commit() does not do on every
    // version of Qt: else a power cut may leave the name on an empty file.
    if (::fsync(file.handle()) != 0) {
        *why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Asked again: what stands at the path may have changed while writing.
    // The temporary goes with the QSaveFile.
    if (refused())
        return false;
    return file.commit() || failed();
}

MetricsFile::MetricsFile(SessionEngine& engine, QString path, std::string port,
                         std::chrono::seconds interval, QObject* parent)
    : QObject(parent), engine_(engine), path_(std::move(path)), port_(std::move(port)),
      interval_(interval), timer_(new QTimer(this))
{
    timer_->setInterval(interval);
    connect(timer_, &QTimer::timeout, this, &MetricsFile::rewrite);
    connect(&engine_, &SessionEngine::polled, this, &MetricsFile::notePoll);
    connect(&engine_, &SessionEngine::deviceLost, this, [this] {
        ++lost_;
        linkUp_ = false;
    });
}

void MetricsFile::notePoll(const PollNotes& notes)
{
    linkUp_ = engine_.state().NRFlag == 0;
    if (notes.timing.replied)
        replies_.add(
            std::chrono::duration<double>(*notes.timing.replied - notes.timing.sent).count());
    if (linkUp_)
        lastGoodReply_ =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
}

MetricsSample MetricsFile::sample(bool up) const
{
    const LinkStats& stats = engine_.record().stats();
    const RunState& s = engine_.state();
    MetricsSample m;
    m.port = port_;
    m.writtenAt =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    m.intervalSeconds = double(interval_.count());
    m.up = up;
    m.linkUp = up && linkUp_;
    m.good = stats.good(), m.noReply = stats.noReply(), m.checksum = stats.checksum();
    m.counted = engine_.counts();
    m.bills = engine_.figures().total();
    m.events = engine_.figures().events();
    m.replies = replies_;
    m.lost = lost_, m.reconnects = stats.reconnects();
    m.lastGoodReply = lastGoodReply_;
    // Flags are only known from a good answer; before one, none is set.
    m.stackerFull = s.Full == 1, m.jammed = s.Jammed == 1, m.failure = s.Failure == 1;
    m.cassetteOut = lastGoodReply_ && s.Cassette != 1;
    return m;
}

bool MetricsFile::write(bool up, QString* why)
{
    return WriteAtomically(path_, MetricsText(sample(up)), why, engine_.record().log().path());
}

void MetricsFile::rewrite()
{
    QString why;
    if (write(timer_->isActive(), &why)) {
        failureSaid_.clear();
    } else if (why != failureSaid_) {
        // Polling matters more than the figures: it goes on, and each
        // interval tries again.
        Say(Priority::Warning, QStringLiteral("cannot write the metrics to %1").arg(why));
        failureSaid_ = why;
    }
}

void MetricsFile::start()
{
    timer_->start();
    rewrite();
}

// The file left behind would say the poller is up: a stop that looks like
// a hang, so the run's status tells of it.
bool MetricsFile::finish()
{
    timer_->stop();
    QString why;
    if (write(false, &why))
        return true;
    Say(Priority::Error,
        QStringLiteral("cannot write the metrics to %1; the file left there does not say "
                       "the poller has stopped")
            .arg(why));
    return false;
}

} // namespace kora
