#include "ui/labelfactory.h"

#include "ui/appearance.h"

#include <QLabel>

namespace kora {

QLabel* MakeLabel(const LabelRow& row, QWidget* container)
{
    return SetUpLabel(new QLabel(container), row);
}

QLabel* SetUpLabel(QLabel* label, const LabelRow& row)
{
    const QString name = QString::fromLatin1(row.name);
    label->setObjectName(row.index < 0 ? name : name + QStringLiteral("(%1)").arg(row.index));
    label->setGeometry(TwipsRect(row.left, row.top, row.width, row.height));
    // The form places every label itself; held at its size, a label whose
    // text changes asks nobody to lay the form out again (which would cost
    // a posted event and a turn of the event loop at every poll).
    label->setFixedSize(label->size());
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromLatin1(row.caption));
    label->setWordWrap(true);
    label->setAlignment(row.align | Qt::AlignTop);
    label->setFont(row.font == LabelFont::LargeBold ? LargeBoldFont() : WindowFont());
    SetBackColor(label, QColor(row.back));
    SetForeColor(label, QColor(row.fore));
    label->setVisible(!row.hidden);
    return label;
}

} // namespace kora
