// SIGTERM, SIGINT and SIGHUP for the hosts' event loops: caught, and made a
// descriptor that becomes readable when one came, so that a host's wait can
// poll it beside its connection and the program ends the normal way.
#pragma once

namespace linuxhost {

// Catches the three signals (once per process); the descriptor to poll, or
// -1 when it cannot be made (the signals then keep their default action).
int CatchTermination();
// Whether a signal came since the last call; empties the descriptor.
bool TerminationRequested();

} // namespace linuxhost
