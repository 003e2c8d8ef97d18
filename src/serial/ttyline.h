#pragma once

#include "protocol/acceptorlink.h"

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

// Takes the one-program-per-device lock on an open port: an advisory lock
// on the device itself, so it holds whatever path reached the device and for
// root too, and dies with its holder. False when another program holds it.
bool lockDevice(QSerialPort& port);

// Why a device could not be opened, as far as the system tells: a path that
// is no terminal at all, a device another program holds, no permission.
enum class Refusal { NotSerial, InUse, NoPermission, Other };
// Looks at the device behind a failed open. Qt reports its own lock file
// held by another program as a permission error; a device that this look
// then opens freely is therefore in use, not forbidden.
Refusal whyRefused(const QString& device, bool permissionError);

enum class Wake { Input, Deadline, Gone };

// Sleeps until the system holds input for the port, the device goes away or
// the deadline passes; never returns before the deadline without a reason.
Wake sleepUntilInput(QSerialPort& port, Deadline deadline);

} // namespace kora::ttyline
