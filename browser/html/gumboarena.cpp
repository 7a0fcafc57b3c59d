#include "browser/html/gumboarena.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

namespace qh::browser {

namespace {

constexpr std::size_t kAlignment = alignof(std::max_align_t);
constexpr std::size_t kChunkSize = std::size_t(256) << 10;
constexpr std::size_t kLargeBlock = std::size_t(32) << 10;

std::size_t alignUp(std::size_t size)
{
    return (size + kAlignment - 1) & ~(kAlignment - 1);
}

// The parse running on this thread, if any.
thread_local GumboArena *t_parsing = nullptr;

} // namespace

GumboArena::GumboArena(std::size_t budgetBytes, std::stop_token stop) : m_budget(budgetBytes), m_stop(std::move(stop))
{}

GumboArena::~GumboArena()
{
    for (void *chunk : m_chunks)
        std::free(chunk);
    for (const auto &entry : m_large)
        std::free(entry.first);
}

GumboOutput *GumboArena::parse(const char *data, std::size_t size)
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &GumboArena::allocate;
    options.deallocator = &GumboArena::deallocate;
    options.userdata = this;
    options.max_errors = 0; // we never read them; a broken page would collect millions
    // Only C frames of Gumbo lie between here and the longjmp in allocate() or escapeFromParse(), so no
    // destructor is skipped.
    if (setjmp(m_escape) != 0) {
        t_parsing = nullptr;
        return nullptr;
    }
    t_parsing = this;
    GumboOutput *output = gumbo_parse_with_options(&options, data, size);
    t_parsing = nullptr;
    return output;
}

bool GumboArena::escapeFromParse() noexcept
{
    GumboArena *arena = t_parsing;
    if (!arena)
        return false;
    arena->m_gumboFailed = true;
    std::longjmp(arena->m_escape, 1);
}

void *GumboArena::allocate(void *userdata, std::size_t size)
{
    auto *arena = static_cast<GumboArena *>(userdata);
    void *block = arena->allocateOrNull(size);
    if (!block)
        std::longjmp(arena->m_escape, 1);
    return block;
}

void GumboArena::deallocate(void *userdata, void *ptr)
{
    static_cast<GumboArena *>(userdata)->release(ptr);
}

void *GumboArena::allocateOrNull(std::size_t size) noexcept
{
    if (m_stop.stop_requested())
        return nullptr;
    const std::size_t rounded = alignUp(size == 0 ? 1 : size);
    if (rounded >= kLargeBlock) {
        if (m_reserved + rounded > m_budget)
            return nullptr;
        void *block = std::malloc(rounded);
        if (!block)
            return nullptr;
        try {
            m_large.emplace(block, rounded);
        } catch (...) {
            std::free(block);
            return nullptr;
        }
        m_reserved += rounded;
        return block;
    }
    if (std::size_t(m_end - m_next) < rounded) {
        if (m_reserved + kChunkSize > m_budget)
            return nullptr;
        void *chunk = std::malloc(kChunkSize);
        if (!chunk)
            return nullptr;
        try {
            m_chunks.push_back(chunk);
        } catch (...) {
            std::free(chunk);
            return nullptr;
        }
        m_reserved += kChunkSize;
        m_next = static_cast<std::byte *>(chunk);
        m_end = m_next + kChunkSize;
    }
    m_last = m_next;
    m_next += rounded;
    return m_last;
}

void GumboArena::release(void *ptr) noexcept
{
    if (!ptr)
        return;
    if (ptr == m_last) {
        // Gumbo grows buffers by allocate-copy-free; handing back the latest block keeps that from piling up.
        m_next = m_last;
        m_last = nullptr;
        return;
    }
    if (const auto it = m_large.find(ptr); it != m_large.end()) {
        m_reserved -= it->second;
        std::free(ptr);
        m_large.erase(it);
    }
}

} // namespace qh::browser

// The system's library of Gumbo is built with its assertions on, and some hostile pages fail them: the default
// handler would end the whole program, and with it every page grabbed since the book's file was last written. This
// handler, which the program exports in place of the C library's, ends just the parse when one is running on the
// thread; any other failed assertion ends the program as usual.
extern "C" [[noreturn]] void __assert_fail(const char *assertion, const char *file, unsigned int line,
                                           const char *function) noexcept
{
    qh::browser::GumboArena::escapeFromParse();
    std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", file, line, function ? function : "?", assertion);
    std::abort();
}
