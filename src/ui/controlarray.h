#pragma once

#include <QString>
#include <map>
#include <stdexcept>
#include <vector>

namespace kora {

// A row of like controls addressed by integer index, as the window's arrays
// are: the indexes need not start at 0 nor be contiguous, and asking for an
// index that is not a member throws instead of handing back a null pointer.
template <typename Control> class ControlArray
{
public:
    explicit ControlArray(const char* name) : arrayName(name) {}

    void add(int index, Control* control) { members[index] = control; }

    Control* operator()(int index) const
    {
        const auto found = members.find(index);
        if (found == members.end())
            throw std::out_of_range(arrayName + "(" + std::to_string(index) +
                                    ") is not a member of the control array");
        return found->second;
    }

    std::vector<int> indexes() const
    {
        std::vector<int> all;
        for (const auto& [index, control] : members)
            all.push_back(index);
        return all;
    }

    // "lbIN(3)": how a member is named among the window's children.
    QString memberName(int index) const
    {
        return QString::fromStdString(arrayName) + QStringLiteral("(%1)").arg(index);
    }

private:
    std::string arrayName;
    std::map<int, Control*> members;
};

} // namespace kora
