// zef::vector: the framework vector. Fields begin, end, end of capacity, allocator; memory from
// AllocateWith / FreeWith (the attached host allocator, or the process heap). Growth takes the
// larger of twice the count and count + 1. Appending to a full vector raises
// std::length_error("vector::append").
//
// Threading: a vector is used by one thread at a time.
#pragma once

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
    vector(std::initializer_list<T> items, IAllocator* allocator = nullptr)
        : m_allocator(allocator) {
        reserve(items.size());
        for (const T& item : items) push_back(item);
    }
    vector(const vector& other) : m_allocator(other.m_allocator) {
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
    T& back() noexcept { return m_end[-1]; }
    const T& back() const noexcept { return m_end[-1]; }

    void reserve(size_type count) {
        if (count > max_size()) throw std::length_error("vector::append");
        if (count > capacity()) reallocate(count);
    }

    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (m_end == m_capacityEnd) {
            const size_type count = size();
            if (count >= max_size()) throw std::length_error("vector::append");
            reallocate(std::max(count + 1, std::min(2 * count, max_size())));
        }
        ::new (static_cast<void*>(m_end)) T(std::forward<Args>(args)...);
        return *m_end++;
    }
    void push_back(const T& item) {
        if (m_end == m_capacityEnd && &item >= m_begin && &item < m_end) {
            T copy(item);  // the source lives in the storage about to move
            emplace_back(std::move(copy));
        } else {
            emplace_back(item);
        }
    }
    void push_back(T&& item) { emplace_back(std::move(item)); }

    // Grows with value-initialised elements or shrinks.
    void resize(size_type count) {
        while (size() > count) pop_back();
        reserve(count);
        while (size() < count) emplace_back();
    }
    void pop_back() noexcept { (--m_end)->~T(); }
    void clear() noexcept {
        while (m_end != m_begin) pop_back();
    }

private:
    void reallocate(size_type capacity) {
        T* block = static_cast<T*>(AllocateWith(m_allocator.get(), capacity * sizeof(T)));
        T* out = block;
        for (T* p = m_begin; p != m_end; ++p, ++out) {
            ::new (static_cast<void*>(out)) T(std::move_if_noexcept(*p));
        }
        const size_type count = size();
        clear();
        FreeWith(m_allocator.get(), m_begin);
        m_begin = block;
        m_end = block + count;
        m_capacityEnd = block + capacity;
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
