#pragma once
// Bytes kept back to back in chunks of a megabyte, each piece reached by a
// 32-bit reference. A growing vector would copy everything it holds at each
// doubling, and for a moment hold it twice: a million rows of the list would
// need twice their memory just to grow. Chunks never move. They are mapped
// from the system directly, so that an arena let go of (an index read anew,
// a list filled again) gives its memory back at once, whichever thread made
// it: freed to the allocator, it would stay with that thread's heap.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace core {

class Arena
{
public:
    static constexpr unsigned kChunkBits = 20;
    static constexpr size_t kChunk = size_t(1) << kChunkBits;
    // The most a piece may hold, and the most chunks a reference can name (4 GB).
    static constexpr size_t kLargestPiece = kChunk;
    static constexpr size_t kMostChunks = size_t(1) << (32 - kChunkBits);

    // Room for a piece of `n` bytes (at most kLargestPiece), never split
    // between two chunks; `ref` names it from then on. Throws
    // std::length_error when the arena is full.
    char *place(size_t n, uint32_t &ref);
    uint32_t append(const char *bytes, size_t n);
    const char *at(uint32_t ref) const { return m_chunks[ref >> kChunkBits].get() + (ref & (kChunk - 1)); }
    // The bytes its chunks take.
    size_t bytes() const { return m_chunks.size() * kChunk; }
    // The bytes placed, waste at chunk ends included.
    size_t used() const { return m_chunks.empty() ? 0 : (m_chunks.size() - 1) * kChunk + m_used; }
    void clear();
    void swap(Arena &other) noexcept;

private:
    struct ChunkEnd
    {
        void operator()(char *chunk) const;
    };
    std::vector<std::unique_ptr<char[], ChunkEnd>> m_chunks;
    size_t m_used = kChunk; // in the last chunk: full before the first
};

} // namespace core
