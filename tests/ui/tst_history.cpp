// The history of a run's polls: what each row says, the ring that keeps the
// newest polls, and the window that shows them, filters, pauses and copies.
#include "hexbytes.h"
#include "replyframes.h"
#include "startedstate.h"
#include "ui/historyview.h"
#include "ui/pollhistory.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTest>

using namespace kora;

Q_DECLARE_METATYPE(kora::PollNotes)

namespace {

constexpr int Idle = 0x01, Accepting = 0x02, Escrowed = 0x04, Stacking = 0x08, Stacked = 0x10;

// A poll numbered `n` (its number in host bytes 3 and 4, so that a row says
// which poll it was), answered with the acceptor's state byte `state` and
// the cassette in; `nrFlag` as the poll ended.
RunState poll(int n, int state = Idle, int nrFlag = 0)
{
    RunState s = startedState();
    setBytes(s.HostMsg, QStringLiteral("02 08 %1 %2 10 00 03 00")
                            .arg(n & 0xFF, 2, 16, QLatin1Char('0'))
                            .arg(n >> 8, 2, 16, QLatin1Char('0')));
    setBytes(s.AcceptorMsg, replyHex(0, state));
    s.NRFlag = nrFlag;
    s.Cassette = 1;
    s.Idling = state == Idle;
    s.Accepting = state == Accepting;
    s.Escrowed = state == Escrowed;
    s.Stacking = state == Stacking;
    s.Stacked = state == Stacked;
    return s;
}

QString cell(const QAbstractItemModel& m, int row, int column)
{
    return m.index(row, column).data().toString();
}

// The polls a view shows, by their numbers.
QList<int> pollsShown(const QAbstractItemModel& m)
{
    QList<int> polls;
    for (int r = 0; r < m.rowCount(); ++r) {
        const QStringList bytes = cell(m, r, PollHistory::Host).split(u' ');
        polls << bytes[2].toInt(nullptr, 16) + 256 * bytes[3].toInt(nullptr, 16);
    }
    return polls;
}

PollNotes countedBill(int bill, long count, long total)
{
    FrameNote note;
    setBytes(note.frame.bytes, replyHex(0, Stacked, bill));
    note.frame.role = FrameRole::Answer;
    note.count = {CountReason::Counted, bill, false};
    note.billCount = count;
    note.total = total;
    PollNotes notes;
    notes.frames = {note};
    return notes;
}

// Polls 1 to n, all idle and good.
void addIdlePolls(PollHistory& h, int from, int to)
{
    for (int n = from; n <= to; ++n)
        h.add(poll(n), {});
}

} // namespace

class HistoryTest : public QObject
{
    Q_OBJECT

private slots:
    void tenThousandAndOnePollsKeepTheNewestTenThousand()
    {
        PollHistory h;
        addIdlePolls(h, 1, 10'001);
        QCOMPARE(h.rowCount(), 10'000);
        QCOMPARE(pollsShown(h).first(), 2);
        QCOMPARE(pollsShown(h).last(), 10'001);
    }

    void aFullRingStaysConsistentForViewsAndFilters()
    {
        PollHistory h(nullptr, 3);
        QAbstractItemModelTester tester(&h, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSortFilterProxyModel failed;
        failed.setSourceModel(&h);
        failed.setFilterKeyColumn(PollHistory::Outcome);
        failed.setFilterFixedString(QStringLiteral("no reply"));
        for (int n = 1; n <= 7; ++n)
            h.add(poll(n, Idle, n % 2), {});
        QCOMPARE(pollsShown(h), QList<int>({5, 6, 7}));
        QCOMPARE(pollsShown(failed), QList<int>({5, 7}));
        h.clear();
        QCOMPARE(h.rowCount(), 0);
        QCOMPARE(failed.rowCount(), 0);
    }

    void eachOutcomeReadsAsTheMonitorShowsIt_data()
    {
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("reply");
        const QString idle = replyHex(0, Idle);
        QTest::newRow("good") << 0 << "good" << idle;
        QTest::newRow("no reply") << 1 << "no reply"
                                  << "";
        QTest::newRow("checksum error") << 2 << "checksum error" << idle;
    }
    void eachOutcomeReadsAsTheMonitorShowsIt()
    {
        QFETCH(int, nrFlag);
        QFETCH(QString, outcome);
        QFETCH(QString, reply);
        PollHistory h;
        h.add(poll(0x0102, Idle, nrFlag), {});
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                    .match(cell(h, 0, PollHistory::Time))
                    .hasMatch());
        QCOMPARE(cell(h, 0, PollHistory::Outcome), outcome);
        QCOMPARE(cell(h, 0, PollHistory::Host), QStringLiteral("02 08 02 01 10 00 03 00"));
        QCOMPARE(cell(h, 0, PollHistory::Reply), reply);
        QCOMPARE(cell(h, 0, PollHistory::Flags), QStringLiteral("Idling Cassette"));
        QCOMPARE(cell(h, 0, PollHistory::Changed), QStringLiteral("+Idling +Cassette"));
    }

    void theChangedColumnSaysWhatThePollChanged_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<PollNotes>("notes");
        QTest::addColumn<QString>("changed");
        QTest::newRow("nothing") << Idle << Idle << PollNotes{} << "";
        QTest::newRow("flags") << Accepting << Escrowed << PollNotes{} << "+Escrowed -Accepting";
        QTest::newRow("a counted bill")
            << Stacking << Stacked << countedBill(3, 2, 5)
            << "+Stacked -Stacking, bill 3 stacked, counted, count 2, total 5";
    }
    void theChangedColumnSaysWhatThePollChanged()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(PollNotes, notes);
        QFETCH(QString, changed);
        PollHistory h;
        h.add(poll(1, before), {});
        h.add(poll(2, after), notes);
        QCOMPARE(cell(h, 1, PollHistory::Changed), changed);
    }

    void eachFilterShowsItsPolls_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QList<int>>("polls");
        QTest::newRow("all") << 0 << QList<int>({1, 2, 3, 4, 5});
        QTest::newRow("failed") << 1 << QList<int>({3, 4});
        QTest::newRow("changed something") << 2 << QList<int>({1, 5});
    }
    void eachFilterShowsItsPolls()
    {
        QFETCH(int, filter);
        QFETCH(QList<int>, polls);
        PollHistory h;
        HistoryView view(h, nullptr);
        view.findChild<QComboBox*>("historyFilter")->setCurrentIndex(filter);
        h.add(poll(1), {});
        h.add(poll(2), {});
        h.add(poll(3, Idle, 1), {});
        h.add(poll(4, Idle, 2), {});
        h.add(poll(5, Escrowed), {});
        QCOMPARE(pollsShown(*view.table()->model()), polls);
    }

    void pauseHoldsTheRowsStillAndReleaseCatchesUp()
    {
        PollHistory h(nullptr, 5);
        HistoryView view(h, nullptr);
        view.show();
        addIdlePolls(h, 1, 3);
        QTableView* table = view.table();
        table->selectRow(1);
        auto* pause = view.findChild<QPushButton*>("historyPause");
        pause->click();
        QVERIFY(view.isPaused());
        addIdlePolls(h, 4, 12); // the ring drops polls 1 to 7 meanwhile
        QCOMPARE(pollsShown(*table->model()), QList<int>({1, 2, 3}));
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), 1);

        pause->click();
        QCOMPARE(pollsShown(*table->model()), QList<int>({8, 9, 10, 11, 12}));
        QCOMPARE(h.rowCount(), 5);
    }

    void aClosedViewShowsThePollsThatCameMeanwhileWhenOpenedAgain()
    {
        PollHistory h(nullptr, 5);
        HistoryView view(h, nullptr);
        view.show();
        addIdlePolls(h, 1, 3);
        view.hide();
        addIdlePolls(h, 4, 12);
        view.show();
        QCOMPARE(pollsShown(*view.table()->model()), QList<int>({8, 9, 10, 11, 12}));
        addIdlePolls(h, 13, 13);
        QCOMPARE(pollsShown(*view.table()->model()), QList<int>({9, 10, 11, 12, 13}));
    }

    void theViewFollowsTheNewestUntilScrolledUp()
    {
        PollHistory h;
        HistoryView view(h, nullptr);
        view.show();
        QTableView* table = view.table();
        const auto bottomRow = [table] { return table->rowAt(table->viewport()->height() - 2); };
        QScrollBar* bar = table->verticalScrollBar();
        addIdlePolls(h, 1, 100);
        QTRY_COMPARE(bottomRow(), 99);
        bar->setValue(10);
        const int most = bar->maximum();
        addIdlePolls(h, 101, 120);
        QTRY_VERIFY(bar->maximum() > most);
        QCOMPARE(bar->value(), 10);
        bar->setValue(bar->maximum());
        addIdlePolls(h, 121, 140);
        QTRY_COMPARE(bottomRow(), 139);
    }

    void copyPutsTheSelectedRowsOnTheClipboard_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Copy") << false;
        QTest::newRow("Ctrl+C in the table") << true;
    }
    void copyPutsTheSelectedRowsOnTheClipboard()
    {
        QFETCH(bool, byKey);
        PollHistory h;
        HistoryView view(h, nullptr);
        view.show();
        h.add(poll(1), {});
        h.add(poll(2, Idle, 1), {});
        h.add(poll(3, Escrowed), {});
        const QItemSelectionModel::SelectionFlags rows =
            QItemSelectionModel::Select | QItemSelectionModel::Rows;
        QTableView* table = view.table();
        table->selectionModel()->select(table->model()->index(2, 0), rows);
        table->selectionModel()->select(table->model()->index(1, 0), rows);
        QGuiApplication::clipboard()->clear();
        if (byKey)
            QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        else
            view.findChild<QPushButton*>("historyCopy")->click();

        const QStringList lines = QGuiApplication::clipboard()->text().split(u'\n');
        QCOMPARE(lines.size(), 4); // the header, two rows and the end of the last
        QCOMPARE(lines[0], QStringLiteral("Time\tOutcome\tHost\tReply\tFlags\tChanged"));
        QCOMPARE(lines[1].section(u'\t', 1),
                 "no reply\t02 08 02 00 10 00 03 00\t\tIdling Cassette\t");
        QCOMPARE(lines[2].section(u'\t', 1), "good\t02 08 03 00 10 00 03 00\t" +
                                                 replyHex(0, Escrowed) +
                                                 "\tEscrowed Cassette\t+Escrowed -Idling");
        QCOMPARE(lines[3], QString());
    }

    void downAndUpMoveTheSelection()
    {
        PollHistory h;
        HistoryView view(h, nullptr);
        view.show();
        addIdlePolls(h, 1, 4);
        QTableView* table = view.table();
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 0));
        const auto selected = [table] {
            QList<int> rows;
            for (const QModelIndex& i : table->selectionModel()->selectedRows())
                rows << i.row();
            return rows;
        };
        QCOMPARE(selected(), QList<int>({0}));
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Down);
        QCOMPARE(selected(), QList<int>({2}));
        QTest::keyClick(table, Qt::Key_Up);
        QCOMPARE(selected(), QList<int>({1}));
    }

    // It fits a 1280 x 800 screen, buttons and all: every column whole but
    // the changes, which take what is left (their tooltip has the rest).
    void theWindowOpensWithinASmallScreenWithEveryColumnButTheChangesWhole()
    {
        PollHistory h;
        h.add(poll(1, Stacking), {});
        h.add(poll(2, Stacked), countedBill(3, 12, 40));
        h.add(poll(3, Accepting, 2), {});
        HistoryView view(h, nullptr);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY2(view.frameGeometry().width() <= 1280 && view.frameGeometry().height() <= 800,
                 qPrintable(QStringLiteral("%1 x %2")
                                .arg(view.frameGeometry().width())
                                .arg(view.frameGeometry().height())));
        for (const char* name : {"historyFilter", "historyPause", "historyCopy"}) {
            const auto* control = view.findChild<QWidget*>(name);
            QVERIFY2(view.rect().contains(QRect(control->mapTo(&view, QPoint()), control->size())),
                     name);
        }
        const QTableView* table = view.table();
        const QHeaderView* header = table->horizontalHeader();
        // An item's text has the style's focus margin on either side.
        const int margins =
            2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
        for (int r = 0; r < h.rowCount(); ++r)
            for (int c = 0; c < PollHistory::Changed; ++c) {
                const QModelIndex cell = h.index(r, c);
                const QVariant font = cell.data(Qt::FontRole);
                const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : table->font());
                QVERIFY2(metrics.horizontalAdvance(cell.data().toString()) + margins <=
                             header->sectionSize(c),
                         qPrintable(cell.data().toString()));
            }
        const int changedEnds = header->sectionViewportPosition(PollHistory::Changed) +
                                header->sectionSize(PollHistory::Changed);
        QCOMPARE(changedEnds, table->viewport()->width());
        QVERIFY(header->sectionSize(PollHistory::Changed) >= 200);
    }

    void theControlsAreNamedAndReachedFromTheKeyboard()
    {
        PollHistory h;
        HistoryView view(h, nullptr);
        QCOMPARE(view.windowTitle(), QStringLiteral("History - Kora232"));
        QVERIFY(view.isWindow());
        QCOMPARE(view.table()->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(view.table()->objectName(), QStringLiteral("historyTable"));
        auto* filter = view.findChild<QComboBox*>("historyFilter");
        for (const QLabel* label : view.findChildren<QLabel*>())
            if (label->text() == QStringLiteral("&Show:"))
                QCOMPARE(label->buddy(), filter);
        for (QWidget* control :
             QList<QWidget*>{view.table(), filter, view.findChild<QPushButton*>("historyPause"),
                             view.findChild<QPushButton*>("historyCopy")})
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }
};

QTEST_MAIN(HistoryTest)
#include "tst_history.moc"
