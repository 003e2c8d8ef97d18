#pragma once

#include <QString>

class QWidget;

namespace kora {

// A warning in a box of its own that holds nothing up: non-modal, so the
// window and its timers go on, and gone once dismissed. `name` lets a test
// or a script find it.
void ShowNotice(QWidget& parent, const QString& name, const QString& text);

} // namespace kora
