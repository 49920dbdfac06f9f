// A table from key texts to pointer-sized values, with a prime number of
// buckets, each one a singly linked chain of nodes.
//
// Two storage modes:
// - chained: every node and every key copy is its own heap block;
// - fixed-slot: InitFixed takes m_Size nodes and one key block up front, so
//   filling the table allocates nothing. Each slot's key area is a marker byte
//   (0 free, 1 in use) followed by m_KeyLength bytes for the key text and its
//   terminator, so keys of at most m_KeyLength - 1 characters fit. Insert takes
//   the lowest-numbered free slot, so a slot freed by Remove is refilled
//   before any slot further on.
//
// Unless m_SkipNesting, the table's allocations and releases happen inside the
// temporary-allocation bracket, so they come from the default arena whatever
// the caller has selected.
#pragma once

#include <cstdint>

struct HashNode {
    char* m_Key;
    void* m_Value;
    HashNode* m_Next;
};

class HashTable {
public:
    HashTable(int32_t size, bool fixed, int32_t keyLength, bool registerInList, bool skipNesting);
    // Leaves the global list if the table is in it, then releases everything.
    ~HashTable();
    // A copy would release the same blocks twice.
    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;

    // Empties the table and makes it one of at least 101 buckets (a prime).
    // The storage mode stays as it was; a fixed-slot table has no slots again
    // until InitFixed.
    void Init(int32_t size);
    void InitFixed(int32_t size, int16_t keyLength);
    // Releases every node and the bucket array; m_Size and the mode stay.
    void Clear();

    // Null for an absent key. Never allocates.
    void* Lookup(const char* key);
    // The bucket of a key; allocates the bucket array on first use.
    uint32_t Hash(const char* key);
    // The smallest prime not below n, for n of at least 5.
    static int32_t ComputePrime(int32_t n);

    // Stores value under key; a key already present gets the new value, so a
    // key is never in the table twice. False, with the table unchanged, when
    // storage runs out, no slot is free or the key is too long for a slot
    // (keys are never shortened to fit).
    bool Insert(const char* key, void* value);
    // Takes the key out of the table; false when it was not there.
    bool Remove(const char* key);

    int16_t m_KeyLength = 0;
    bool m_Fixed = false;
    bool m_SkipNesting = false;
    HashNode* m_Slots = nullptr;
    int32_t m_Size = 0;
    int32_t m_Count = 0;
    HashNode** m_Buckets = nullptr;
    HashTable* m_Next = nullptr;

private:
    void EnterTemporary();
    void LeaveTemporary();
    // The link that points at the key's node, or the null link ending its chain.
    HashNode** FindLink(const char* key, uint32_t index);
    HashNode* NewNode(const char* key);
    HashNode* TakeSlot(const char* key);
    bool FitsSlot(const char* key) const;
    void ReleaseSlots();
    // Drops a half-built set of slots, leaving a table that refuses inserts.
    void AbandonSlots(char* keys);
    void ReleaseChains();
};

// Every table constructed with registerInList and not yet destroyed, newest first.
extern HashTable* s_HashTables;
