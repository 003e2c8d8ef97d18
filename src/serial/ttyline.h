#pragma once

#include "protocol/acceptorlink.h"

#include <QString>
#include <cstdint>
#include <string_view>
#include <vector>

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

// Moves what the system holds for the port onto the end of `into`, past the
// port's own buffer; gives the count moved, -1 when the device no longer
// answers.
int takeHeld(QSerialPort& port, std::vector<std::uint8_t>& into);

// Moves what the system holds for the port onto the end of `into` without
// asking how much that is first: one system call where takeHeld makes two.
// A device that hung up reads as one that holds nothing, so only a caller
// that has just been told there is input (or that asks again later) may use
// it; -1 when the device no longer answers.
int takeHeldNow(QSerialPort& port, std::vector<std::uint8_t>& into);

// Hands bytes to the system at once, past the port's own buffer and the
// write notification that would wake the event loop once more; gives the
// count the system took, -1 when it took none for an error (errno says).
qint64 writeNow(QSerialPort& port, std::string_view bytes);

// True once the device behind an open port has hung up or vanished.
bool deviceGone(QSerialPort& port);

// Why a device could not be had, as far as the system tells: a path that is
// no terminal at all, a device another program holds, no permission.
enum class Refusal { None, NotSerial, InUse, NoPermission, Other };

// The one-program-per-device lock, taken before Qt opens the device: the
// device opened apart, never as a controlling terminal, and an advisory lock
// on that descriptor, held until release. It holds whatever path reached the
// device and for root too, and dies with its holder. A program refused it
// closes only its own descriptor, so the holder's exclusive open stands.
class DeviceClaim
{
public:
    DeviceClaim() = default;
    ~DeviceClaim() { release(); }
    DeviceClaim(const DeviceClaim&) = delete;
    DeviceClaim& operator=(const DeviceClaim&) = delete;

    // Refusal::None once the device is this program's; otherwise why not,
    // and the system's reason in `reason`.
    Refusal take(const QString& device, QString* reason);
    void release();

private:
    int fd_ = -1;
};

// The name of the group that owns the device; empty when it cannot be told.
QString owningGroup(const QString& device);

enum class Wake { Input, Deadline, Gone };

// Sleeps until the system holds input for the port, the device goes away or
// the deadline passes; never returns before the deadline without a reason.
Wake sleepUntilInput(QSerialPort& port, Deadline deadline);

} // namespace kora::ttyline
