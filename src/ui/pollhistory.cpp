#include "ui/pollhistory.h"

#include "protocol/statusflags.h"
#include "record/pollreport.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QStringList>
#include <span>

namespace kora {

namespace {

std::uint16_t flagBits(const RunState& s)
{
    std::uint16_t bits = 0;
    for (std::size_t i = 0; i < StatusFlags.size(); ++i)
        if (s.*StatusFlags[i].member == 1)
            bits |= static_cast<std::uint16_t>(1u << i);
    return bits;
}

// Each flag that is in `bits`, by name, `sign` before it.
QStringList flagNames(std::uint16_t bits, const char* sign = "")
{
    QStringList names;
    for (std::size_t i = 0; i < StatusFlags.size(); ++i)
        if (bits & (1u << i))
            names << QLatin1String(sign) + QLatin1String(StatusFlags[i].name);
    return names;
}

// "+Escrowed -Accepting, bill 3 stacked, counted, ...": the flags that came
// on, those that went off, then the poll's events.
std::string changeText(std::uint16_t before, std::uint16_t now, const std::string& events)
{
    const QStringList flags = flagNames(now & ~before, "+") + flagNames(before & ~now, "-");
    std::string text = flags.join(u' ').toStdString();
    if (!events.empty())
        text += (text.empty() ? "" : ", ") + events;
    return text;
}

QString hexRow(std::span<const Byte> bytes)
{
    std::string hex = HexText(bytes);
    hex.pop_back(); // the blank after the last byte
    return QString::fromLatin1(hex);
}

const char* const OutcomeWords[] = {"good", "no reply", "checksum error"};
const char* const ColumnNames[] = {"Time", "Outcome", "Host", "Reply", "Flags", "Changed"};

} // namespace

PollHistory::PollHistory(QObject* parent, int capacity)
    : QAbstractTableModel(parent), capacity_(capacity),
      hexFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{}

void PollHistory::add(const RunState& s, const PollNotes& notes)
{
    Entry e;
    e.msSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    e.outcome = static_cast<std::uint8_t>(s.NRFlag == 0 || s.NRFlag == 2 ? s.NRFlag : 1);
    e.flags = flagBits(s);
    e.host = s.HostMsg.raw();
    e.reply = s.AcceptorMsg.raw();
    e.changed = changeText(flagsBefore_, e.flags, PollEvents(s, notes));
    flagsBefore_ = e.flags;
    append(std::move(e));
}

// The oldest leaves before the newest comes, each in its own step, so that
// a view always sees rows that are there.
void PollHistory::append(Entry e)
{
    if (count_ == capacity_) {
        beginRemoveRows({}, 0, 0);
        first_ = (first_ + 1) % static_cast<std::size_t>(capacity_);
        --count_;
        endRemoveRows();
    }
    beginInsertRows({}, count_, count_);
    const std::size_t slot =
        (first_ + static_cast<std::size_t>(count_)) % static_cast<std::size_t>(capacity_);
    if (slot == ring_.size())
        ring_.push_back(std::move(e));
    else
        ring_[slot] = std::move(e);
    ++count_;
    endInsertRows();
}

void PollHistory::clear()
{
    beginResetModel();
    ring_.clear();
    ring_.shrink_to_fit();
    first_ = 0;
    count_ = 0;
    flagsBefore_ = 0;
    endResetModel();
}

void PollHistory::copyFrom(const PollHistory& other)
{
    beginResetModel();
    capacity_ = other.capacity_;
    ring_ = other.ring_;
    first_ = other.first_;
    count_ = other.count_;
    flagsBefore_ = other.flagsBefore_;
    endResetModel();
}

const PollHistory::Entry& PollHistory::at(int row) const
{
    return ring_[(first_ + static_cast<std::size_t>(row)) % ring_.size()];
}

int PollHistory::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count_;
}

int PollHistory::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PollHistory::text(const Entry& e, int column) const
{
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(e.msSinceEpoch).toString(u"HH:mm:ss.zzz");
    case Outcome:
        return QLatin1String(OutcomeWords[e.outcome]);
    case Host:
        return hexRow(e.host);
    case Reply:
        return e.outcome == 1 ? QString() : hexRow(e.reply);
    case Flags:
        return flagNames(e.flags).join(u' ');
    default:
        return QString::fromStdString(e.changed);
    }
}

QVariant PollHistory::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Entry& e = at(index.row());
    if (role == Qt::DisplayRole)
        return text(e, index.column());
    // A history can run past midnight: the date is a hover away.
    if (role == Qt::ToolTipRole && index.column() == Time)
        return QDateTime::fromMSecsSinceEpoch(e.msSinceEpoch).toString(Qt::ISODateWithMs);
    // A busy poll's changes can outrun the column.
    if (role == Qt::ToolTipRole && index.column() == Changed && !e.changed.empty())
        return text(e, Changed);
    if (role == Qt::FontRole && (index.column() == Host || index.column() == Reply))
        return hexFont_;
    return {};
}

QVariant PollHistory::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QLatin1String(ColumnNames[section]);
}

} // namespace kora
