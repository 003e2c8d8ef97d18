#pragma once

#include <QProcess>
#include <QStringList>

// A program run to its end: its status (-1 when it did not end by itself
// within a minute) and what it wrote, with the variables `unset` taken out
// of its environment.
struct ProgramRun
{
    int status = -1;
    QString out, err;
};

inline ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                             const QStringList& unset = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : unset)
        env.remove(name);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    ProgramRun r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}
