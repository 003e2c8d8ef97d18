#include "app/toplevel.h"

#include "serial/serialerror.h"

#include <QMessageBox>

namespace kora {

TopLevel::TopLevel(int& argc, char** argv) : QApplication(argc, argv) {}

bool TopLevel::notify(QObject* receiver, QEvent* event)
{
    if (failed())
        return false;
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        fail(std::current_exception());
        return false;
    }
}

void TopLevel::guard(const std::function<void()>& step)
{
    if (failed())
        return;
    try {
        step();
    } catch (...) {
        fail(std::current_exception());
    }
}

void TopLevel::fail(std::exception_ptr error)
{
    // The first error is the one that counts; anything after it is a
    // consequence.
    if (!failure)
        failure = error;
    QCoreApplication::exit(1);
}

QString TopLevel::Describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SerialError& e) {
        return e.describe();
    } catch (const std::exception& e) {
        return QStringLiteral("Error: %1").arg(QString::fromStdString(e.what()));
    } catch (...) {
        return QStringLiteral("Error: an unknown failure");
    }
}

QString TopLevel::failureText() const
{
    return failure ? Describe(failure) : QString();
}

int TopLevel::finish(int status, const Teller& tell)
{
    if (!failed())
        return status;
    const QString text = failureText();
    failure = nullptr; // let the message box have its events
    if (tell)
        tell(text);
    else
        QMessageBox::critical(nullptr, QStringLiteral("RS-232 Interface Program"), text);
    return 1;
}

} // namespace kora
