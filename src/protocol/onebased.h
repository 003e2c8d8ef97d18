#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace kora {

// A fixed array whose indexes run from First to Last, as the frames and
// enable lists are numbered on the wire and on screen. Every access is
// checked: an index outside the range throws instead of touching memory.
template <typename T, int First, int Last>
class OneBased
{
    static_assert(Last >= First);

public:
    static constexpr int first = First;
    static constexpr int last = Last;
    static constexpr std::size_t size = static_cast<std::size_t>(Last - First + 1);

    T& operator()(int i) { return values[slot(i)]; }
    const T& operator()(int i) const { return values[slot(i)]; }

    void fill(const T& v) { values.fill(v); }
    std::array<T, size>& raw() { return values; }
    const std::array<T, size>& raw() const { return values; }

    friend bool operator==(const OneBased&, const OneBased&) = default;

private:
    static std::size_t slot(int i)
    {
        if (i < First || i > Last)
            throw std::out_of_range("index " + std::to_string(i) + " outside " +
                                    std::to_string(First) + ".." + std::to_string(Last));
        return static_cast<std::size_t>(i - First);
    }

    std::array<T, size> values{};
};

} // namespace kora
