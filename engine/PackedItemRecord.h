#pragma once

#include "engine/MonItemRecord.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace morvane {

// An item record as an item holds it in memory: the record's bytes with each of its long
// fields (the five texts and the reserved bytes, 1,536 of its 1,624 bytes) cut after its
// last nonzero byte. A typical record packs into about 250 bytes, and unpacks into the very
// bytes it was packed from. Not thread-safe: the item's lock guards it.
class PackedItemRecord
{
public:
    PackedItemRecord() : PackedItemRecord(EmptyItemRecord()) {}
    PackedItemRecord(const TMonItemRecord& record) { Pack(record); } // NOLINT: a record stands for it
    PackedItemRecord& operator=(const TMonItemRecord& record)
    {
        Pack(record);
        return *this;
    }
    operator TMonItemRecord() const { return Unpack(); } // NOLINT: reads like the record itself
    TMonItemRecord Unpack() const;
    // Takes record, given what this unpacked into before (unpacked): when the long fields
    // are the same, only the fixed bytes are written over, in place. Most changes of a
    // record are of flags, counters and dates, and cost no packing then.
    void Update(const TMonItemRecord& unpacked, const TMonItemRecord& record);

    // Single fields without unpacking the whole record.
    ShortText Path() const { return Text(0); }
    ShortText LastVersionPath() const { return Text(1); }
    ShortText FileID() const { return Text(2); }
    bool IsFolder() const { return Fixed<ByteBool>(offsetof(TMonItemRecord, IsFolder)); }
    bool Monitored() const { return Fixed<ByteBool>(offsetof(TMonItemRecord, Monitored)); }
    bool IsSaved() const { return Fixed<ByteBool>(offsetof(TMonItemRecord, IsSaved)); }
    TMonStatus MonStatus() const { return Fixed<TMonStatus>(offsetof(TMonItemRecord, MonStatus)); }
    double LastTime() const { return Fixed<double>(offsetof(TMonItemRecord, LastTime)); }

private:
    // The long fields in record order: the texts as Text() numbers them, then Reserved.
    static constexpr std::size_t kLongFields = 6;
    static constexpr std::size_t kLongSize = 256;
    static constexpr std::size_t kLongOffsets[kLongFields] = {
        offsetof(TMonItemRecord, Path),      offsetof(TMonItemRecord, LastVersionPath),
        offsetof(TMonItemRecord, FileID),    offsetof(TMonItemRecord, Executer),
        offsetof(TMonItemRecord, Templates), offsetof(TMonItemRecord, Reserved)};
    // Bytes of the record outside the long fields, kept first and as they stand.
    static constexpr std::size_t kFixedSize = sizeof(TMonItemRecord) - kLongFields * kLongSize;

    // Where the byte at a record offset outside the long fields is kept.
    static constexpr std::size_t FixedOffset(std::size_t recordOffset)
    {
        std::size_t offset = recordOffset;
        for (std::size_t start : kLongOffsets) {
            if (start < recordOffset)
                offset -= kLongSize;
        }
        return offset;
    }
    template <typename T>
    T Fixed(std::size_t recordOffset) const
    {
        T value;
        std::memcpy(&value, m_bytes.data() + FixedOffset(recordOffset), sizeof value);
        return value;
    }
    ShortText Text(std::size_t field) const;
    void Pack(const TMonItemRecord& record);

    // The fixed bytes, then each long field as a two-byte length and that many bytes.
    std::string m_bytes;
};

} // namespace morvane
