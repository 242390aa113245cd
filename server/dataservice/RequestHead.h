#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The framing of a request, checked on its raw bytes before the HTTP library
// reads them. The library is lenient where a proxy in front of the service
// may read the same bytes differently (a header line it skips, a length it
// takes from the first of two headers, a chunk size it reads with strtoul),
// and two readings of one byte stream are how requests are smuggled. Every
// shape that can be read two ways is refused, and the connection closed.
namespace chenglan::dataservice {

struct RequestHeadCheck {
    // 0: the head may be handed on; else the status to refuse it with
    // (400, 501 for a transfer coding the server does not implement, 505).
    int status = 0;
    std::string reason; // one line, for the answer's body
    bool chunked = false;
    // The declared body length when not chunked (0 without Content-Length).
    std::uint64_t contentLength = 0;
};

// `head` is the request line and the header lines, each ending in CR LF, and
// the empty line that ends them.
RequestHeadCheck checkRequestHead(std::string_view head);

// Follows a chunked body byte by byte as it is read and stops at the first
// byte that does not belong to a well-formed one: a chunk size of hex digits
// (at most `maxChunkBytes`), an optional extension, CR LF after the size and
// after the data, and the last chunk followed by the empty line (the library
// takes no trailer fields, so none are accepted here either).
class ChunkedFraming {
public:
    explicit ChunkedFraming(std::size_t maxChunkBytes = 0) : m_maxChunk(maxChunkBytes) {}

    // Feeds bytes in the order they are read; false from the first bad one on.
    bool feed(const char *bytes, std::size_t size);
    bool complete() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    // Why it failed: 413 for a chunk above the bound, else 400.
    int failureStatus() const { return m_tooLarge ? 413 : 400; }

private:
    enum class State { Size, SizeDigits, SizeSpace, Extension, SizeLineFeed, Data, DataReturn, DataLineFeed,
                       EndReturn, EndLineFeed, Done, Failed };
    bool step(unsigned char c);

    std::size_t m_maxChunk;
    State m_state = State::Size;
    std::uint64_t m_size = 0;
    bool m_tooLarge = false;
};

} // namespace chenglan::dataservice
