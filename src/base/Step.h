#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>
#include <utility>

namespace chenglan {

// What went wrong in a step, so the window can tell a broken network from a
// changed page layout from a day that really has no match.
enum class FailureKind {
    Data,      // a value could not be read or converted (index, conversion, arithmetic)
    Network,   // the fetch itself failed: refused, reset, timed out, too large
    SiteError, // the site answered, but with an error page
    Layout,    // the page answered, but a marker or field we rely on is missing
    Cancelled, // a newer command took over
};

// Thrown by checked accessors and conversions. A step statement that throws
// is skipped; the cell it would have written keeps its content.
class StepFailure : public std::runtime_error {
public:
    explicit StepFailure(const QString &message, FailureKind kind = FailureKind::Data)
        : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message) {}
    FailureKind kind() const { return m_kind; }
    const QString &message() const { return m_message; }

private:
    FailureKind m_kind;
    QString m_message;
};

// Failures of the skipped statements of one run, kept for the status bar.
struct StepLog {
    struct Entry {
        FailureKind kind;
        QString message;
    };
    QList<Entry> entries;

    void add(FailureKind kind, const QString &message) { entries.append({kind, message}); }
    bool empty() const { return entries.isEmpty(); }
    bool has(FailureKind kind) const {
        for (const auto &e : entries)
            if (e.kind == kind)
                return true;
        return false;
    }
    // The first failure of the given kind, or of any kind when none matches.
    QString first(FailureKind kind) const {
        for (const auto &e : entries)
            if (e.kind == kind)
                return e.message;
        return entries.isEmpty() ? QString() : entries.first().message;
    }
};

// Runs one statement of a step. A StepFailure skips it (recorded in the log
// when one is given) and the caller goes on with the next statement.
// Cancellation is not a skipped statement: it ends the whole job.
template <class F>
bool attempt(F &&statement, StepLog *log = nullptr) {
    try {
        std::forward<F>(statement)();
        return true;
    } catch (const StepFailure &failure) {
        if (failure.kind() == FailureKind::Cancelled)
            throw;
        if (log)
            log->add(failure.kind(), failure.message());
        return false;
    }
}

} // namespace chenglan
