#pragma once

#include <gumbo.h>

#include <csetjmp>
#include <cstddef>
#include <stop_token>
#include <unordered_map>
#include <vector>

// Gumbo's memory for one parse: a bump allocator that frees everything in one go when it is destroyed, so that
// Gumbo never frees its tree itself (gumbo_destroy_output recurses once per nesting level and overflows the stack
// on deep pages). Private to the browser library.
namespace qh::browser {

class GumboArena
{
public:
    // A stop request ends the parse at Gumbo's next allocation (it allocates for every tag and text run).
    GumboArena(std::size_t budgetBytes, std::stop_token stop);
    ~GumboArena();

    GumboArena(const GumboArena &) = delete;
    GumboArena &operator=(const GumboArena &) = delete;

    // Parses with this arena's memory. Null when the parse needed more than the budget, memory ran out, a stop
    // was requested or one of Gumbo's own consistency checks failed; Gumbo's half-built state is then simply
    // dropped with the arena.
    GumboOutput *parse(const char *data, std::size_t size);

    bool stopped() const { return m_stop.stop_requested(); }
    // The parse ended because Gumbo found its own state broken (a page it cannot handle).
    bool gumboFailed() const { return m_gumboFailed; }

    // Called by a failed assertion on this thread: ends the parse under way, if there is one, and returns false
    // when there is none.
    static bool escapeFromParse() noexcept;

private:
    static void *allocate(void *userdata, std::size_t size);
    static void deallocate(void *userdata, void *ptr);
    void *allocateOrNull(std::size_t size) noexcept;
    void release(void *ptr) noexcept;

    std::size_t m_budget;
    std::stop_token m_stop;
    std::size_t m_reserved = 0; // chunks plus the large blocks still in use
    std::vector<void *> m_chunks;
    std::unordered_map<void *, std::size_t> m_large; // blocks of their own, freed as soon as Gumbo frees them
    std::byte *m_next = nullptr;
    std::byte *m_end = nullptr;
    std::byte *m_last = nullptr; // the latest small block, which a free can hand back
    std::jmp_buf m_escape;       // leaves Gumbo when memory runs out: Gumbo cannot handle a failed allocation
    bool m_gumboFailed = false;
};

} // namespace qh::browser
