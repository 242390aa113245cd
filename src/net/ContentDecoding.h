#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace chenglan {

// The Accept-Encoding the client sends. It undoes these codings itself, as
// the bytes arrive, so that what they inflate to is bounded like a plain body.
inline constexpr char kAcceptedEncodings[] = "gzip, deflate";

// Undoes the Content-Encoding of one answer, fed the raw body piece by piece.
// Output past maxOutput stops it at once (a small body may inflate to
// gigabytes); a stream that is broken, cut off, or followed by other bytes
// fails it.
class ContentDecoder {
public:
    enum class Coding { Identity, Gzip, Deflate };
    enum class State { Ok, TooLarge, Broken };

    // The coding a Content-Encoding value names ("gzip", "x-gzip", "deflate",
    // "identity" or nothing); none for any other value, or for more than one
    // coding.
    static std::optional<Coding> codingFor(QByteArrayView contentEncoding);

    ContentDecoder(Coding coding, qint64 maxOutput);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder &) = delete;
    ContentDecoder &operator=(const ContentDecoder &) = delete;

    Coding coding() const { return m_coding; }
    // Decodes the next raw bytes, appending the result to *out. Once not Ok,
    // it stays so.
    State feed(QByteArrayView raw, QByteArray *out);
    // After the last raw byte: Broken when the stream did not end.
    State finish();
    // Why it broke ("the gzip data is cut off", ...).
    const QString &error() const { return m_error; }

    // The whole body at once, for tests and tools.
    static State decode(Coding coding, QByteArrayView raw, qint64 maxOutput, QByteArray *out, QString *why = nullptr);

private:
    struct Stream;
    State inflateSome(QByteArrayView raw, QByteArray *out);
    State broken(const QString &why);

    Coding m_coding;
    qint64 m_maxOutput;
    State m_state = State::Ok;
    QString m_error;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_head;     // the first raw bytes of a deflate body, until its form is known
    bool m_ended = false;  // the compressed stream came to its end
    bool m_sawInput = false;
};

} // namespace chenglan
