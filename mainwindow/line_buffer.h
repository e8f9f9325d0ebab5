#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "line_kind.h"

namespace kestrel {

// An array of plain values that grows by realloc. The C library moves a large
// block by remapping its pages rather than copying it, so an array of a
// gigabyte grows without a second gigabyte at any moment, and the part not
// yet written takes no memory.
template <typename T>
class GrowingArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    GrowingArray() = default;
    ~GrowingArray() { std::free(m_data); }
    GrowingArray(GrowingArray&& other) noexcept { Swap(other); }
    GrowingArray& operator=(GrowingArray&& other) noexcept {
        GrowingArray taken(std::move(other));
        Swap(taken);
        return *this;
    }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;

    std::size_t Size() const { return m_size; }
    const T* Data() const { return m_data; }
    T operator[](std::size_t index) const { return m_data[index]; }

    // False, and nothing changed, when the memory cannot be had.
    bool Append(const T* values, std::size_t count) {
        if (count > m_capacity - m_size && !Grow(count))
            return false;
        if (count > 0)
            std::memcpy(m_data + m_size, values, count * sizeof(T));
        m_size += count;
        return true;
    }
    bool Append(T value) { return Append(&value, 1); }
    void Truncate(std::size_t size) { m_size = std::min(size, m_size); }
    void Release() { GrowingArray().Swap(*this); }

private:
    // At least `count` more, and at least double, so appending stays linear.
    bool Grow(std::size_t count) {
        constexpr std::size_t kMaxCount = SIZE_MAX / 2 / sizeof(T);
        if (count > kMaxCount - m_size)
            return false;
        const std::size_t capacity = std::max({m_size + count, 2 * m_capacity, kFirstCapacity});
        void* grown = std::realloc(m_data, capacity * sizeof(T));
        if (grown == nullptr)
            return false;
        m_data = static_cast<T*>(grown);
        m_capacity = capacity;
        return true;
    }
    void Swap(GrowingArray& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    static constexpr std::size_t kFirstCapacity = 4096 / sizeof(T);
    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Lines of UTF-8 text with their kinds: the text of every line in one block,
// and for each line one 64-bit entry that holds where its text starts (all
// but the lowest two bits) and its kind (those two). A line costs its text
// and 8 bytes.
class LineBuffer {
public:
    std::size_t Count() const { return m_entries.Size(); }
    std::size_t TextSize() const { return m_text.Size(); }
    // False, and nothing changed, when the memory cannot be had.
    bool Append(std::string_view line, LineKind kind);
    // Every line of `lines` after the last one here.
    bool Append(const LineBuffer& lines);
    std::string_view Line(std::size_t index) const;
    LineKind Kind(std::size_t index) const;
    bool Empty() const { return Count() == 0; }
    void Clear();

private:
    static constexpr int kKindBits = 2;
    static constexpr std::uint64_t kKindMask = (1u << kKindBits) - 1;
    std::size_t Start(std::size_t index) const {
        return static_cast<std::size_t>(m_entries[index] >> kKindBits);
    }

    GrowingArray<char> m_text;
    GrowingArray<std::uint64_t> m_entries;
};

} // namespace kestrel
