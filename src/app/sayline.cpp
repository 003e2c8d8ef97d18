#include "app/sayline.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kora {

namespace {

// systemd sets JOURNAL_STREAM to "DEVICE:INODE" of the stream it connects;
// a child whose standard error was redirected keeps the variable, so the
// descriptor itself must be that stream.
bool stderrIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    char rest = 0;
    if (!stream || std::sscanf(stream, "%llu:%llu%c", &device, &inode, &rest) != 2)
        return false;
    struct stat st = {};
    return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

} // namespace

void Say(Priority priority, std::string_view text)
{
    const std::string prefix =
        stderrIsJournal() ? "<" + std::to_string(static_cast<int>(priority)) + ">" : std::string();
    std::string line = prefix + "kora232-headless: ";
    for (const char c : text) {
        line += c;
        if (c == '\n')
            line += prefix;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void Say(Priority priority, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    Say(priority, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace kora
