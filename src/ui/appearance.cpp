#include "ui/appearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace kora {

namespace {
QFont fontOf(int pixels, bool bold)
{
    QFont f(WindowFontFamily());
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

bool isTextBox(const QWidget* control)
{
    return qobject_cast<const QLineEdit*>(control);
}

QPalette::ColorRole backRole(const QWidget* control)
{
    if (isTextBox(control))
        return QPalette::Base;
    if (qobject_cast<const QPushButton*>(control))
        return QPalette::Button;
    return QPalette::Window;
}
} // namespace

namespace {
QString findWindowFontFamily()
{
    // Liberation Sans has the metrics of Arial, which is what the classic
    // face falls back to on systems that do not have it either.
    // Looked up in the list of installed families: asking for a family that
    // is not there (hasFamily) has fontconfig resolve it as an alias, which
    // takes longer than building the whole window.
    const QStringList installed = QFontDatabase::families();
    for (const char* family : {"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"}) {
        if (installed.contains(QLatin1String(family), Qt::CaseInsensitive))
            return QString::fromLatin1(family);
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}
} // namespace

QString WindowFontFamily()
{
    // Each lookup asks fontconfig, and every control asks: looked up once,
    // the window comes up a fifth sooner. The installed fonts do not change
    // while the program runs.
    static const QString family = findWindowFontFamily();
    return family;
}

QFont WindowFont()
{
    return fontOf(11, false);
}
QFont BoldFont()
{
    return fontOf(11, true);
}
QFont LargeBoldFont()
{
    return fontOf(13, true);
}

void SetBackColor(QWidget* control, QColor c)
{
    QPalette p = control->palette();
    if (isTextBox(control)) {
        p.setColor(QPalette::Base, c);
    } else {
        p.setColor(QPalette::Window, c);
        p.setColor(QPalette::Button, c);
        control->setAutoFillBackground(true);
    }
    control->setPalette(p);
}

void SetForeColor(QWidget* control, QColor c)
{
    // A check box's own Text colour draws its tick, which must stay dark on
    // the white box whatever colour the caption has.
    QPalette p = control->palette();
    p.setColor(QPalette::WindowText, c);
    if (isTextBox(control))
        p.setColor(QPalette::Text, c);
    if (qobject_cast<const QPushButton*>(control))
        p.setColor(QPalette::ButtonText, c);
    control->setPalette(p);
}

void UseSystemColours(QWidget* control)
{
    // Every role marked as set, so that nothing is inherited from the
    // coloured container.
    const QPalette system = QApplication::palette();
    QPalette p;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = static_cast<QPalette::ColorGroup>(group);
            const auto r = static_cast<QPalette::ColorRole>(role);
            p.setColor(g, r, system.color(g, r));
        }
    }
    control->setPalette(p);
}

QColor BackColor(const QWidget* control)
{
    return control->palette().color(backRole(control));
}

QColor ForeColor(const QWidget* control)
{
    return control->palette().color(isTextBox(control) ? QPalette::Text : QPalette::WindowText);
}

} // namespace kora
