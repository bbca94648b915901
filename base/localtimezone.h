#pragma once

namespace LocalTimeZone {

// With TZ unset, the C library reads /etc/localtime again (a stat, at least) on every local-time conversion,
// and Qt converts through it for every appointment: a tenth of a warm start. Naming the same file in TZ makes
// it read once. Called at the start of main(), before any thread; a TZ the user set is left as it is.
void pinSystemZone();

} // namespace LocalTimeZone
