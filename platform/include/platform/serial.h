// Serial: COM ports as one small table of operations.
//
// A SerialPort is a tty (termios, exclusive open, UUCP lock file), one end
// of an in-process virtual null-modem pair for tests, or a network serial
// port spoken to over RFC 2217; callers never see which. Line settings are a
// plain value turned into termios by pure functions. COMn resolves through
// the root's dosdevices/comN link, made on first use from the machine's
// serial devices. The RFC 2217 codec parses and encodes bytes only, so tests
// and the fuzz target drive it with buffers.
//
// Index: serial_port.h (SerialPort, LineSettings, SerialError,
//        open_serial_port, VirtualNullModem), com_ports.h (the default COM
//        mapping), rfc2217.h (Rfc2217Codec, parse_rfc2217_url),
//        port_holders.h (other processes that hold a device; the rule that
//        keeps ModemManager away).
#pragma once

#include "platform/serial/com_ports.h"
#include "platform/serial/port_holders.h"
#include "platform/serial/rfc2217.h"
#include "platform/serial/serial_port.h"
