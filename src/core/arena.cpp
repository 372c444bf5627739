#include "arena.h"

#include <cstring>
#include <stdexcept>

namespace core {

char *Arena::place(size_t n, uint32_t &ref)
{
    if (n > kLargestPiece)
        throw std::length_error("piece larger than a chunk");
    // A piece never starts at a chunk's very end: its reference would name the next chunk.
    if (m_chunks.empty() || m_used + n > kChunk || m_used == kChunk) {
        if (m_chunks.size() == kMostChunks)
            throw std::length_error("arena full");
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunk));
        m_used = 0;
    }
    ref = uint32_t(((m_chunks.size() - 1) << kChunkBits) | m_used);
    char *p = m_chunks.back().get() + m_used;
    m_used += n;
    return p;
}

uint32_t Arena::append(const char *bytes, size_t n)
{
    uint32_t ref = 0;
    char *p = place(n, ref);
    if (n > 0)
        std::memcpy(p, bytes, n);
    return ref;
}

void Arena::clear()
{
    m_chunks.clear();
    m_used = kChunk;
}

void Arena::swap(Arena &other) noexcept
{
    m_chunks.swap(other.m_chunks);
    std::swap(m_used, other.m_used);
}

} // namespace core
