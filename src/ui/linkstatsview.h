#pragma once

#include "protocol/linkstats.h"

#include <QWidget>
#include <array>

class QLabel;
class QTimer;

namespace kora {

// A small window of its own that shows how the link has fared since START
// and keeps itself current while it is shown. It only reads the statistics;
// closing it changes nothing.
class LinkStatsView : public QWidget
{
    Q_OBJECT

public:
    LinkStatsView(const LinkStats& stats, QWidget* parent);

    void refresh();
    // The shown value of a row, by its caption; for tests and screen readers.
    QString value(const QString& caption) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int Rows = 9;

    const LinkStats& stats;
    QTimer* timer = nullptr;
    std::array<QLabel*, Rows> captions{};
    std::array<QLabel*, Rows> values{};
};

} // namespace kora
