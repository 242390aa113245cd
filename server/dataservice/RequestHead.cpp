#include "RequestHead.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace chenglan::dataservice {

namespace {

// More digits than this cannot be a length any bound allows.
constexpr std::size_t kMaxLengthDigits = 19;
constexpr std::size_t kMaxChunkSizeDigits = 16;

bool isTokenChar(unsigned char c) {
    return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(char(c)) != std::string_view::npos;
}

// Visible characters, space, tab and bytes above ASCII; no NUL, CR, LF or
// other control.
bool isValueChar(unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7f); }

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

RequestHeadCheck refuse(int status, std::string reason) {
    RequestHeadCheck check;
    check.status = status;
    check.reason = std::move(reason);
    return check;
}

// Host: empty, or a host name, an IPv4 or a bracketed IPv6 address, and an optional port.
bool validHost(std::string_view host) {
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-._~!$&'()*+,;=%:[]").find(c) != std::string_view::npos;
    });
}

} // namespace

RequestHeadCheck checkRequestHead(std::string_view head) {
    // Lines end in CR LF; a lone CR or LF is read as a line end by some
    // readers and not by others.
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const std::size_t end = head.find_first_of("\r\n");
        if (end == std::string_view::npos || head[end] != '\r' || end + 1 >= head.size() || head[end + 1] != '\n')
            return refuse(400, "a line does not end in CR LF");
        lines.push_back(head.substr(0, end));
        head.remove_prefix(end + 2);
    }
    if (lines.size() < 2 || !lines.back().empty())
        return refuse(400, "the header does not end in an empty line");
    lines.pop_back();

    // method SP request-target SP HTTP-version
    const std::string_view requestLine = lines.front();
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == 0 || lastSpace == firstSpace ||
        lastSpace == firstSpace + 1)
        return refuse(400, "malformed request line");
    const std::string_view method = requestLine.substr(0, firstSpace);
    const std::string_view target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = requestLine.substr(lastSpace + 1);
    if (!std::all_of(method.begin(), method.end(), [](char c) { return isTokenChar(static_cast<unsigned char>(c)); }))
        return refuse(400, "malformed request line");
    if (!std::all_of(target.begin(), target.end(),
                     [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7f; }))
        return refuse(400, "malformed request target");
    const bool http11 = version == "HTTP/1.1";
    if (!http11 && version != "HTTP/1.0") {
        const bool wellFormed = version.size() == 8 && version.substr(0, 5) == "HTTP/" && std::isdigit(version[5]) &&
                                version[6] == '.' && std::isdigit(version[7]);
        return wellFormed ? refuse(505, "HTTP version not supported") : refuse(400, "malformed request line");
    }

    int hosts = 0;
    bool hostValid = true;
    std::vector<std::string_view> lengths;
    std::vector<std::string> codings;
    bool transferEncoding = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.front() == ' ' || line.front() == '\t')
            return refuse(400, "folded header line");
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return refuse(400, "header line without a colon");
        const std::string_view name = line.substr(0, colon);
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return isTokenChar(static_cast<unsigned char>(c)); }))
            return refuse(400, "malformed header name");
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (!std::all_of(value.begin(), value.end(), [](char c) { return isValueChar(static_cast<unsigned char>(c)); }))
            return refuse(400, "control character in a header value");
        if (sameName(name, "Host")) {
            ++hosts;
            hostValid = hostValid && validHost(value);
        } else if (sameName(name, "Content-Length")) {
            lengths.push_back(value);
        } else if (sameName(name, "Transfer-Encoding")) {
            transferEncoding = true;
            std::string_view list = value;
            while (!list.empty()) {
                const std::size_t comma = std::min(list.find(','), list.size());
                const std::string_view element = trimmed(list.substr(0, comma));
                if (!element.empty())
                    codings.push_back(lowered(element));
                list.remove_prefix(std::min(comma + 1, list.size()));
            }
        }
    }

    if (http11 && hosts == 0)
        return refuse(400, "no Host header");
    if (hosts > 1 || !hostValid)
        return refuse(400, "bad Host header");

    RequestHeadCheck check;
    if (transferEncoding) {
        if (!lengths.empty())
            return refuse(400, "both Transfer-Encoding and Content-Length");
        if (!http11)
            return refuse(400, "Transfer-Encoding in an HTTP/1.0 request");
        const auto chunkedCount = std::count(codings.begin(), codings.end(), "chunked");
        if (codings.empty() || codings.back() != "chunked" || chunkedCount != 1)
            return refuse(400, "the body's length cannot be determined");
        if (codings.size() > 1)
            return refuse(501, "transfer coding not implemented");
        check.chunked = true;
        return check;
    }
    for (const std::string_view length : lengths) {
        if (!allDigits(length) || length.size() > kMaxLengthDigits)
            return refuse(400, "bad Content-Length");
        if (length != lengths.front())
            return refuse(400, "conflicting Content-Length");
    }
    if (!lengths.empty())
        check.contentLength = std::stoull(std::string(lengths.front()));
    return check;
}

bool ChunkedFraming::feed(const char *bytes, std::size_t size) {
    for (std::size_t i = 0; i < size && m_state != State::Failed;) {
        if (m_state == State::Data) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(m_size, size - i));
            m_size -= take;
            i += take;
            if (m_size == 0)
                m_state = State::DataReturn;
            continue;
        }
        if (!step(static_cast<unsigned char>(bytes[i++])))
            m_state = State::Failed;
    }
    return m_state != State::Failed;
}

bool ChunkedFraming::step(unsigned char c) {
    const auto hexValue = [](unsigned char d) {
        return d >= '0' && d <= '9' ? int(d - '0') : d >= 'a' && d <= 'f' ? int(d - 'a' + 10)
                                                 : d >= 'A' && d <= 'F' ? int(d - 'A' + 10)
                                                                        : -1;
    };
    switch (m_state) {
    case State::Size:
    case State::SizeDigits: {
        const int digit = hexValue(c);
        if (digit >= 0) {
            // Leading zeros aside, the digits are bounded, so the size cannot wrap.
            if (m_size >> (4 * (kMaxChunkSizeDigits - 1)) != 0)
                return false;
            m_size = m_size * 16 + std::uint64_t(digit);
            if (m_maxChunk > 0 && m_size > m_maxChunk) {
                m_tooLarge = true;
                return false;
            }
            m_state = State::SizeDigits;
            return true;
        }
        if (m_state == State::Size)
            return false; // no digit: "-5", "+5", " 5", "0x5"
        if (c == '\r')
            return m_state = State::SizeLineFeed, true;
        if (c == ';')
            return m_state = State::Extension, true;
        if (c == ' ' || c == '\t')
            return m_state = State::SizeSpace, true;
        return false;
    }
    case State::SizeSpace: // only before an extension
        if (c == ' ' || c == '\t')
            return true;
        if (c == ';')
            return m_state = State::Extension, true;
        return false;
    case State::Extension:
        if (c == '\r')
            return m_state = State::SizeLineFeed, true;
        return isValueChar(c);
    case State::SizeLineFeed:
        if (c != '\n')
            return false;
        m_state = m_size == 0 ? State::EndReturn : State::Data;
        return true;
    case State::DataReturn:
        return c == '\r' && (m_state = State::DataLineFeed, true);
    case State::DataLineFeed:
        if (c != '\n')
            return false;
        m_size = 0;
        m_state = State::Size;
        return true;
    case State::EndReturn:
        return c == '\r' && (m_state = State::EndLineFeed, true);
    case State::EndLineFeed:
        return c == '\n' && (m_state = State::Done, true);
    case State::Data:
    case State::Done: // nothing belongs to the body after its end
    case State::Failed:
        return false;
    }
    return false;
}

} // namespace chenglan::dataservice
