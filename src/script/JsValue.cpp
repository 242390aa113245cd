#include "script/JsValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace chenglan::js {

namespace {

// Longest array text made here; an array whose items repeat inner arrays
// could otherwise spell out far more than it holds.
constexpr qsizetype MaxTextLength = qsizetype(1) << 24;

const Array &emptyArray() {
    static const Array empty;
    return empty;
}

} // namespace

Value Value::null() {
    Value v;
    v.m_type = Type::Null;
    return v;
}

Value Value::boolean(bool value) {
    Value v;
    v.m_type = Type::Boolean;
    v.m_boolean = value;
    return v;
}

Value Value::number(double value) {
    Value v;
    v.m_type = Type::Number;
    v.m_number = value;
    return v;
}

Value Value::string(QString value) {
    Value v;
    v.m_type = Type::String;
    v.m_string = std::move(value);
    return v;
}

Value Value::array(Array items) {
    Value v;
    v.m_type = Type::Array;
    int depth = 1;
    for (const Value &item : items)
        if (item.isArray())
            depth = std::max(depth, item.arrayDepth() + 1);
    v.m_array = std::make_shared<const ArrayData>(ArrayData{std::move(items), depth});
    return v;
}

Value Value::function() {
    Value v;
    v.m_type = Type::Function;
    return v;
}

Value Value::document() {
    Value v;
    v.m_type = Type::Document;
    return v;
}

const Array &Value::items() const { return m_array ? m_array->items : emptyArray(); }

int Value::arrayDepth() const { return m_array ? m_array->depth : 0; }

bool Value::truthy() const {
    switch (m_type) {
    case Type::Undefined:
    case Type::Null:
        return false;
    case Type::Boolean:
        return m_boolean;
    case Type::Number:
        return m_number != 0 && !std::isnan(m_number);
    case Type::String:
        return !m_string.isEmpty();
    case Type::Array:
    case Type::Function:
    case Type::Document:
        return true;
    }
    return true;
}

Value Value::freshArray() const {
    Value v = *this;
    if (m_array)
        v.m_array = std::make_shared<const ArrayData>(*m_array);
    return v;
}

void appendNumber(QString &out, double value) {
    if (std::isnan(value)) {
        out += u"NaN";
        return;
    }
    if (value == 0) {
        out += u'0'; // also -0
        return;
    }
    if (value < 0) {
        out += u'-';
        value = -value;
    }
    if (std::isinf(value)) {
        out += u"Infinity";
        return;
    }
    if (value < 1e15 && value == std::floor(value)) {
        char16_t digits[16];
        char16_t *first = std::end(digits);
        for (auto v = static_cast<long long>(value); v > 0; v /= 10)
            *--first = char16_t(u'0' + v % 10);
        out.append(QStringView(first, std::end(digits)));
        return;
    }
    char buffer[64];
    // Shortest round-trip digits and the decimal exponent, from the
    // scientific form "d.ddde+x".
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    char digits[32];
    int k = 0;
    const char *c = buffer;
    for (; c < end && *c != 'e'; ++c)
        if (*c != '.')
            digits[k++] = *c;
    int exponent = 0;
    std::from_chars(c + 1 + (c[1] == '+'), end, exponent);
    const int n = exponent + 1; // the decimal point stands after n digits
    auto digit = [&](int i) { out += QChar(char16_t(digits[i])); };
    if (k <= n && n <= 21) {
        for (int i = 0; i < k; ++i)
            digit(i);
        for (int i = k; i < n; ++i)
            out += u'0';
    } else if (0 < n && n <= 21) {
        for (int i = 0; i < n; ++i)
            digit(i);
        out += u'.';
        for (int i = n; i < k; ++i)
            digit(i);
    } else if (-6 < n && n <= 0) {
        out += u"0.";
        for (int i = n; i < 0; ++i)
            out += u'0';
        for (int i = 0; i < k; ++i)
            digit(i);
    } else {
        digit(0);
        if (k > 1) {
            out += u'.';
            for (int i = 1; i < k; ++i)
                digit(i);
        }
        out += n - 1 < 0 ? u"e-" : u"e+";
        out += QString::number(std::abs(n - 1));
    }
}

QString numberToString(double value) {
    QString out;
    appendNumber(out, value);
    return out;
}

bool appendString(QString &out, const Value &value) {
    switch (value.type()) {
    case Value::Type::Undefined:
        out += u"undefined";
        return true;
    case Value::Type::Null:
        out += u"null";
        return true;
    case Value::Type::Boolean:
        out += value.booleanValue() ? u"true" : u"false";
        return true;
    case Value::Type::Number:
        appendNumber(out, value.numberValue());
        return true;
    case Value::Type::String:
        out += value.stringValue();
        return true;
    case Value::Type::Array: {
        bool first = true;
        for (const Value &item : value.items()) {
            if (!first)
                out += u',';
            first = false;
            if (!item.isNullish() && !appendString(out, item))
                return false;
            if (out.size() > MaxTextLength)
                return false;
        }
        return true;
    }
    case Value::Type::Function:
    case Value::Type::Document:
        return false;
    }
    return false;
}

bool appendJson(QString &out, const Value &value) {
    switch (value.type()) {
    case Value::Type::Null:
        out += u"null";
        return true;
    case Value::Type::Boolean:
        out += value.booleanValue() ? u"true" : u"false";
        return true;
    case Value::Type::Number:
        // The engine's JSON.parse reads "-0" as 0.
        if (!std::isfinite(value.numberValue()) || (value.numberValue() == 0 && std::signbit(value.numberValue())))
            return false;
        appendNumber(out, value.numberValue());
        return true;
    case Value::Type::String: {
        out += u'"';
        const QStringView text = value.stringValue();
        qsizetype run = 0; // start of the characters not yet appended
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (c >= 0x20 && c != u'"' && c != u'\\')
                continue;
            out.append(text.sliced(run, i - run));
            run = i + 1;
            if (c >= 0x20) {
                out += u'\\';
                out += QChar(c);
            } else {
                static const char hex[] = "0123456789abcdef";
                out += u"\\u00";
                out += QChar(char16_t(hex[c >> 4]));
                out += QChar(char16_t(hex[c & 15]));
            }
        }
        out.append(text.sliced(run));
        out += u'"';
        return true;
    }
    case Value::Type::Array: {
        out += u'[';
        bool first = true;
        for (const Value &item : value.items()) {
            if (!first)
                out += u',';
            first = false;
            if (!appendJson(out, item))
                return false;
        }
        out += u']';
        return true;
    }
    case Value::Type::Undefined:
    case Value::Type::Function:
    case Value::Type::Document:
        return false;
    }
    return false;
}

} // namespace chenglan::js
