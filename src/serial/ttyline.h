#pragma once

#include "acceptorlink.h"

#include <QString>

class QSerialPort;

// What the port object needs to know of the device beneath Qt SerialPort:
// whether it is a pseudo-terminal, what the system still holds for it, and
// whether it has gone away. Qt answers none of these itself.
namespace kora::ttyline {

// True for the slave side of a pseudo-terminal, also when reached through a
// symbolic link. A pty keeps its line 8N1 and has no modem lines.
bool isPseudoTerminal(const QString& device);

// Received bytes the system holds that the port has not yet taken into its
// own buffer; -1 when the device no longer answers.
int heldBySystem(QSerialPort& port);

// True once the device behind an open port has hung up or vanished.
bool deviceGone(QSerialPort& port);

enum class Wake { Input, Deadline, Gone };

// Sleeps until the system holds input for the port, the device goes away or
// the deadline passes; never returns before the deadline without a reason.
Wake sleepUntilInput(QSerialPort& port, Deadline deadline);

} // namespace kora::ttyline
