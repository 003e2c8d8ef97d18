#pragma once

namespace kora {

class Kora232;

// The window's load: gives the run state its operator defaults, clears the
// decoded status, blanks the bill counters and configures the serial object
// without opening the port. Runs once, before the window is first shown.
// A setting the serial object refuses is not caught here.
void Startup(Kora232& w);

} // namespace kora
