// Stopping long work cleanly on SIGINT or SIGTERM: the signal only sets a flag; the work asks for
// it between steps, finishes the step in hand and ends in order.
#pragma once

namespace igxl::util {

// Installs the handlers (idempotent). Until then interrupted() stays false.
void watch_interrupts();
// True once SIGINT or SIGTERM arrived after watch_interrupts().
bool interrupted();
// Exit status for a run ended by an interruption (128 + SIGINT).
inline constexpr int kInterruptedStatus = 130;

}  // namespace igxl::util
