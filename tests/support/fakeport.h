#pragma once

#include "serial/serialerror.h"
#include "serial/serialport.h"

#include <QStringList>
#include <thread>

namespace kora::test {

// A port without a device behind it, for handler and window tests that need
// only "opened", "refused to open" or "went away". Open, it answers nothing,
// as a line with no acceptor; it records what start-up set.
class FakePort : public SerialPort
{
public:
    explicit FakePort(bool* destroyed = nullptr) : destroyedFlag(destroyed) {}
    ~FakePort() override
    {
        if (destroyedFlag)
            *destroyedFlag = true;
    }

    void setPortNumber(int n) override { number = n; }
    int portNumber() const override { return number; }
    void setSettings(const QString& text) override { settings = text; }
    void setReadLength(int length) override { readLength = length; }
    void setDtr(bool on) override { dtr = on; }
    void setRts(bool on) override { rts = on; }
    void setBinaryInput(bool binary) override { binaryInput = binary; }
    QString deviceFor(int) const override { return QStringLiteral("fake"); }

    void open() override { openAs("open", number); }
    void reopen() override { openAs("reopen", openedNumber); }
    void close() override { opened = false; }
    void onDeviceLost(DeviceLost handler) override { lost = std::move(handler); }

    // The device goes away while open, as an adapter pulled out.
    void loseDevice()
    {
        opened = false;
        if (lost)
            lost(QStringLiteral("Port %1 (fake): the device has gone away").arg(openedNumber));
    }

    bool isOpen() const override { return opened; }
    void write(std::string_view) override { requireOpen(); }
    int waitingCount() override { return requireOpen(), 0; }
    std::vector<std::uint8_t> readAll() override
    {
        return requireOpen(), std::vector<std::uint8_t>{};
    }
    void discardInput() override { requireOpen(); }
    void waitForInput(Deadline deadline, int) override
    {
        if (opened)
            std::this_thread::sleep_until(deadline);
    }

    bool refuse = false;   // open and reopen fail as for a missing device
    bool heldByAnother = false; // they fail as for a device another program holds
    QStringList calls;   // "open 1", "reopen 1", in order
    int number = 0;
    int openedNumber = 0;
    QString settings;
    int readLength = -1;
    bool dtr = false, rts = false, binaryInput = false;

private:
    void openAs(const char* how, int n)
    {
        calls << QStringLiteral("%1 %2").arg(QLatin1String(how)).arg(n);
        if (heldByAnother)
            throw SerialError(
                DeviceUnavailable,
                QStringLiteral("Port %1 (fake) is in use by another program").arg(n));
        if (refuse)
            throw SerialError(DeviceUnavailable,
                              QStringLiteral("Port %1 (fake) cannot be opened: no device").arg(n));
        openedNumber = n;
        opened = true;
    }
    void requireOpen() const
    {
        if (!opened)
            throw SerialError(PortNotOpen, QStringLiteral("the port is closed"));
    }

    bool opened = false;
    DeviceLost lost;
    bool* destroyedFlag = nullptr;
};

} // namespace kora::test
