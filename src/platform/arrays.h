// The program's three containers: one growable array with an element policy.
//   PtrArray    pointers, never copied or freed by the array
//   StringArray wide strings, each a copy the array owns
//   ByteArray   plain bytes
// The storage grows by exactly one cell when full and never shrinks before
// the array is destroyed. Add returns -1 when memory runs out, leaving the
// array as it was.
#ifndef DUSTPAIL_PLATFORM_ARRAYS_H
#define DUSTPAIL_PLATFORM_ARRAYS_H

#include <cstdint>

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

template <typename T, typename In, typename Policy>
struct GrowArray {
    T* storage = nullptr;
    int32_t length = 0;
    int32_t capacity = 0;

    GrowArray() = default;
    GrowArray(const GrowArray&) = delete;
    GrowArray& operator=(const GrowArray&) = delete;
    ~GrowArray() {
        RemoveAll();
        MemFree(storage);
    }

    int32_t Length() const { return length; }
    T At(int32_t index) const { return storage[index]; }

    int32_t Add(In value) {
        if (length == capacity) {
            T* grown = static_cast<T*>(MemRealloc(storage, sizeof(T) * (size_t)(length + 1)));
            if (grown == nullptr) return -1;
            storage = grown;
            capacity = length + 1;
        }
        T cell{};
        if (!Policy::Store(cell, value)) return -1;
        storage[length] = cell;
        return length++;
    }

    void RemoveAll() {
        for (int32_t i = 0; i < length; ++i) Policy::Release(storage[i]);
        length = 0;
    }
};

typedef GrowArray<void*, void*, PlainPolicy> PtrArray;
typedef GrowArray<uint8_t, uint8_t, PlainPolicy> ByteArray;

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
