#pragma once

#include "protocol/poll.h"
#include "protocol/pollnotes.h"
#include "protocol/runstate.h"

#include <QString>

class QLabel;

namespace kora {

class Kora232;

// What a history row stands for beyond its hex: when it was made and what
// its bytes mean, as its tooltip and, for screen readers, its accessible
// description. A row's note moves up the history with its caption.

// The notes of a host row and of the reply row beside it, made at `time`.
QString HostRowNote(const RunState& s, const QString& time);
QString ReplyRowNote(const RunState& s, const PollTiming& t, const QString& time);

// Notes the newest rows of both histories, for the poll just shown.
void NoteNewestRows(const RunState& s, const PollNotes& notes, Kora232& w);

// A row's note and time go where its caption goes; a blank row has none.
void MoveRowNote(const QLabel* from, QLabel* to);
void ClearRowNote(QLabel* row);
// "16:30:01.123" for a noted row, empty otherwise.
QString RowTime(const QLabel* row);

} // namespace kora
