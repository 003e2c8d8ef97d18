#include "ui/notice.h"

#include <QMessageBox>

namespace kora {

void ShowNotice(QWidget& parent, NoticeKind kind, const QString& name, const QString& text)
{
    const QMessageBox::Icon icon =
        kind == NoticeKind::Information ? QMessageBox::Information : QMessageBox::Warning;
    auto* box = new QMessageBox(icon, QStringLiteral("Kora232"), text, QMessageBox::Ok, &parent);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

} // namespace kora
