#pragma once

#include <QString>

class QWidget;

namespace kora {

// What a notice tells: news that something asked for is done, or something
// that went wrong or needs the operator's eye. Each caller says which; the
// text is never read for it.
enum class NoticeKind { Information, Warning };

// A notice in a box of its own that holds nothing up: non-modal, so the
// window and its timers go on, and gone once dismissed. `name` lets a test
// or a script find it.
void ShowNotice(QWidget& parent, NoticeKind kind, const QString& name, const QString& text);

} // namespace kora
