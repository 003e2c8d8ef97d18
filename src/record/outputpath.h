#pragma once

#include <string>

namespace kora {

// Why a file written aside and then put in place at `path` must not go
// there, in words that follow "cannot write PATH: "; empty when it may. What
// stands at `path` is replaced whole: so it must be a regular file or
// nothing, never a device, a FIFO, a folder or a socket, and never `log`
// (the session log) under any name, by a hard link, a symbolic link or a
// path through other folders. Ask again right before the file is put in
// place: the path may have changed meanwhile.
std::string OutputPathRefusal(const std::string& path, const std::string& log = {});

} // namespace kora
