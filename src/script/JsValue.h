#pragma once

#include <QList>
#include <QString>

#include <memory>

namespace chenglan::js {

class Value;
using Array = QList<Value>;

// A value of the plain script subset that runs without an engine: the
// primitives, arrays that are never changed once made, and two opaque kinds
// that only the engine can work with (a declared function, the document).
class Value {
public:
    enum class Type : quint8 { Undefined, Null, Boolean, Number, String, Array, Function, Document };

    Value() = default;
    static Value null();
    static Value boolean(bool value);
    static Value number(double value);
    static Value string(QString value);
    static Value array(Array items);
    static Value function();
    static Value document();

    Type type() const { return m_type; }
    bool isNumber() const { return m_type == Type::Number; }
    bool isString() const { return m_type == Type::String; }
    bool isArray() const { return m_type == Type::Array; }
    bool isNullish() const { return m_type == Type::Undefined || m_type == Type::Null; }

    bool booleanValue() const { return m_boolean; }
    double numberValue() const { return m_number; }
    const QString &stringValue() const { return m_string; }
    const Array &items() const;
    // 1 for an array of no arrays, one more for each level of arrays inside.
    int arrayDepth() const;

    // ToBoolean.
    bool truthy() const;
    // The same array object (arrays compare by identity).
    bool sameArray(const Value &other) const { return m_array == other.m_array; }
    // A new array object with the same items, as a literal evaluated again.
    Value freshArray() const;

private:
    Type m_type = Type::Undefined;
    bool m_boolean = false;
    double m_number = 0;
    QString m_string;
    struct ArrayData {
        Array items;
        int depth = 1;
    };
    std::shared_ptr<const ArrayData> m_array;
};

// Number::toString(10): the shortest digits that read back as the same
// number, in plain or exponent form as the script language writes them.
QString numberToString(double value);
void appendNumber(QString &out, double value);

// Appends ToString(value) where it needs no page code: arrays join their
// items with "," (undefined and null items as nothing). False, with out
// unspecified, for a function or the document, whose text the engine makes,
// and for an array whose text would pass 16 Mi characters.
bool appendString(QString &out, const Value &value);

// The value as JSON text, for plain data: numbers, strings, booleans, null
// and arrays of them. False for anything else, for numbers JSON cannot
// write (NaN, the infinities) and for -0, which the engine's JSON.parse
// reads as 0.
bool appendJson(QString &out, const Value &value);

} // namespace chenglan::js
