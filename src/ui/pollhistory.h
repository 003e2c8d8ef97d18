#pragma once

#include "protocol/pollnotes.h"
#include "protocol/runstate.h"

#include <QAbstractTableModel>
#include <QFont>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kora {

// The polls of this run, newest last, as a table: when, how it went, both
// frames, the flags set and what the poll changed. It keeps the newest
// `capacity` polls in a ring, so a run of any length takes bounded memory;
// each poll beyond that drops the oldest.
class PollHistory : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Outcome, Host, Reply, Flags, Changed, ColumnCount };
    static constexpr int Capacity = 10'000;

    explicit PollHistory(QObject* parent = nullptr, int capacity = Capacity);

    // The poll that just ended: `s` holds its frames and flags, `notes` what
    // else it did (counted bills want their counts filled in).
    void add(const RunState& s, const PollNotes& notes);
    // A new run: no polls, and no flags set before the next one.
    void clear();
    // The same polls as `other`, for a view that must stand still.
    void copyFrom(const PollHistory& other);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Entry
    {
        std::int64_t msSinceEpoch = 0;
        std::uint8_t outcome = 0; // NRFlag
        std::uint16_t flags = 0;  // a bit per status flag, in the flag table's order
        std::array<Byte, 8> host{};
        std::array<Byte, 11> reply{};
        std::string changed;
    };

    const Entry& at(int row) const;
    QString text(const Entry& e, int column) const;
    void append(Entry e);

    int capacity_ = Capacity;
    std::vector<Entry> ring_;
    std::size_t first_ = 0; // the slot of the oldest poll
    int count_ = 0;
    std::uint16_t flagsBefore_ = 0;
    QFont hexFont_; // fixed pitch, so that the bytes of rows stand in columns
};

} // namespace kora
