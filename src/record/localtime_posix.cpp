#include "record/localtime.h"

#include <time.h>

namespace kora {

std::tm LocalCalendar(std::time_t t)
{
    std::tm local = {};
    ::localtime_r(&t, &local);
    return local;
}

} // namespace kora
