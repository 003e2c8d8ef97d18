#pragma once

#include "acceptorserver.h"
#include "protocol/runstate.h"
#include "serial/mscomm.h"
#include "startedstate.h"

#include <QElapsedTimer>
#include <QTest>
#include <memory>
#include <thread>

// A simulated acceptor on a real pseudo-terminal, and the host's port object
// opened on it as port 1 with the line settings the program uses.
struct SimulatedLink
{
    explicit SimulatedLink(std::chrono::milliseconds stepTime = std::chrono::milliseconds(300))
        : server(std::make_unique<kora::sim::AcceptorServer>(options(stepTime)))
    {
        kora::PortMap ports;
        ports.pin(1, QString::fromStdString(server->devicePath()));
        port = std::make_unique<kora::MSComm>(ports);
        port->setPortNumber(1);
        port->setSettings(QStringLiteral("9600, E, 7, 1"));
        port->setDtr(true);
        port->setRts(true);
        port->open();
    }

    static kora::sim::ServerOptions options(std::chrono::milliseconds stepTime)
    {
        kora::sim::ServerOptions o;
        o.stepTime = stepTime;
        return o;
    }

    // Waits (sleeping) until the host's port holds n bytes or the time runs out.
    bool waitForWaiting(int n, int ms = 2000)
    {
        QElapsedTimer t;
        t.start();
        while (port->waitingCount() < n && t.elapsed() < ms)
            port->waitForInput(std::chrono::steady_clock::now() + std::chrono::milliseconds(20), 1);
        return port->waitingCount() >= n;
    }

    std::unique_ptr<kora::sim::AcceptorServer> server;
    std::unique_ptr<kora::MSComm> port;
};
