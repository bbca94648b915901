#include "base/localtimezone.h"

#include <cstdlib>
#include <ctime>

void LocalTimeZone::pinSystemZone()
{
    if (std::getenv("TZ"))
        return;
    // Qt reads ":/etc/localtime" as "the system's zone", as it does an unset TZ.
    ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}
