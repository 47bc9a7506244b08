#include "engine/PackedItemRecord.h"

#include <cstdint>

namespace morvane {

static_assert(sizeof(ShortText) == 256);

namespace {

// The length of a long field up to its last nonzero byte. Most of a field is the zeros
// after a short text, so they are skipped eight at a time: a list of thousands of items
// packs every record several times while it loads.
std::size_t UsedLength(const unsigned char* field, std::size_t size)
{
    std::size_t n = size;
    for (std::uint64_t word = 0; n >= sizeof word; n -= sizeof word) {
        std::memcpy(&word, field + n - sizeof word, sizeof word);
        if (word != 0)
            break;
    }
    while (n > 0 && field[n - 1] == 0)
        --n;
    return n;
}

} // namespace

void PackedItemRecord::Pack(const TMonItemRecord& record)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    std::size_t lengths[kLongFields];
    std::size_t total = kFixedSize;
    for (std::size_t i = 0; i < kLongFields; ++i) {
        lengths[i] = UsedLength(bytes + kLongOffsets[i], kLongSize);
        total += 2 + lengths[i];
    }
    std::string packed;
    packed.reserve(total);
    std::size_t from = 0;
    for (std::size_t i = 0; i < kLongFields; ++i) {
        packed.append(reinterpret_cast<const char*>(bytes) + from, kLongOffsets[i] - from);
        from = kLongOffsets[i] + kLongSize;
    }
    packed.append(reinterpret_cast<const char*>(bytes) + from, sizeof(TMonItemRecord) - from);
    for (std::size_t i = 0; i < kLongFields; ++i) {
        packed.push_back(static_cast<char>(lengths[i] & 0xFF));
        packed.push_back(static_cast<char>(lengths[i] >> 8));
        packed.append(reinterpret_cast<const char*>(bytes) + kLongOffsets[i], lengths[i]);
    }
    m_bytes = std::move(packed);
}

void PackedItemRecord::Update(const TMonItemRecord& unpacked, const TMonItemRecord& record)
{
    const auto* was = reinterpret_cast<const unsigned char*>(&unpacked);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = 0; i < kLongFields; ++i) {
        if (std::memcmp(was + kLongOffsets[i], bytes + kLongOffsets[i], kLongSize) != 0) {
            Pack(record);
            return;
        }
    }
    std::size_t from = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < kLongFields; ++i) {
        std::memcpy(m_bytes.data() + at, bytes + from, kLongOffsets[i] - from);
        at += kLongOffsets[i] - from;
        from = kLongOffsets[i] + kLongSize;
    }
    std::memcpy(m_bytes.data() + at, bytes + from, sizeof(TMonItemRecord) - from);
}

TMonItemRecord PackedItemRecord::Unpack() const
{
    TMonItemRecord record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    std::memset(bytes, 0, sizeof record);
    std::size_t from = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < kLongFields; ++i) {
        std::memcpy(bytes + from, m_bytes.data() + at, kLongOffsets[i] - from);
        at += kLongOffsets[i] - from;
        from = kLongOffsets[i] + kLongSize;
    }
    std::memcpy(bytes + from, m_bytes.data() + at, sizeof(TMonItemRecord) - from);
    at = kFixedSize;
    for (std::size_t i = 0; i < kLongFields; ++i) {
        const std::size_t n =
            static_cast<unsigned char>(m_bytes[at]) | (static_cast<unsigned char>(m_bytes[at + 1]) << 8);
        std::memcpy(bytes + kLongOffsets[i], m_bytes.data() + at + 2, n);
        at += 2 + n;
    }
    return record;
}

ShortText PackedItemRecord::Text(std::size_t field) const
{
    std::size_t at = kFixedSize;
    for (std::size_t i = 0; i < field; ++i)
        at += 2 +
              (static_cast<unsigned char>(m_bytes[at]) | (static_cast<unsigned char>(m_bytes[at + 1]) << 8));
    const std::size_t n =
        static_cast<unsigned char>(m_bytes[at]) | (static_cast<unsigned char>(m_bytes[at + 1]) << 8);
    ShortText text;
    std::memset(&text, 0, sizeof text);
    std::memcpy(&text, m_bytes.data() + at + 2, n);
    return text;
}

} // namespace morvane
