// zef::vector: the framework vector. Fields begin, end, end of capacity, allocator; memory from
// AllocateWith / FreeWith (the attached host allocator, or the process heap). Growth takes the
// larger of twice the count and count + 1. Appending to a full vector raises
// std::length_error("vector::append").
//
// Threading: a vector is used by one thread at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "zef/memory.h"

namespace zef {

template <class T>
class vector {
public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;

    static constexpr size_type max_size() noexcept { return (SIZE_MAX / sizeof(T)) / 2; }

    vector() noexcept = default;
    explicit vector(IAllocator* allocator) noexcept : m_allocator(allocator) {}
    // The copying constructors delegate to a complete empty vector first, so that an element
    // copy that throws midway destroys the elements already copied and returns the storage.
    vector(std::initializer_list<T> items, IAllocator* allocator = nullptr) : vector(allocator) {
        reserve(items.size());
        for (const T& item : items) push_back(item);
    }
    vector(const vector& other) : vector(other.allocator()) {
        reserve(other.size());
        for (const T& item : other) push_back(item);
    }
    vector(vector&& other) noexcept
        : m_begin(std::exchange(other.m_begin, nullptr)),
          m_end(std::exchange(other.m_end, nullptr)),
          m_capacityEnd(std::exchange(other.m_capacityEnd, nullptr)),
          m_allocator(std::move(other.m_allocator)) {}
    vector& operator=(const vector& other) {
        if (this != &other) {
            vector copy(other);
            swap(copy);
        }
        return *this;
    }
    vector& operator=(vector&& other) noexcept {
        if (this != &other) {
            vector moved(std::move(other));
            swap(moved);
        }
        return *this;
    }
    ~vector() { release_storage(); }

    void swap(vector& other) noexcept {
        std::swap(m_begin, other.m_begin);
        std::swap(m_end, other.m_end);
        std::swap(m_capacityEnd, other.m_capacityEnd);
        std::swap(m_allocator, other.m_allocator);
    }

    size_type size() const noexcept { return static_cast<size_type>(m_end - m_begin); }
    size_type capacity() const noexcept { return static_cast<size_type>(m_capacityEnd - m_begin); }
    bool empty() const noexcept { return m_begin == m_end; }
    IAllocator* allocator() const noexcept { return m_allocator.get(); }
    T* data() noexcept { return m_begin; }
    const T* data() const noexcept { return m_begin; }
    iterator begin() noexcept { return m_begin; }
    iterator end() noexcept { return m_end; }
    const_iterator begin() const noexcept { return m_begin; }
    const_iterator end() const noexcept { return m_end; }
    T& operator[](size_type i) noexcept { return m_begin[i]; }
    const T& operator[](size_type i) const noexcept { return m_begin[i]; }
    T& front() noexcept { return *m_begin; }
    const T& front() const noexcept { return *m_begin; }
    T& back() noexcept { return m_end[-1]; }
    const T& back() const noexcept { return m_end[-1]; }

    void reserve(size_type count) {
        if (count > max_size()) throw std::length_error("vector::append");
        if (count > capacity()) reallocate(count);
    }

    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (m_end != m_capacityEnd) {
            ::new (static_cast<void*>(m_end)) T(std::forward<Args>(args)...);
            return *m_end++;
        }
        const size_type count = size();
        if (count >= max_size()) throw std::length_error("vector::append");
        const size_type capacity = std::max(count + 1, std::min(2 * count, max_size()));
        // The new element is built in the new block before the old elements move, so
        // arguments that refer to an element of this vector stay valid.
        Block block(m_allocator.get(), capacity);
        ::new (static_cast<void*>(block.items + count)) T(std::forward<Args>(args)...);
        try {
            block.built = relocate_into(block.items);
        } catch (...) {
            block.items[count].~T();
            throw;
        }
        adopt(block, count + 1);
        return m_end[-1];
    }
    void push_back(const T& item) { emplace_back(item); }
    void push_back(T&& item) { emplace_back(std::move(item)); }

    // Grows with value-initialised elements or shrinks.
    void resize(size_type count) {
        if (count <= size()) {
            destroy_from(m_begin + count);
            return;
        }
        reserve(count);
        if constexpr (std::is_trivially_default_constructible_v<T>) {
            // Byte buffers (whole log files) are sized in one pass, not element by element.
            std::uninitialized_value_construct(m_end, m_begin + count);
            m_end = m_begin + count;
        } else {
            while (size() < count) emplace_back();
        }
    }
    void pop_back() noexcept { (--m_end)->~T(); }
    void clear() noexcept { destroy_from(m_begin); }

    // Removes [first, last), moving the elements after it down; returns the position of the
    // first element after the removed ones.
    iterator erase(const_iterator first, const_iterator last) {
        T* const to = m_begin + (first - m_begin);
        T* const from = m_begin + (last - m_begin);
        if (to == from) return to;
        T* const newEnd = std::move(from, m_end, to);
        while (m_end != newEnd) pop_back();
        return to;
    }
    iterator erase(const_iterator position) { return erase(position, position + 1); }

private:
    void destroy_from(T* first) noexcept {
        if constexpr (std::is_trivially_destructible_v<T>) {
            m_end = first;
        } else {
            while (m_end != first) pop_back();
        }
    }

    // A raw block from the vector's allocator; returned on unwinding unless adopted.
    struct Block {
        Block(IAllocator* allocator, size_type capacity)
            : allocator(allocator),
              items(static_cast<T*>(AllocateWith(allocator, capacity * sizeof(T)))),
              capacity(capacity) {}
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;
        ~Block() {
            if (items == nullptr) return;
            for (size_type i = 0; i < built; ++i) items[i].~T();
            FreeWith(allocator, items);
        }
        IAllocator* allocator;
        T* items;
        size_type capacity;
        size_type built = 0;  // elements at the front that unwinding destroys
    };

    // Moves (or, when moving may throw, copies) every element into out; on a throw, what was
    // built in out is destroyed and this vector is left unchanged. Returns the count.
    size_type relocate_into(T* out) {
        size_type built = 0;
        try {
            for (T* p = m_begin; p != m_end; ++p, ++built) {
                ::new (static_cast<void*>(out + built)) T(std::move_if_noexcept(*p));
            }
        } catch (...) {
            while (built != 0) out[--built].~T();
            throw;
        }
        return built;
    }

    // Replaces the storage by block, which holds count elements.
    void adopt(Block& block, size_type count) noexcept {
        release_storage();
        m_begin = block.items;
        m_end = block.items + count;
        m_capacityEnd = block.items + block.capacity;
        block.items = nullptr;
    }

    void reallocate(size_type capacity) {
        Block block(m_allocator.get(), capacity);
        const size_type count = relocate_into(block.items);
        adopt(block, count);
    }

    void release_storage() noexcept {
        clear();
        FreeWith(m_allocator.get(), m_begin);
        m_begin = m_end = m_capacityEnd = nullptr;
    }

    T* m_begin = nullptr;
    T* m_end = nullptr;
    T* m_capacityEnd = nullptr;
    AllocatorRef m_allocator;
};

}  // namespace zef
