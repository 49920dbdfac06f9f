// An open-addressing index from 32-bit hashes to records, kept beside the
// tool's lists so that finding a name costs the same however long they grow.
// The caller compares keys; the index only narrows the search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tool/tablepool.h"

template <typename T>
class Index {
public:
    // firstSize: slots of the first table, a power of two. Tables come from
    // pool, which must outlive the index.
    Index(uint32_t firstSize, TablePool* pool) : m_FirstSize(firstSize), m_Pool(pool) {}
    ~Index() { m_Pool->Release(m_Slots, TableBytes()); }

    template <typename Match>
    T* Find(uint32_t hash, Match match) const {
        if (!m_Slots) return nullptr;
        for (uint32_t i = hash & m_Mask;; i = (i + 1) & m_Mask) {
            const Slot& slot = m_Slots[i];
            if (!slot.m_Item) return nullptr;
            if (slot.m_Hash == hash && match(slot.m_Item)) return slot.m_Item;
        }
    }

    // Hints that hash is about to be looked up.
    void Prefetch(uint32_t hash) const {
        if (m_Slots) __builtin_prefetch(&m_Slots[hash & m_Mask]);
    }

    // The first record filed under hash, which may be another key's: only
    // for prefetching what a lookup will compare.
    T* Candidate(uint32_t hash) const {
        if (!m_Slots) return nullptr;
        for (uint32_t i = hash & m_Mask;; i = (i + 1) & m_Mask)
            if (!m_Slots[i].m_Item || m_Slots[i].m_Hash == hash) return m_Slots[i].m_Item;
    }

    // false when memory is exhausted.
    bool Add(uint32_t hash, T* item) {
        if ((m_Count + 1) * 3 > (m_Mask + 1) * 2 && !Grow()) return false;
        Place(m_Slots, m_Mask, hash, item);
        m_Count++;
        return true;
    }

    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

private:
    struct Slot {
        uint32_t m_Hash;
        T* m_Item;  // null marks a free slot
    };

    static void Place(Slot* slots, uint32_t mask, uint32_t hash, T* item) {
        uint32_t i = hash & mask;
        while (slots[i].m_Item) i = (i + 1) & mask;
        slots[i] = Slot{hash, item};
    }

    size_t TableBytes() const { return m_Slots ? (m_Mask + 1) * sizeof(Slot) : 0; }

    bool Grow() {
        uint32_t size = m_Slots ? (m_Mask + 1) * 2 : m_FirstSize;
        if (size == 0) return false;  // 2^32 slots: past what a 32-bit hash can spread
        Slot* slots = static_cast<Slot*>(m_Pool->Obtain(size * sizeof(Slot)));
        if (!slots) return false;
        for (uint32_t i = 0; i < size; ++i) slots[i] = Slot{0, nullptr};
        for (uint32_t i = 0; m_Slots && i <= m_Mask; ++i)
            if (m_Slots[i].m_Item) Place(slots, size - 1, m_Slots[i].m_Hash, m_Slots[i].m_Item);
        m_Pool->Release(m_Slots, TableBytes());
        m_Slots = slots;
        m_Mask = size - 1;
        return true;
    }

    Slot* m_Slots = nullptr;
    uint32_t m_Mask = 0;
    uint32_t m_Count = 0;
    uint32_t m_FirstSize;
    TablePool* m_Pool;
};
