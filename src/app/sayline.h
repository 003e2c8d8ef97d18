#pragma once

#include <QString>
#include <string_view>

namespace kora {

// How much a message on standard error matters, as syslog numbers it.
enum class Priority { Error = 3, Warning = 4, Info = 6 };

// Writes "kora232-headless: TEXT" on standard error in one write. When
// standard error is the journal (JOURNAL_STREAM names its device and inode),
// each line starts with its priority as <N>, which journald takes off and
// keeps, so that journalctl -p warning finds the faults.
void Say(Priority priority, std::string_view text);
void Say(Priority priority, const QString& text);
inline void Say(Priority priority, const char* text)
{
    Say(priority, std::string_view(text));
}

} // namespace kora
