// Loop and time: the clock, the message loop of each thread, the logger.
//
// Everything that waits asks clock(), so tests run on virtual time: an idle
// message loop jumps to its next due timer and a 60-second time-out takes
// microseconds. Nothing busy-waits; a wait sleeps or blocks on a descriptor.
// Each thread that touches windows or timers has its own MessageLoop;
// windows are addressed by handles, and a message to a destroyed window is
// dropped. Every component logs and traces through the one logger.
//
// Index: clock.h (Clock, VirtualClock, ScopedVirtualClock),
//        message_loop.h (MessageLoop, messages, window and thread timers,
//        modal loops, pump), log.h (the logger).
#pragma once

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/loop/message_loop.h"
