#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace kora {

// Which sessions of a log a report covers: all, in file order, or the last
// one only (the session the window has just logged).
enum class ReportSessions { All, Last };

// How making a report ended: status 0 when the PDF is written, 1 when it
// cannot be written, 2 when the log cannot be read or is not a session log,
// or when the PDF's path is refused (see PdfOutputRefusal); `message` says
// what happened, in a sentence for the operator.
struct ReportResult
{
    int status = 0;
    QString message;
};

// Renders a PDF of a session log: for each session its device, port and
// settings, the program versions, the counts, the acceptance and link
// figures, the reply-time histogram, the timeline of the whole session and
// the anomalies. The log is streamed, so any size takes the memory of one
// session; the PDF appears whole or not at all. Safe to run off the GUI
// thread.
// Why a PDF made from the log at `logPath` must not be written at
// `pdfPath`, as a result of status 2; none when it may. Every PDF the program
// makes of a log asks here, before it begins and again before it is put in
// place.
std::optional<ReportResult> ReportOutputRefusal(const QString& pdfPath, const QString& logPath);
// The same for a PDF made from several logs: the rules of PdfOutputRefusal.
std::optional<ReportResult> ReportOutputRefusal(const QString& pdfPath,
                                                const QStringList& logPaths);

ReportResult WriteSessionReport(const QString& logPath, const QString& pdfPath,
                                ReportSessions which = ReportSessions::All);

// The same over several files of a log, the live one and its rotations,
// plain or compressed, in any order: sessions in the order of their rows, a
// run a rotation split as one, and after them the totals of the bills
// counted across all of them. A file that cannot be read or is no session
// log is named and skipped; status 2 when none can be read.
ReportResult WriteSessionReport(const QStringList& logPaths, const QString& pdfPath,
                                ReportSessions which = ReportSessions::All);

} // namespace kora
