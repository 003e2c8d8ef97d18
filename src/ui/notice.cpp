#include "ui/notice.h"

#include <QMessageBox>

namespace kora {

void ShowNotice(QWidget& parent, const QString& name, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kora232"), text,
                                QMessageBox::Ok, &parent);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

} // namespace kora
