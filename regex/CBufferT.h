#pragma once
// The engine's growable array and its read-only view. Stacks of the matcher are emptied, never freed, between
// positions, so a search allocates only when a stack grows.
#include <cstdlib>
#include <cstring>
#include <new>

namespace zz {

template <class T> class CBufferRefT {
public:
    CBufferRefT(const T* p = nullptr, int n = 0) : m_pRef(p), m_nSize(n) {}
    // The element at index, or def for an index outside the array.
    T At(int index, T def) const { return (index >= 0 && index < m_nSize) ? m_pRef[index] : def; }
    const T* GetBuffer() const { return m_pRef; }
    int GetSize() const { return m_nSize; }

protected:
    const T* m_pRef;
    int m_nSize;
};

// Only for trivially copyable element types (the engine keeps integers).
template <class T> class CBufferT {
public:
    CBufferT() = default;
    CBufferT(const CBufferT& o) { *this = o; }
    CBufferT& operator=(const CBufferT& o) {
        if (this != &o) {
            m_nSize = 0;
            Reserve(o.m_nSize);
            if (o.m_nSize) std::memcpy(m_pBuffer, o.m_pBuffer, sizeof(T) * o.m_nSize);
            m_nSize = o.m_nSize;
        }
        return *this;
    }
    ~CBufferT() { std::free(m_pBuffer); }

    void Push(T v) {
        if (m_nSize == m_nMaxLength) Grow(m_nSize + 1);
        m_pBuffer[m_nSize++] = v;
    }
    T Pop() { return m_pBuffer[--m_nSize]; }
    T Peek() const { return m_pBuffer[m_nSize - 1]; }
    T& operator[](int i) { return m_pBuffer[i]; }
    const T& operator[](int i) const { return m_pBuffer[i]; }
    T At(int index, T def) const { return (index >= 0 && index < m_nSize) ? m_pBuffer[index] : def; }
    int GetSize() const { return m_nSize; }
    const T* GetBuffer() const { return m_pBuffer; }
    // Cut back to size (never grows).
    void Restore(int size) {
        if (size < m_nSize) m_nSize = size < 0 ? 0 : size;
    }
    void Clear() { m_nSize = 0; }
    // Size to n elements, each set to fill.
    void Fill(int n, T fill) {
        Reserve(n);
        for (int i = 0; i < n; ++i)
            m_pBuffer[i] = fill;
        m_nSize = n;
    }
    void Reserve(int n) {
        if (n > m_nMaxLength) Grow(n);
    }
    CBufferRefT<T> Ref() const { return CBufferRefT<T>(m_pBuffer, m_nSize); }

private:
    void Grow(int need) {
        int cap = m_nMaxLength < 8 ? 8 : m_nMaxLength;
        while (cap < need)
            cap *= 2;
        T* p = static_cast<T*>(std::realloc(m_pBuffer, sizeof(T) * cap));
        if (!p) throw std::bad_alloc();
        m_pBuffer = p;
        m_nMaxLength = cap;
    }

    T* m_pBuffer = nullptr;
    int m_nSize = 0;
    int m_nMaxLength = 0;
};

} // namespace zz
