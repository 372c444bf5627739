#include "arena.h"

#include <QtGlobal>
#include <cstring>
#include <new>
#include <stdexcept>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace core {

namespace {

char *newChunk()
{
#ifdef Q_OS_UNIX
    void *p = ::mmap(nullptr, Arena::kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<char *>(p);
#else
    return new char[Arena::kChunk];
#endif
}

} // namespace

void Arena::ChunkEnd::operator()(char *chunk) const
{
#ifdef Q_OS_UNIX
    ::munmap(chunk, kChunk);
#else
    delete[] chunk;
#endif
}

char *Arena::place(size_t n, uint32_t &ref)
{
    if (n > kLargestPiece)
        throw std::length_error("piece larger than a chunk");
    // A piece never starts at a chunk's very end: its reference would name the next chunk.
    if (m_chunks.empty() || m_used + n > kChunk || m_used == kChunk) {
        if (m_chunks.size() == kMostChunks)
            throw std::length_error("arena full");
        std::unique_ptr<char[], ChunkEnd> chunk(newChunk());
        m_chunks.push_back(std::move(chunk));
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
