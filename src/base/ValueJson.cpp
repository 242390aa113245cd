#include "base/ValueJson.h"

namespace chenglan {

QJsonValue toJson(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Empty:
        return QJsonValue::Null;
    case Value::Kind::Text:
        return value.text();
    case Value::Kind::Double:
    case Value::Kind::Int16:
        return value.number();
    case Value::Kind::Date:
        return value.asDate()->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return QJsonValue::Null;
}

QJsonValue toJson(const Table &table) {
    if (!table.allocated())
        return QJsonValue::Null;
    QJsonArray rows;
    for (int r = 0; r < table.rows(); ++r) {
        QJsonArray row;
        for (int c = 0; c < table.columns(); ++c)
            row.append(toJson(table.at(c, r)));
        rows.append(row);
    }
    return rows;
}

QJsonValue toJson(const ValueArray &array) {
    if (!array.allocated())
        return QJsonValue::Null;
    QJsonArray out;
    for (int i = 0; i < array.size(); ++i)
        out.append(toJson(array.at(i)));
    return out;
}

} // namespace chenglan
