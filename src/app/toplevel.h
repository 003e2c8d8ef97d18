#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace kora {

// The one place an error that no handler traps ends up. It is caught where
// Qt hands an event to its receiver, so it never unwinds through the event
// loop; the loop is told to end, no further event is delivered, and once the
// window is gone the operator is shown what happened.
class TopLevel : public QApplication
{
    Q_OBJECT

public:
    TopLevel(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs a step that happens outside event delivery, such as start-up,
    // under the same rule.
    void guard(const std::function<void()>& step);

    bool failed() const { return failure != nullptr; }
    // What the operator is told: the error's number where it has one, and
    // its description.
    QString failureText() const;

    // Tells the operator of the failure, if there was one, and gives the
    // program's exit status. Call it after the window has gone, so that
    // nothing of the system runs while the message is up. By default the
    // failure is told in a message box.
    using Teller = std::function<void(const QString&)>;
    int finish(int status, const Teller& tell = {});

    static QString Describe(std::exception_ptr error);

private:
    void fail(std::exception_ptr error);

    std::exception_ptr failure = nullptr;
};

} // namespace kora
