// The ordered list behind every collection of the kernel-streaming library:
// doubly linked {next, previous, item}, appended at the tail, walked from the
// head. Removing an entry frees the entry only; freeing the item is the owner's rule.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>

template <typename T>
class CKsList {
public:
    struct Entry {
        Entry* next;
        Entry* previous;
        T* item;
    };

    CKsList() = default;
    ~CKsList() { RemoveAll(); }
    CKsList(const CKsList&) = delete;
    CKsList& operator=(const CKsList&) = delete;

    // S_OK, or E_OUTOFMEMORY when no entry could be made (the item is not taken).
    HRESULT AddTail(T* item) {
        Entry* entry = new (std::nothrow) Entry{nullptr, m_tail, item};
        if (!entry) return E_OUTOFMEMORY;
        if (m_tail) {
            m_tail->next = entry;
        } else {
            m_head = entry;
        }
        m_tail = entry;
        ++m_count;
        return S_OK;
    }

    // Unlinks and frees the entry; returns its item.
    T* Remove(Entry* entry) {
        if (!entry) return nullptr;
        if (entry->previous) {
            entry->previous->next = entry->next;
        } else {
            m_head = entry->next;
        }
        if (entry->next) {
            entry->next->previous = entry->previous;
        } else {
            m_tail = entry->previous;
        }
        T* item = entry->item;
        delete entry;
        --m_count;
        return item;
    }

    // Frees every entry, leaving the items alone.
    void RemoveAll() {
        while (m_head) Remove(m_head);
    }

    // Frees every entry and deletes every item (lists that own their items).
    void DeleteAll() {
        while (m_head) delete Remove(m_head);
    }

    Entry* Head() const { return m_head; }
    Entry* Tail() const { return m_tail; }
    uint32_t Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

private:
    Entry* m_head = nullptr;
    Entry* m_tail = nullptr;
    uint32_t m_count = 0;
};
