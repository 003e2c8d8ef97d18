#pragma once

#include <ctime>

namespace kora {

// The calendar time of `t` in the local time zone. Each platform's own call,
// in localtime_<platform>.cpp: the standard's std::localtime shares one
// buffer between threads.
std::tm LocalCalendar(std::time_t t);

} // namespace kora
