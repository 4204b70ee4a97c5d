#pragma once
// An index from a text to an entry that carries that text itself (a record, or a node of the
// thread model), so the index keeps no copy of any text: a slot is the text's hash and the
// entry, and equal hashes are confirmed against the entry's own text. Look-ups take a view,
// so a part of a longer text (the first of the References, a subject without "Re: ") is found
// without building a string. Open addressing with linear probing: a million entries cost
// 16 bytes a slot and one or two cache lines a look-up.
#include <QHash>
#include <QStringView>
#include <cstddef>
#include <vector>

// The hash every text index uses.
inline size_t TextHash(QStringView text) noexcept
{
    return qHash(text, size_t(0));
}

// The slot a hash starts probing at in a table of mask + 1 slots: the hash is spread first,
// so texts that differ in a few characters do not crowd one neighbourhood.
inline size_t TextHome(size_t hash, size_t mask) noexcept
{
    return size_t((quint64(hash) * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

template <typename T, QStringView (*KeyOf)(const T*)>
class TTextIndex {
public:

    size_t Size() const { return used; }
    bool IsEmpty() const { return used == 0; }

    T* Find(QStringView text) const { return Find(text, TextHash(text)); }
    T* Find(QStringView text, size_t hash) const
    {
        if (table.empty())
            return nullptr;
        for (size_t i = home(hash);; i = (i + 1) & mask) {
            const TSlot& s = table[i];
            if (!s.entry)
                return nullptr;
            if (s.hash == hash && KeyOf(s.entry) == text)
                return s.entry;
        }
    }

    // The slot of the text: it holds the entry indexed under the text, or nullptr when there
    // is none yet, and then the caller may store one whose text is this text. The reference
    // holds until the index changes again.
    T*& Slot(QStringView text, size_t hash)
    {
        if ((used + 1) * 4 > table.size() * 3)
            grow(table.empty() ? 16 : table.size() * 2);
        size_t i = home(hash);
        for (;; i = (i + 1) & mask) {
            TSlot& s = table[i];
            if (!s.entry)
                break;
            if (s.hash == hash && KeyOf(s.entry) == text)
                return s.entry;
        }
        // A new slot counts as used even if the caller leaves it empty; it is only room.
        ++used;
        table[i].hash = hash;
        return table[i].entry;
    }
    T*& Slot(QStringView text) { return Slot(text, TextHash(text)); }

    // Takes out the slot holding exactly this entry (found by the entry's current text);
    // false when the entry is not indexed.
    bool Remove(const T* entry)
    {
        if (table.empty() || !entry)
            return false;
        const size_t hash = TextHash(KeyOf(entry));
        size_t i = home(hash);
        for (;; i = (i + 1) & mask) {
            if (!table[i].entry)
                return false;
            if (table[i].entry == entry)
                break;
        }
        // Later slots of the same run move back into the hole when their home allows it, so
        // no look-up ever stops short at an emptied slot.
        size_t hole = i;
        for (size_t j = (i + 1) & mask; table[j].entry; j = (j + 1) & mask) {
            const size_t home = this->home(table[j].hash);
            const bool homeInRun = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
            if (!homeInRun) {
                table[hole] = table[j];
                hole = j;
            }
        }
        table[hole] = TSlot();
        --used;
        return true;
    }

    // Asks memory for the first slot a look-up of the hash will read.
    void Prefetch(size_t hash) const
    {
        if (!table.empty())
            __builtin_prefetch(&table[home(hash)]);
    }

    void Clear()
    {
        table.clear();
        table.shrink_to_fit();
        mask = 0;
        used = 0;
    }

    void Reserve(size_t count)
    {
        size_t want = 16;
        while (want * 3 < count * 4)
            want *= 2;
        if (want > table.size())
            grow(want);
    }

private:
    size_t home(size_t hash) const { return TextHome(hash, mask); }

    struct TSlot {
        size_t hash = 0;
        T* entry = nullptr;
    };

    void grow(size_t size)
    {
        std::vector<TSlot> old;
        old.swap(table);
        table.assign(size, TSlot());
        mask = size - 1;
        used = 0;
        for (const TSlot& s : old) {
            if (!s.entry)
                continue;
            size_t i = home(s.hash);
            while (table[i].entry)
                i = (i + 1) & mask;
            table[i] = s;
            ++used;
        }
    }

    std::vector<TSlot> table;
    size_t mask = 0;
    size_t used = 0;
};
