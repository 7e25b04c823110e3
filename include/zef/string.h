// zef::basic_string_t: the framework's string, narrow (char) and wide (UTF-16 char16_t).
//
// Layout: data, size, capacity, allocator, 16-byte inline buffer (15 narrow or 7 wide
// characters and the terminator). The text is always zero-terminated. Storage outside the
// inline buffer comes from AllocateWith / FreeWith: the attached host allocator, or the
// process heap when none is attached. Growth takes the larger of the needed size and twice the
// capacity. Errors: std::length_error / std::out_of_range with the texts below, std::bad_alloc.
//
// Threading: a string is used by one thread at a time; copies are independent.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "zef/memory.h"

namespace zef {

template <class Ch>
class basic_string_t {
public:
    using value_type = Ch;
    using size_type = std::size_t;
    using view_type = std::basic_string_view<Ch>;
    using iterator = Ch*;
    using const_iterator = const Ch*;

    static constexpr size_type npos = static_cast<size_type>(-1);
    static constexpr size_type kInlineCapacity = 16 / sizeof(Ch) - 1;
    // Any bound at which neither doubling the capacity nor the byte size of capacity + 1
    // characters can overflow.
    static constexpr size_type max_size() noexcept { return (SIZE_MAX / sizeof(Ch)) / 2 - 1; }

    basic_string_t() noexcept { m_inline[0] = Ch(); }
    explicit basic_string_t(IAllocator* allocator) noexcept : m_allocator(allocator) {
        m_inline[0] = Ch();
    }
    basic_string_t(const Ch* text, IAllocator* allocator = nullptr) : m_allocator(allocator) {
        m_inline[0] = Ch();
        if (text != nullptr) construct_from(text, std::char_traits<Ch>::length(text));
    }
    basic_string_t(const Ch* text, size_type count, IAllocator* allocator = nullptr)
        : m_allocator(allocator) {
        m_inline[0] = Ch();
        construct_from(text, count);
    }
    basic_string_t(view_type text, IAllocator* allocator = nullptr) : m_allocator(allocator) {
        m_inline[0] = Ch();
        construct_from(text.data(), text.size());
    }
    basic_string_t(size_type count, Ch ch, IAllocator* allocator = nullptr)
        : m_allocator(allocator) {
        m_inline[0] = Ch();
        if (count > max_size()) throw std::length_error("zef::basic_string_t constructor");
        reserve_exact(count);
        std::fill_n(m_data, count, ch);
        set_size(count);
    }
    basic_string_t(const basic_string_t& other) : m_allocator(other.m_allocator) {
        m_inline[0] = Ch();
        construct_from(other.m_data, other.m_size);
    }
    basic_string_t(basic_string_t&& other) noexcept : m_allocator(std::move(other.m_allocator)) {
        take(other);
    }
    ~basic_string_t() { release_storage(); }

    basic_string_t& operator=(const basic_string_t& other) {
        if (this != &other) {
            basic_string_t copy(other);
            swap(copy);
        }
        return *this;
    }
    basic_string_t& operator=(basic_string_t&& other) noexcept {
        if (this != &other) {
            release_storage();
            m_allocator = std::move(other.m_allocator);
            take(other);
        }
        return *this;
    }
    basic_string_t& operator=(view_type text) { return assign(text.data(), text.size()); }
    basic_string_t& operator=(const Ch* text) {
        return assign(text, text != nullptr ? std::char_traits<Ch>::length(text) : 0);
    }

    void swap(basic_string_t& other) noexcept {
        basic_string_t tmp(std::move(other));
        other = std::move(*this);
        *this = std::move(tmp);
    }

    const Ch* data() const noexcept { return m_data; }
    Ch* data() noexcept { return m_data; }
    const Ch* c_str() const noexcept { return m_data; }
    size_type size() const noexcept { return m_size; }
    size_type length() const noexcept { return m_size; }
    size_type capacity() const noexcept { return m_capacity; }
    bool empty() const noexcept { return m_size == 0; }
    bool is_inline() const noexcept { return m_data == m_inline; }
    IAllocator* allocator() const noexcept { return m_allocator.get(); }
    view_type view() const noexcept { return view_type(m_data, m_size); }
    operator view_type() const noexcept { return view(); }

    Ch& operator[](size_type i) noexcept { return m_data[i]; }
    const Ch& operator[](size_type i) const noexcept { return m_data[i]; }
    iterator begin() noexcept { return m_data; }
    iterator end() noexcept { return m_data + m_size; }
    const_iterator begin() const noexcept { return m_data; }
    const_iterator end() const noexcept { return m_data + m_size; }

    void clear() noexcept { set_size(0); }

    // Makes room for at least count characters in all.
    void reserve(size_type count) {
        if (count > m_capacity) reserve_extra(count - m_size);
    }

    basic_string_t& append(const Ch* text, size_type count) {
        if (count == 0) return *this;
        // The source may lie inside this string: remember its offset across growth.
        const bool inside = points_inside(text);
        const size_type offset = inside ? static_cast<size_type>(text - m_data) : 0;
        reserve_extra(count);
        if (inside) text = m_data + offset;
        std::memmove(m_data + m_size, text, count * sizeof(Ch));
        set_size(m_size + count);
        return *this;
    }
    basic_string_t& append(const Ch* text) {
        return text ? append(text, std::char_traits<Ch>::length(text)) : *this;
    }
    basic_string_t& append(view_type text) { return append(text.data(), text.size()); }
    basic_string_t& append(const basic_string_t& text) { return append(text.m_data, text.m_size); }
    basic_string_t& append(size_type count, Ch ch) {
        reserve_extra(count);
        std::fill_n(m_data + m_size, count, ch);
        set_size(m_size + count);
        return *this;
    }
    void push_back(Ch ch) { append(size_type{1}, ch); }
    basic_string_t& operator+=(Ch ch) {
        push_back(ch);
        return *this;
    }
    basic_string_t& operator+=(view_type text) { return append(text); }
    basic_string_t& operator+=(const Ch* text) { return append(text); }
    basic_string_t& operator+=(const basic_string_t& text) { return append(text); }

    void resize(size_type count, Ch ch = Ch()) {
        // Checked before the shrinking branch so that no path indexes past the largest size.
        if (count > max_size()) throw std::length_error("zef::basic_string_t::resize_extra_at");
        if (count <= m_size) {
            set_size(count);
            return;
        }
        const size_type old = m_size;
        resize_extra_at(old, count - old);
        std::fill_n(m_data + old, count - old, ch);
    }

    basic_string_t& insert(size_type pos, const Ch* text, size_type count) {
        if (pos > m_size) throw std::out_of_range("zef::basic_string_t::insert");
        if (count > max_size() - m_size) throw std::length_error("zef::basic_string_t::insert");
        if (count == 0) return *this;
        // The source may lie inside this string; it is found again after growth and after the
        // tail has moved up, so no temporary copy (and no allocation outside this string's
        // allocator) is needed.
        const bool inside = points_inside(text);
        const size_type offset = inside ? static_cast<size_type>(text - m_data) : 0;
        reserve_extra(count);
        Ch* const at = m_data + pos;
        std::memmove(at + count, at, (m_size - pos) * sizeof(Ch));
        if (!inside) {
            std::memcpy(at, text, count * sizeof(Ch));
        } else if (offset + count <= pos) {  // wholly before the gap: not moved
            std::memmove(at, m_data + offset, count * sizeof(Ch));
        } else if (offset >= pos) {  // wholly after the gap: moved up by count
            std::memmove(at, m_data + offset + count, count * sizeof(Ch));
        } else {  // straddles the gap: the head stayed, the tail moved up
            const size_type head = pos - offset;
            std::memmove(at, m_data + offset, head * sizeof(Ch));
            std::memmove(at + head, at + count, (count - head) * sizeof(Ch));
        }
        set_size(m_size + count);
        return *this;
    }
    basic_string_t& insert(size_type pos, view_type text) {
        return insert(pos, text.data(), text.size());
    }
    basic_string_t& insert(size_type pos, size_type count, Ch ch) {
        if (pos > m_size) throw std::out_of_range("zef::basic_string_t::insert");
        if (count > max_size() - m_size) throw std::length_error("zef::basic_string_t::insert");
        reserve_extra(count);
        std::memmove(m_data + pos + count, m_data + pos, (m_size - pos) * sizeof(Ch));
        std::fill_n(m_data + pos, count, ch);
        set_size(m_size + count);
        return *this;
    }

    basic_string_t& assign(const Ch* text, size_type count) {
        basic_string_t copy(text, count, m_allocator.get());
        swap(copy);
        return *this;
    }
    basic_string_t& assign(const basic_string_t& source, size_type pos, size_type count = npos) {
        if (pos > source.m_size) throw std::out_of_range("zef::basic_string_t::assign");
        return assign(source.m_data + pos, std::min(count, source.m_size - pos));
    }

    basic_string_t& replace(size_type pos, size_type count, const Ch* text, size_type textCount) {
        if (pos > m_size) throw std::out_of_range("zef::basic_string_t::replace");
        count = std::min(count, m_size - pos);
        basic_string_t result(m_allocator.get());
        result.reserve(m_size - count + textCount);
        result.append(m_data, pos)
            .append(text, textCount)
            .append(m_data + pos + count, m_size - pos - count);
        swap(result);
        return *this;
    }

    basic_string_t& erase(size_type pos = 0, size_type count = npos) {
        if (pos > m_size) throw std::out_of_range("zef::basic_string_t::erase_impl");
        count = std::min(count, m_size - pos);
        std::memmove(m_data + pos, m_data + pos + count, (m_size - pos - count) * sizeof(Ch));
        set_size(m_size - count);
        return *this;
    }

    // Makes room for count characters at pos (pos <= size), moving the tail up; the new
    // characters are left unset. Used by conversions that write in place.
    void resize_extra_at(size_type pos, size_type count) {
        if (pos > m_size) throw std::out_of_range("zef::basic_string_t::resize_extra_at");
        if (count > max_size() - m_size)
            throw std::length_error("zef::basic_string_t::resize_extra_at");
        reserve_extra(count);
        std::memmove(m_data + pos + count, m_data + pos, (m_size - pos) * sizeof(Ch));
        set_size(m_size + count);
    }

    friend bool operator==(const basic_string_t& a, const basic_string_t& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const basic_string_t& a, view_type b) noexcept { return a.view() == b; }
    friend bool operator==(const basic_string_t& a, const Ch* b) noexcept {
        return a.view() == view_type(b);
    }

private:
    // Whether p points at one of this string's characters. std::less gives a total order even
    // for pointers into unrelated blocks.
    bool points_inside(const Ch* p) const noexcept {
        const std::less<const Ch*> before;
        return !before(p, m_data) && before(p, m_data + m_size);
    }

    void construct_from(const Ch* text, size_type count) {
        if (count > max_size()) throw std::length_error("zef::basic_string_t constructor");
        reserve_exact(count);
        if (count != 0) std::memcpy(m_data, text, count * sizeof(Ch));
        set_size(count);
    }

    // Growth for count more characters: the larger of size + count and twice the capacity.
    void reserve_extra(size_type count) {
        if (m_capacity - m_size >= count) return;
        if (count > max_size() - m_size)
            throw std::length_error("zef::basic_string_t::reserve_extra()");
        reserve_exact(std::max(m_size + count, std::min(2 * m_capacity, max_size())));
    }

    void reserve_exact(size_type capacity) {
        if (capacity <= m_capacity) return;
        Ch* block = static_cast<Ch*>(AllocateWith(m_allocator.get(), (capacity + 1) * sizeof(Ch)));
        std::memcpy(block, m_data, (m_size + 1) * sizeof(Ch));
        if (!is_inline()) FreeWith(m_allocator.get(), m_data);
        m_data = block;
        m_capacity = capacity;
    }

    void set_size(size_type size) noexcept {
        m_size = size;
        m_data[size] = Ch();
    }

    void release_storage() noexcept {
        if (!is_inline()) FreeWith(m_allocator.get(), m_data);
        m_data = m_inline;
        m_size = 0;
        m_capacity = kInlineCapacity;
        m_inline[0] = Ch();
    }

    // Takes other's characters (m_allocator already moved); leaves other empty and inline.
    void take(basic_string_t& other) noexcept {
        if (other.is_inline()) {
            std::memcpy(m_inline, other.m_inline, sizeof(m_inline));
            m_data = m_inline;
        } else {
            m_data = other.m_data;
        }
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        other.m_data = other.m_inline;
        other.m_size = 0;
        other.m_capacity = kInlineCapacity;
        other.m_inline[0] = Ch();
    }

    Ch* m_data = m_inline;
    size_type m_size = 0;
    size_type m_capacity = kInlineCapacity;
    AllocatorRef m_allocator;
    Ch m_inline[kInlineCapacity + 1];
};

using string_t = basic_string_t<char>;
using wstring_t = basic_string_t<char16_t>;

}  // namespace zef
