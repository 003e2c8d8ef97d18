#pragma once

#include "ui/sessionreport.h"

#include <QString>

namespace kora {

// Renders a certificate of each bench test plan run in a session log, one
// page each: the unit, the plan and its digest, the date, the operator and
// the program; per step the notes inserted, taken first time, refused, the
// jams and the median cycle; each criterion with its threshold, what was
// measured and PASS or FAIL; the verdict; and the log's length up to the
// plan's last row with the SHA-256 of those bytes. Everything comes from the
// log: the plan is judged again from the frames it recorded. Statuses as for
// the report; a log that holds no plan run is status 2.
ReportResult WriteCertificates(const QString& logPath, const QString& pdfPath);

} // namespace kora
