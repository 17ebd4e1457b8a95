#pragma once
// Thin list templates of the engine: they keep their own element count, and indexing beyond the end grows the
// list up to that index (default values for qvector, null pointers for pvector).
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace zz {

template <class T> class qvector {
public:
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // A negative index is a caller's bug: it addresses a scratch element instead of corrupting memory.
    T& operator[](int32_t i) {
        if (i < 0) {
            thread_local T scratch{};
            scratch = T();
            return scratch;
        }
        if (static_cast<size_t>(i) >= items_.size()) items_.resize(static_cast<size_t>(i) + 1);
        return items_[static_cast<size_t>(i)];
    }
    const T* At(int32_t i) const {
        return i >= 0 && static_cast<size_t>(i) < items_.size() ? &items_[static_cast<size_t>(i)] : nullptr;
    }
    void Add(T v) { items_.push_back(std::move(v)); }
    void Clear() { items_.clear(); }
    void Reserve(int32_t n) { items_.reserve(n > 0 ? static_cast<size_t>(n) : 0); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<T> items_;
};

// Owns what it points at: replacing or clearing a slot deletes the old element.
template <class T> class pvector {
public:
    pvector() = default;
    pvector(const pvector&) = delete;
    pvector& operator=(const pvector&) = delete;
    pvector(pvector&&) noexcept = default;
    pvector& operator=(pvector&&) noexcept = default;

    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    std::unique_ptr<T>& operator[](int32_t i) {
        if (i < 0) {
            thread_local std::unique_ptr<T> scratch;
            scratch.reset();
            return scratch;
        }
        if (static_cast<size_t>(i) >= items_.size()) items_.resize(static_cast<size_t>(i) + 1);
        return items_[static_cast<size_t>(i)];
    }
    T* Get(int32_t i) const {
        return i >= 0 && static_cast<size_t>(i) < items_.size() ? items_[static_cast<size_t>(i)].get() : nullptr;
    }
    T* Add(std::unique_ptr<T> p) {
        items_.push_back(std::move(p));
        return items_.back().get();
    }
    // Takes the element out of the list (the slots behind it move up); null when the index is out of range.
    std::unique_ptr<T> Remove(int32_t i) {
        if (i < 0 || static_cast<size_t>(i) >= items_.size()) return nullptr;
        std::unique_ptr<T> p = std::move(items_[static_cast<size_t>(i)]);
        items_.erase(items_.begin() + i);
        return p;
    }
    void Clear() { items_.clear(); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace zz
