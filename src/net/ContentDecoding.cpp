#include "net/ContentDecoding.h"

#include <QList>

#include <zlib.h>

#include <algorithm>

namespace chenglan {

namespace {

// Output is produced in pieces of this size, so that the bound is checked
// after each and a bomb stops within one piece of it.
constexpr uInt kInflatePiece = 64 * 1024;
// Input handed to zlib at once (its counters are 32 bits wide).
constexpr qsizetype kInflateInput = 1 << 30;

QString codingName(ContentDecoder::Coding coding) {
    return coding == ContentDecoder::Coding::Gzip ? QStringLiteral("gzip") : QStringLiteral("deflate");
}

} // namespace

struct ContentDecoder::Stream {
    z_stream z{};
    bool open = false;
    ~Stream() {
        if (open)
            inflateEnd(&z);
    }
};

std::optional<ContentDecoder::Coding> ContentDecoder::codingFor(QByteArrayView contentEncoding) {
    std::optional<Coding> found;
    for (const QByteArray &part : contentEncoding.toByteArray().split(',')) {
        const QByteArray name = part.trimmed().toLower();
        if (name.isEmpty() || name == "identity")
            continue;
        Coding coding;
        if (name == "gzip" || name == "x-gzip")
            coding = Coding::Gzip;
        else if (name == "deflate")
            coding = Coding::Deflate;
        else
            return std::nullopt;
        if (found) // two codings on top of each other: never asked for
            return std::nullopt;
        found = coding;
    }
    return found ? found : Coding::Identity;
}

ContentDecoder::ContentDecoder(Coding coding, qint64 maxOutput)
    : m_coding(coding), m_maxOutput(maxOutput), m_stream(std::make_unique<Stream>()) {}

ContentDecoder::~ContentDecoder() = default;

ContentDecoder::State ContentDecoder::broken(const QString &why) {
    m_state = State::Broken;
    m_error = why;
    return m_state;
}

ContentDecoder::State ContentDecoder::feed(QByteArrayView raw, QByteArray *out) {
    if (m_state != State::Ok || raw.isEmpty())
        return m_state;
    m_sawInput = true;
    if (m_coding == Coding::Identity) {
        if (out->size() + raw.size() > m_maxOutput)
            return m_state = State::TooLarge;
        out->append(raw);
        return m_state;
    }
    QByteArray held;
    if (!m_head.isEmpty()) {
        held = m_head;
        held.append(raw);
        m_head.clear();
        raw = held;
    }
    if (!m_stream->open) {
        int windowBits = 16 + MAX_WBITS; // gzip
        if (m_coding == Coding::Deflate) {
            // "deflate" means a zlib stream, but some servers send the bare
            // deflate data; browsers take both. The first two bytes tell.
            if (raw.size() < 2) {
                m_head = raw.toByteArray();
                return m_state;
            }
            const auto b0 = uchar(raw[0]), b1 = uchar(raw[1]);
            const bool zlibHeader = (b0 & 0x0f) == Z_DEFLATED && (b0 >> 4) <= 7 && (b0 * 256 + b1) % 31 == 0;
            windowBits = zlibHeader ? MAX_WBITS : -MAX_WBITS;
        }
        if (inflateInit2(&m_stream->z, windowBits) != Z_OK)
            return broken(QStringLiteral("the %1 decoder could not start").arg(codingName(m_coding)));
        m_stream->open = true;
    }
    return inflateSome(raw, out);
}

ContentDecoder::State ContentDecoder::inflateSome(QByteArrayView in, QByteArray *out) {
    z_stream &z = m_stream->z;
    char piece[kInflatePiece];
    while (!in.isEmpty()) {
        if (m_ended) {
            // gzip allows members one after another; anything else after
            // the end is not part of the answer.
            if (m_coding == Coding::Gzip && in.size() == 1 && uchar(in[0]) == 0x1f) {
                m_head = in.toByteArray();
                return m_state;
            }
            if (m_coding != Coding::Gzip || !in.startsWith("\x1f\x8b"))
                return broken(QStringLiteral("other bytes follow the end of the %1 data").arg(codingName(m_coding)));
            inflateReset(&z);
            m_ended = false;
        }
        const qsizetype given = std::min(in.size(), kInflateInput);
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        z.avail_in = uInt(given);
        for (;;) {
            z.next_out = reinterpret_cast<Bytef *>(piece);
            z.avail_out = kInflatePiece;
            const int rc = inflate(&z, Z_NO_FLUSH);
            const qsizetype produced = qsizetype(kInflatePiece - z.avail_out);
            if (produced > 0) {
                if (out->size() + produced > m_maxOutput)
                    return m_state = State::TooLarge;
                out->append(piece, produced);
            }
            if (rc == Z_STREAM_END) {
                m_ended = true;
                break;
            }
            if (rc == Z_OK && z.avail_out == 0)
                continue; // more output is waiting
            if ((rc == Z_OK || rc == Z_BUF_ERROR) && z.avail_in == 0)
                break; // all taken: the next bytes go on
            return broken(QStringLiteral("the %1 data is broken (%2)")
                              .arg(codingName(m_coding),
                                   z.msg ? QString::fromLatin1(z.msg) : QStringLiteral("zlib error %1").arg(rc)));
        }
        in = in.sliced(given - qsizetype(z.avail_in));
    }
    return m_state;
}

ContentDecoder::State ContentDecoder::finish() {
    if (m_state != State::Ok || m_coding == Coding::Identity || !m_sawInput)
        return m_state;
    if (!m_ended)
        return broken(QStringLiteral("the %1 data is cut off").arg(codingName(m_coding)));
    if (!m_head.isEmpty())
        return broken(QStringLiteral("other bytes follow the end of the %1 data").arg(codingName(m_coding)));
    return m_state;
}

ContentDecoder::State ContentDecoder::decode(Coding coding, QByteArrayView raw, qint64 maxOutput, QByteArray *out,
                                             QString *why) {
    ContentDecoder decoder(coding, maxOutput);
    State state = decoder.feed(raw, out);
    if (state == State::Ok)
        state = decoder.finish();
    if (why)
        *why = decoder.error();
    return state;
}

} // namespace chenglan
