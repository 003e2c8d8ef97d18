#pragma once

#include "acceptorserver.h"
#include "control/runcontrol.h"
#include "serial/mscomm.h"
#include "ui/kora232.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The whole program as an operator meets it: the window with its handlers,
// port 1 pinned to a simulated acceptor on a pseudo-terminal behind a stable
// link, so that the far end can go away and come back at the same path.
struct App
{
    explicit App(std::chrono::milliseconds stepTime = std::chrono::milliseconds(150),
                 kora::PortMap extra = {})
    {
        kora::sim::ServerOptions o;
        o.stepTime = stepTime;
        o.symlink = dir.filePath(QStringLiteral("acceptor")).toStdString();
        sim = std::make_unique<kora::sim::AcceptorServer>(o);
        kora::PortMap ports = extra;
        ports.pin(1, QString::fromStdString(o.symlink));
        window = std::make_unique<kora::Kora232>(std::make_unique<kora::MSComm>(ports));
        control = new kora::RunControl(*window);
        window->show();
    }

    kora::RunState& state() { return window->state(); }
    bool portOpen() { return window->MSComm1().isOpen(); }
    void clickStartStop() { window->cmdStartStop()->click(); }
    // The rows of a history column from the top row (5) down to row 0.
    QStringList rows(bool host)
    {
        QStringList out;
        for (int r = 5; r >= 0; --r)
            out << (host ? window->lbOUT(r) : window->lbIN(r))->text();
        return out;
    }
    QString counter(int n) { return window->txBillCount(n)->text(); }

    QTemporaryDir dir;
    std::unique_ptr<kora::sim::AcceptorServer> sim;
    std::unique_ptr<kora::Kora232> window;
    kora::RunControl* control = nullptr; // owned by the window
};
