#include "data/hash.h"

#include <cstring>

#include "core/memory.h"

HashTable* s_HashTables = nullptr;

namespace {

// Sizes are signed 32-bit throughout; a block past that (which on a 32-bit
// system would also wrap its byte count) fails as if memory ran out.
const size_t kLargestBlock = 0x7FFFFFFF;

// Raw bytes from the positioned allocator rather than a new-expression: nodes,
// keys and heads need no construction.
template <typename T>
T* Allocate(size_t count, int line) {
    if (count > kLargestBlock / sizeof(T)) return nullptr;
    return static_cast<T*>(operator new(count * sizeof(T), "hash", line));
}

// The positioned delete is free() underneath; naming it keeps every release
// paired with the allocation function the compiler saw for the block.
void Release(void* block) {
    operator delete(block, "hash", __LINE__);
}

bool IsOddPrime(int32_t candidate) {
    // Stopping at the square root rejects the same candidates as trying every
    // odd divisor up to half of them, and is much quicker for large tables.
    for (int32_t divisor = 3; divisor <= candidate / divisor; divisor += 2)
        if (candidate % divisor == 0) return false;
    return true;
}

}  // namespace

HashTable::HashTable(int32_t size, bool fixed, int32_t keyLength, bool registerInList,
                     bool skipNesting) {
    m_SkipNesting = skipNesting;
    m_Buckets = nullptr;
    if (fixed) {
        InitFixed(size, static_cast<int16_t>(keyLength));
    } else {
        m_Fixed = false;
        Init(size);
    }
    m_Next = nullptr;
    if (registerInList) {
        m_Next = s_HashTables;
        s_HashTables = this;
    }
}

HashTable::~HashTable() {
    for (HashTable** link = &s_HashTables; *link; link = &(*link)->m_Next) {
        if (*link == this) {
            *link = m_Next;
            break;
        }
    }
    Clear();
}

void HashTable::Init(int32_t size) {
    Clear();
    m_Size = ComputePrime(size > 100 ? size : 100);
    m_Count = 0;
}

void HashTable::InitFixed(int32_t size, int16_t keyLength) {
    Init(size);
    m_Fixed = true;
    m_KeyLength = keyLength;
    EnterTemporary();
    m_Slots = Allocate<HashNode>(m_Size, __LINE__);
    LeaveTemporary();
    // Outside the bracket: the key block follows the caller's arena choice.
    const int32_t area = m_KeyLength + 1;
    // A slot needs at least its marker byte. The product is checked before it
    // is formed: it could wrap a 32-bit size.
    const bool fits = area > 0 && static_cast<size_t>(m_Size) <= kLargestBlock / area;
    char* keys = fits ? Allocate<char>(static_cast<size_t>(area) * m_Size, __LINE__) : nullptr;
    if (!m_Slots || !keys) return AbandonSlots(keys);
    for (int32_t i = 0; i < m_Size; ++i) {
        char* marker = keys + static_cast<size_t>(i) * area;
        *marker = 0;
        m_Slots[i].m_Key = marker + 1;
    }
}

void HashTable::Clear() {
    // Slots exist from InitFixed on, whether or not anything was ever hashed.
    if (!m_Buckets && !m_Slots) return;
    EnterTemporary();
    if (m_Fixed) {
        ReleaseSlots();
    } else {
        ReleaseChains();
    }
    Release(m_Buckets);
    LeaveTemporary();
    m_Buckets = nullptr;
    m_Count = 0;
}

void* HashTable::Lookup(const char* key) {
    // A table that never hashed holds nothing, and looking must not allocate.
    if (!m_Buckets) return nullptr;
    HashNode* node = *FindLink(key, Hash(key));
    return node ? node->m_Value : nullptr;
}

uint32_t HashTable::Hash(const char* key) {
    if (!m_Buckets) {
        EnterTemporary();
        m_Buckets = Allocate<HashNode*>(m_Size, __LINE__);
        LeaveTemporary();
        for (int32_t i = 0; m_Buckets && i < m_Size; ++i) m_Buckets[i] = nullptr;
    }
    uint32_t h = 0;
    for (const char* p = key; *p; ++p) {
        // Bytes count as signed, so high bytes add a negative amount; stored
        // tables and their users depend on these exact bucket numbers.
        h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
        const uint32_t g = h & 0xF0000000u;
        if (g) h ^= (g >> 24) ^ g;
    }
    return h % static_cast<uint32_t>(m_Size);
}

int32_t HashTable::ComputePrime(int32_t n) {
    int32_t candidate = (n % 2 == 0) ? n + 1 : n;
    while (!IsOddPrime(candidate)) candidate += 2;
    return candidate;
}

bool HashTable::Insert(const char* key, void* value) {
    if (m_Fixed && !FitsSlot(key)) return false;
    const uint32_t index = Hash(key);
    if (!m_Buckets) return false;
    HashNode** link = FindLink(key, index);
    if (*link) {
        (*link)->m_Value = value;
        return true;
    }
    HashNode* node = m_Fixed ? TakeSlot(key) : NewNode(key);
    if (!node) return false;
    node->m_Value = value;
    node->m_Next = m_Buckets[index];
    m_Buckets[index] = node;
    m_Count++;
    return true;
}

bool HashTable::Remove(const char* key) {
    if (!m_Buckets) return false;
    HashNode** link = FindLink(key, Hash(key));
    HashNode* node = *link;
    if (!node) return false;
    *link = node->m_Next;
    m_Count--;
    if (m_Fixed) {
        node->m_Key[-1] = 0;  // the slot is free again
        return true;
    }
    EnterTemporary();
    Release(node->m_Key);
    Release(node);
    LeaveTemporary();
    return true;
}

void HashTable::EnterTemporary() {
    if (!m_SkipNesting) BeginTemporary();
}

void HashTable::LeaveTemporary() {
    if (!m_SkipNesting) EndTemporary();
}

HashNode** HashTable::FindLink(const char* key, uint32_t index) {
    HashNode** link = &m_Buckets[index];
    while (*link && strcmp((*link)->m_Key, key) != 0) link = &(*link)->m_Next;
    return link;
}

HashNode* HashTable::NewNode(const char* key) {
    const size_t bytes = strlen(key) + 1;
    EnterTemporary();
    char* copy = Allocate<char>(bytes, __LINE__);
    HashNode* node = copy ? Allocate<HashNode>(1, __LINE__) : nullptr;
    if (node) {
        memcpy(copy, key, bytes);
        node->m_Key = copy;
    } else {
        Release(copy);
    }
    LeaveTemporary();
    return node;
}

HashNode* HashTable::TakeSlot(const char* key) {
    for (int32_t i = 0; m_Slots && i < m_Size; ++i) {
        HashNode* slot = &m_Slots[i];
        if (slot->m_Key[-1] != 0) continue;
        slot->m_Key[-1] = 1;
        memcpy(slot->m_Key, key, strlen(key) + 1);  // FitsSlot checked the length
        return slot;
    }
    return nullptr;
}

bool HashTable::FitsSlot(const char* key) const {
    // The area after the marker must hold the terminator as well.
    return m_KeyLength > 0 && strlen(key) < static_cast<size_t>(m_KeyLength);
}

void HashTable::ReleaseSlots() {
    // The key block starts at the first slot's marker byte.
    if (!m_Slots) return;
    Release(m_Slots[0].m_Key - 1);
    Release(m_Slots);
    m_Slots = nullptr;
}

void HashTable::AbandonSlots(char* keys) {
    EnterTemporary();
    Release(m_Slots);
    LeaveTemporary();
    m_Slots = nullptr;
    Release(keys);
}

void HashTable::ReleaseChains() {
    for (int32_t i = 0; i < m_Size; ++i) {
        for (HashNode* node = m_Buckets[i]; node;) {
            HashNode* next = node->m_Next;
            Release(node->m_Key);
            Release(node);
            node = next;
        }
    }
}
