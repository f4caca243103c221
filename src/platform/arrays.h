// The program's containers: one growable array with an element policy and
// a heap.
//   PtrArray    pointers, never copied or freed by the array
//   StringArray wide strings, each a copy the array owns
//   ByteArray   plain bytes
//   NumberArray 32-bit numbers
// The storage doubles when full (from GROW_ARRAY_FIRST_CELLS) and never
// shrinks before the array is destroyed. Add returns -1 when memory runs
// out, leaving the array as it was.
#ifndef DUSTPAIL_PLATFORM_ARRAYS_H
#define DUSTPAIL_PLATFORM_ARRAYS_H

#include <cstdint>
#include <cstdlib>

#include "platform/memory.h"
#include "platform/sysapi.h"
#include "platform/wide.h"

struct PlainPolicy {
    template <typename T>
    static bool Store(T& cell, T value) {
        cell = value;
        return true;
    }
    template <typename T>
    static void Release(T&) {}
};

struct StringPolicy {
    // A none value is stored as none; a failed copy reports false.
    static bool Store(WCHAR*& cell, const WCHAR* value) {
        cell = WideDuplicate(value);
        return value == nullptr || cell != nullptr;
    }
    static void Release(WCHAR*& cell) {
        MemFree(cell);
        cell = nullptr;
    }
};

// The program's heap, whose allocations a test can make fail.
struct ProgramHeap {
    static void* Realloc(void* block, size_t size) { return MemRealloc(block, size); }
    static void Free(void* block) { MemFree(block); }
};

// The system's own heap, for the POSIX backend's memory, which stands for
// the Windows heap behind kernel32 and is not counted with the program's.
struct SystemHeap {
    static void* Realloc(void* block, size_t size) { return std::realloc(block, size == 0 ? 1 : size); }
    static void Free(void* block) { std::free(block); }
};

const int32_t GROW_ARRAY_FIRST_CELLS = 4;

template <typename T, typename In, typename Policy, typename Heap = ProgramHeap>
struct GrowArray {
    T* storage = nullptr;
    int32_t length = 0;
    int32_t capacity = 0;

    GrowArray() = default;
    GrowArray(const GrowArray&) = delete;
    GrowArray& operator=(const GrowArray&) = delete;
    // Moving hands the storage over; the array moved from is left empty.
    GrowArray(GrowArray&& other) : storage(other.storage), length(other.length), capacity(other.capacity) {
        other.storage = nullptr;
        other.length = other.capacity = 0;
    }
    GrowArray& operator=(GrowArray&& other) {
        if (this == &other) return *this;
        RemoveAll();
        Heap::Free(storage);
        storage = other.storage;
        length = other.length;
        capacity = other.capacity;
        other.storage = nullptr;
        other.length = other.capacity = 0;
        return *this;
    }
    ~GrowArray() {
        RemoveAll();
        Heap::Free(storage);
    }

    int32_t Length() const { return length; }
    T At(int32_t index) const { return storage[index]; }

    int32_t Add(In value) {
        if (length == capacity && !Grow()) return -1;
        T cell{};
        if (!Policy::Store(cell, value)) return -1;
        storage[length] = cell;
        return length++;
    }

    void RemoveAll() { Shorten(0); }

    // Keeps the first `count` cells (count <= Length()), releasing the rest.
    void Shorten(int32_t count) {
        for (int32_t i = count; i < length; ++i) Policy::Release(storage[i]);
        length = count;
    }

    // Room for `more` cells past the last, growing as Add does; false
    // (nothing changed) when memory runs out.
    bool Reserve(int32_t more) {
        while (capacity - length < more)
            if (!Grow()) return false;
        return true;
    }

    // Twice the cells, or false (nothing changed) when memory runs out or
    // the count would overflow.
    bool Grow() {
        if (capacity > INT32_MAX / 2) return false;
        int32_t cells = capacity < GROW_ARRAY_FIRST_CELLS ? GROW_ARRAY_FIRST_CELLS : capacity * 2;
        if ((size_t)cells > SIZE_MAX / sizeof(T)) return false;
        T* grown = static_cast<T*>(Heap::Realloc(storage, sizeof(T) * (size_t)cells));
        if (grown == nullptr) return false;
        storage = grown;
        capacity = cells;
        return true;
    }
};

typedef GrowArray<void*, void*, PlainPolicy> PtrArray;
typedef GrowArray<uint8_t, uint8_t, PlainPolicy> ByteArray;
typedef GrowArray<uint32_t, uint32_t, PlainPolicy> NumberArray;

struct StringArray : GrowArray<WCHAR*, const WCHAR*, StringPolicy> {
    // Index Length() appends; a smaller index replaces (and frees) the string
    // there. False when the copy cannot be made; the old string then stays.
    bool SetAt(int32_t index, const WCHAR* value) {
        if (index == length) return Add(value) >= 0;
        WCHAR* copy = nullptr;
        if (!StringPolicy::Store(copy, value)) return false;
        MemFree(storage[index]);
        storage[index] = copy;
        return true;
    }
};

#endif
