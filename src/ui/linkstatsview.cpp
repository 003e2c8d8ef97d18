#include "ui/linkstatsview.h"

#include <QFormLayout>
#include <QLabel>
#include <QTimer>

namespace kora {

namespace {

constexpr int RefreshMs = 250;

QString ms(std::optional<double> value)
{
    return value ? QStringLiteral("%1 ms").arg(*value, 0, 'f', 1) : QStringLiteral("-");
}

QString duration(double seconds)
{
    const auto s = static_cast<long long>(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

LinkStatsView::LinkStatsView(const LinkStats& linkStats, QWidget* parent)
    : QWidget(parent, Qt::Window), stats(linkStats), timer(new QTimer(this))
{
    setObjectName(QStringLiteral("linkStatistics"));
    setWindowTitle(QStringLiteral("Link statistics - Kora232"));
    auto* form = new QFormLayout(this);
    const char* const names[Rows] = {"Polls",
                                     "Good replies",
                                     "No reply",
                                     "Checksum errors",
                                     "Success rate",
                                     "Reply time, median",
                                     "Reply time, maximum",
                                     "Reconnects",
                                     "Running for"};
    for (int i = 0; i < Rows; ++i) {
        captions[i] = new QLabel(QString::fromLatin1(names[i]), this);
        values[i] = new QLabel(this);
        values[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        values[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000.0 ms")));
        form->addRow(captions[i], values[i]);
    }
    timer->setInterval(RefreshMs);
    connect(timer, &QTimer::timeout, this, &LinkStatsView::refresh);
    refresh();
}

void LinkStatsView::refresh()
{
    const QString texts[Rows] = {
        QString::number(stats.polls()),
        QString::number(stats.good()),
        QString::number(stats.noReply()),
        QString::number(stats.checksum()),
        QStringLiteral("%1 %").arg(stats.successRate() * 100.0, 0, 'f', 1),
        ms(stats.medianReplyMs()),
        ms(stats.maxReplyMs()),
        QString::number(stats.reconnects()),
        duration(stats.runningSeconds(LinkStats::Clock::now())),
    };
    for (int i = 0; i < Rows; ++i)
        values[i]->setText(texts[i]);
}

QString LinkStatsView::value(const QString& caption) const
{
    for (int i = 0; i < Rows; ++i)
        if (captions[i]->text() == caption)
            return values[i]->text();
    return {};
}

void LinkStatsView::showEvent(QShowEvent* event)
{
    refresh();
    timer->start();
    QWidget::showEvent(event);
}

void LinkStatsView::hideEvent(QHideEvent* event)
{
    timer->stop();
    QWidget::hideEvent(event);
}

} // namespace kora
