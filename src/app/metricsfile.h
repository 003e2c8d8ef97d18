#pragma once

#include "protocol/billcycles.h"

#include <QObject>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class QTimer;

namespace kora {

class SessionEngine;
struct PollNotes;

// Reply times in seconds, counted into the upper bounds a Prometheus
// histogram gives: a reply at 9600 baud takes some 12 ms on the wire, and
// none is waited for past 0.4 s.
struct ReplyBuckets
{
    static constexpr std::array<double, 9> Bounds{0.005, 0.01, 0.015, 0.02, 0.03,
                                                  0.05,  0.1,  0.2,   0.4};
    std::array<std::uint64_t, Bounds.size()> atMost{}; // cumulative, as exposed
    std::uint64_t count = 0;
    double sumSeconds = 0;

    void add(double seconds);
};

// Everything one metrics file says, at one moment.
struct MetricsSample
{
    std::string port;     // the device, the `port` label of every metric
    double writtenAt = 0; // Unix time in seconds
    double intervalSeconds = 0;
    bool up = false; // the poller runs
    bool linkUp = false;
    std::uint64_t good = 0, noReply = 0, checksum = 0;
    std::array<long, 7> counted{};
    BillFigures::Row bills;
    AcceptorEvents events;
    ReplyBuckets replies;
    std::uint64_t lost = 0, reconnects = 0;
    std::optional<double> lastGoodReply; // Unix time in seconds
    bool stackerFull = false, cassetteOut = false, jammed = false, failure = false;
};

// The sample in the Prometheus text exposition format.
std::string MetricsText(const MetricsSample& sample);

// Writes `text` to a temporary of this program's own beside `path`, flushes
// it to the disk, then renames it to `path`, mode 0644: a reader (the node
// exporter's textfile collector) sees the old file or the new one, never
// part of one, and so does one after a power cut. Only a regular file that
// is not the session log `log` is replaced (see OutputPathRefusal). False,
// and why, when it cannot.
bool WriteAtomically(const QString& path, const std::string& text, QString* why,
                     const std::string& log = {});

// The poller's metrics in a file, rewritten every interval while the run
// polls and once at its end, when it says the poller has stopped.
class MetricsFile : public QObject
{
    Q_OBJECT

public:
    MetricsFile(SessionEngine& engine, QString path, std::string port,
                std::chrono::seconds interval, QObject* parent);

    // Writes the file at once; false, and why, when it cannot.
    bool write(bool up, QString* why);
    // Polling has begun: up from now on, and rewritten at each interval.
    void start();
    // The run is over: the last file, with up 0; false, said, when it
    // cannot be written.
    bool finish();

private:
    void notePoll(const PollNotes& notes);
    void rewrite();
    MetricsSample sample(bool up) const;

    SessionEngine& engine_;
    QString path_;
    std::string port_;
    std::chrono::seconds interval_{};
    QTimer* timer_ = nullptr;
    ReplyBuckets replies_;
    std::uint64_t lost_ = 0;
    bool linkUp_ = false;
    std::optional<double> lastGoodReply_;
    QString failureSaid_; // the write failure last said, until one succeeds
};

} // namespace kora
