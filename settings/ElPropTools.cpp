#include "settings/ElPropTools.h"

#include "settings/ElCollection.h"
#include "settings/ElIni.h"

#include <QMetaEnum>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace cantorell {

namespace {

const QString NameProperty = QStringLiteral("Name");
constexpr const char* ObjectNameProperty = "objectName";

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsObjectPointer(const QMetaProperty& property) {
    return (property.metaType().flags() & QMetaType::PointerToQObject) != 0;
}

bool IsStringList(const QMetaProperty& property) {
    return property.metaType().id() == QMetaType::QStringList;
}

TPropInfo MakeInfo(const QMetaProperty& property) {
    TPropInfo info;
    info.Meta = property;
    info.Name = std::strcmp(property.name(), ObjectNameProperty) == 0
                    ? NameProperty
                    : QString::fromLatin1(property.name());
    info.Kind = PropKind(property);
    return info;
}

// The signed integer of type T stored at `data`, as the 32 bits an enumeration keeps.
template <class T> int32_t SignedAt(const void* data) {
    T v;
    std::memcpy(&v, data, sizeof v);
    return static_cast<int32_t>(v);
}

// Stores `value` at `data` as the signed integer of type T an enumeration of that width is.
template <class T> void PutSigned(void* data, int32_t value) {
    const auto v = static_cast<T>(value);
    std::memcpy(data, &v, sizeof v);
}

// Calls `act` with a zero of the signed integer type that is `size` bytes wide, the type
// an enumeration of that width is stored as; false for any other width.
template <class TAct> bool WithSignedOfWidth(qsizetype size, TAct act) {
    const auto tryType = [&](auto zero) {
        if (size != static_cast<qsizetype>(sizeof zero))
            return false;
        act(zero);
        return true;
    };
    return tryType(int8_t{}) || tryType(int16_t{}) || tryType(int32_t{}) || tryType(int64_t{});
}

// The integer an enumeration or set value holds, whatever its width.
std::optional<int32_t> EnumValue(const QVariant& value) {
    std::optional<int32_t> result;
    WithSignedOfWidth(value.metaType().sizeOf(),
                      [&](auto zero) { result = SignedAt<decltype(zero)>(value.constData()); });
    return result;
}

// A variant of the property's own enumeration type holding `value`.
std::optional<QVariant> MakeEnumValue(const QMetaType& type, int32_t value) {
    alignas(8) unsigned char buffer[8] = {};
    if (!WithSignedOfWidth(type.sizeOf(),
                           [&](auto zero) { PutSigned<decltype(zero)>(buffer, value); }))
        return std::nullopt;
    return QVariant(type, buffer);
}

template <typename T> std::optional<QVariant> InRange(int32_t value) {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return std::nullopt;
    return QVariant::fromValue(static_cast<T>(value));
}

// Objects on the path from the walk's start: an object that refers back to one of them
// is skipped, so a cycle of references cannot recurse without end.
using TWalkPath = std::vector<const QObject*>;

bool OnPath(const TWalkPath& path, const QObject* object) {
    return std::find(path.begin(), path.end(), object) != path.end();
}

// One way of a walk: what it does with each kind of property. Saving also creates the keys
// it opens; loading only opens those that exist.
struct TWalkWay {
    bool CreatesKeys;
    void (*Ordinal)(QObject*, const TPropInfo&, TElIniFile&);
    void (*String)(QObject*, const TPropInfo&, TElIniFile&);
    void (*StringList)(QObject*, const TPropInfo&, TElIniFile&);
};

const TWalkWay Saving{true, SaveOrdProperty, SaveStrProperty, SaveStringListProperty};
const TWalkWay Loading{false, LoadOrdProperty, LoadStrProperty, LoadStringListProperty};

void WalkObject(QObject* instance, TElIniFile& store, TWalkPath& path, const TWalkWay& way);

// A collection's items are stored under its key as the subkeys "Item0", "Item1", ...
void WalkCollectionOn(TElCollection* collection, const std::string& keyName, TElIniFile& store,
                      TWalkPath& path, const TWalkWay& way) {
    const TElIniKeyKeeper outer(store);
    if (!store.OpenKey(keyName, way.CreatesKeys))
        return;
    for (int i = 0; i < collection->Count(); ++i) {
        const TElIniKeyKeeper inner(store);
        if (store.OpenKey("Item" + std::to_string(i), way.CreatesKeys))
            WalkObject(collection->Item(i), store, path, way);
    }
}

void WalkClassProperty(QObject* instance, const TPropInfo& property, TElIniFile& store,
                       TWalkPath& path, const TWalkWay& way) {
    if (IsStringList(property.Meta)) {
        way.StringList(instance, property, store);
        return;
    }
    QObject* object = property.Meta.read(instance).value<QObject*>();
    if (object == nullptr || OnPath(path, object))
        return;
    const std::string name = Utf8(property.Name);
    if (auto* collection = qobject_cast<TElCollection*>(object)) {
        WalkCollectionOn(collection, name, store, path, way);
        return;
    }
    const TElIniKeyKeeper keeper(store);
    if (store.OpenKey(name, way.CreatesKeys))
        WalkObject(object, store, path, way);
}

void WalkObject(QObject* instance, TElIniFile& store, TWalkPath& path, const TWalkWay& way) {
    if (instance == nullptr || OnPath(path, instance))
        return;
    path.push_back(instance);
    for (const TPropInfo& property : PropertyList(*instance)) {
        switch (property.Kind) {
        case TPropKind::pkInteger:
        case TPropKind::pkEnumeration:
        case TPropKind::pkSet:
            way.Ordinal(instance, property, store);
            break;
        case TPropKind::pkString:
            way.String(instance, property, store);
            break;
        case TPropKind::pkClass:
            WalkClassProperty(instance, property, store, path, way);
            break;
        case TPropKind::pkFloat:
        case TPropKind::pkOther:
            break;
        }
    }
    path.pop_back();
}

} // namespace

TPropKind PropKind(const QMetaProperty& property) {
    if (property.isEnumType())
        return property.isFlagType() ? TPropKind::pkSet : TPropKind::pkEnumeration;
    switch (property.metaType().id()) {
    case QMetaType::Bool:
        return TPropKind::pkEnumeration;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return TPropKind::pkInteger;
    case QMetaType::QString:
        return TPropKind::pkString;
    case QMetaType::QStringList:
        return TPropKind::pkClass;
    case QMetaType::Double:
    case QMetaType::Float:
        return TPropKind::pkFloat;
    default:
        return IsObjectPointer(property) ? TPropKind::pkClass : TPropKind::pkOther;
    }
}

std::optional<TPropInfo> FindProperty(const QObject& instance, const QString& name) {
    const QMetaObject* meta = instance.metaObject();
    if (name == NameProperty)
        return MakeInfo(meta->property(meta->indexOfProperty(ObjectNameProperty)));
    const int exact = meta->indexOfProperty(name.toLatin1().constData());
    if (exact >= 0)
        return MakeInfo(meta->property(exact));
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const TPropInfo info = MakeInfo(meta->property(i));
        if (info.Name.compare(name, Qt::CaseInsensitive) == 0)
            return info;
    }
    return std::nullopt;
}

bool PropNameLess(const QString& a, const QString& b) {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t ca = a[i].unicode() & ~char16_t{0x20};
        const char16_t cb = b[i].unicode() & ~char16_t{0x20};
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

std::vector<TPropInfo> PropertyList(const QObject& instance) {
    const QMetaObject* meta = instance.metaObject();
    std::vector<TPropInfo> list;
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (!property.isReadable())
            continue;
        TPropInfo info = MakeInfo(property);
        if (info.Kind == TPropKind::pkOther || info.Kind == TPropKind::pkFloat)
            continue;
        // A value that could never be loaded back is not written either; an object
        // reference is only followed, never assigned.
        if (!property.isWritable() && !IsObjectPointer(property))
            continue;
        list.push_back(std::move(info));
    }
    std::stable_sort(list.begin(), list.end(), [](const TPropInfo& a, const TPropInfo& b) {
        return PropNameLess(a.Name, b.Name);
    });
    return list;
}

std::optional<int32_t> ReadOrdinal(const QObject& instance, const TPropInfo& property) {
    const QVariant value = property.Meta.read(&instance);
    if (!value.isValid())
        return std::nullopt;
    if (property.Meta.isEnumType())
        return EnumValue(value);
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::UInt:
        return static_cast<int32_t>(value.toUInt());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return value.toInt();
    default:
        return std::nullopt;
    }
}

bool WriteOrdinal(QObject& instance, const TPropInfo& property, int32_t value) {
    const QMetaProperty& meta = property.Meta;
    if (!meta.isWritable())
        return false;
    std::optional<QVariant> variant;
    if (meta.isEnumType()) {
        const QMetaEnum enumerator = meta.enumerator();
        if (enumerator.isValid()) {
            if (meta.isFlagType()) {
                int known = 0;
                for (int i = 0; i < enumerator.keyCount(); ++i)
                    known |= enumerator.value(i);
                if ((value & ~known) != 0)
                    return false;
            } else if (enumerator.valueToKey(value) == nullptr) {
                return false;
            }
        }
        variant = MakeEnumValue(meta.metaType(), value);
    } else {
        switch (meta.metaType().id()) {
        case QMetaType::Bool:
            if (value == 0 || value == 1)
                variant = QVariant(value == 1);
            break;
        case QMetaType::Int:
            variant = QVariant(value);
            break;
        case QMetaType::UInt:
            variant = QVariant(static_cast<uint>(value));
            break;
        case QMetaType::Short:
            variant = InRange<short>(value);
            break;
        case QMetaType::UShort:
            variant = InRange<unsigned short>(value);
            break;
        case QMetaType::SChar:
            variant = InRange<signed char>(value);
            break;
        case QMetaType::UChar:
            variant = InRange<unsigned char>(value);
            break;
        default:
            break;
        }
    }
    return variant && meta.write(&instance, *variant);
}

void SaveOrdProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    if (const auto value = ReadOrdinal(*instance, property))
        store.WriteInteger("", Utf8(property.Name), *value);
}

void LoadOrdProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    const auto current = ReadOrdinal(*instance, property);
    if (!current)
        return;
    int32_t value = *current;
    store.ReadInteger("", Utf8(property.Name), *current, value);
    WriteOrdinal(*instance, property, value);
}

void SaveStrProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    store.WriteString("", Utf8(property.Name), Utf8(property.Meta.read(instance).toString()));
}

void LoadStrProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    if (!property.Meta.isWritable())
        return;
    const std::string current = Utf8(property.Meta.read(instance).toString());
    std::string value;
    store.ReadString("", Utf8(property.Name), current, value);
    const QString text = FromUtf8(value);
    if (property.Name == NameProperty && !IsValidComponentName(text))
        return;
    property.Meta.write(instance, text);
}

void SaveFloatProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    const TExtended bytes = DoubleToExtended(property.Meta.read(instance).toDouble());
    store.WriteBinary("", Utf8(property.Name), bytes.data(), static_cast<int32_t>(bytes.size()));
}

void LoadFloatProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    if (!property.Meta.isWritable())
        return;
    TExtended bytes{};
    int32_t size = static_cast<int32_t>(bytes.size());
    if (!store.ReadBinary("", Utf8(property.Name), bytes.data(), size) ||
        size != static_cast<int32_t>(bytes.size()))
        return;
    QVariant value(ExtendedToDouble(bytes));
    if (property.Meta.metaType().id() == QMetaType::Float)
        value = QVariant(static_cast<float>(value.toDouble()));
    property.Meta.write(instance, value);
}

void SaveStringListProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    TStrings lines;
    for (const QString& line : property.Meta.read(instance).toStringList())
        lines.push_back(Utf8(line));
    store.WriteMultiString("", Utf8(property.Name), lines);
}

void LoadStringListProperty(QObject* instance, const TPropInfo& property, TElIniFile& store) {
    if (!property.Meta.isWritable())
        return;
    TStrings lines;
    if (!store.ReadMultiString("", Utf8(property.Name), lines))
        return;
    QStringList list;
    for (const std::string& line : lines)
        list.append(FromUtf8(line));
    property.Meta.write(instance, list);
}

void SaveObject(QObject* instance, TElIniFile& store) {
    TWalkPath path;
    WalkObject(instance, store, path, Saving);
}

void LoadObject(QObject* instance, TElIniFile& store) {
    TWalkPath path;
    WalkObject(instance, store, path, Loading);
}

void SaveCollection(TElCollection* collection, const std::string& keyName, TElIniFile& store) {
    if (collection == nullptr)
        return;
    TWalkPath path{collection};
    WalkCollectionOn(collection, keyName, store, path, Saving);
}

void LoadCollection(TElCollection* collection, const std::string& keyName, TElIniFile& store) {
    if (collection == nullptr)
        return;
    TWalkPath path{collection};
    WalkCollectionOn(collection, keyName, store, path, Loading);
}

// ---------------------------------------------------------------------------------------
// 80-bit extended numbers

namespace {

constexpr int DoubleBias = 1023;
constexpr int ExtendedBias = 16383;
constexpr uint64_t IntegerBit = uint64_t{1} << 63;
constexpr uint64_t DoubleFraction = (uint64_t{1} << 52) - 1;

} // namespace

TExtended DoubleToExtended(double value) {
    const auto bits = std::bit_cast<uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & DoubleFraction;

    uint64_t significand = 0;
    int biased = 0;
    if (exponent == 0x7FF) { // infinity (no fraction) or NaN (its payload kept)
        biased = 0x7FFF;
        significand = IntegerBit | (fraction << 11);
    } else if (exponent == 0 && fraction == 0) {
        biased = 0;
    } else if (exponent == 0) { // a subnormal double is a normal extended number
        const int shift = std::countl_zero(fraction);
        significand = fraction << shift;
        biased = ExtendedBias + 63 - 1074 - shift;
    } else {
        significand = IntegerBit | (fraction << 11);
        biased = exponent - DoubleBias + ExtendedBias;
    }

    TExtended bytes{};
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(significand >> (8 * i));
    const auto top = static_cast<uint16_t>((negative ? 0x8000 : 0) | biased);
    bytes[8] = static_cast<uint8_t>(top);
    bytes[9] = static_cast<uint8_t>(top >> 8);
    return bytes;
}

double ExtendedToDouble(const TExtended& bytes) {
    uint64_t significand = 0;
    for (int i = 7; i >= 0; --i)
        significand = (significand << 8) | bytes[static_cast<size_t>(i)];
    const auto top = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
    const bool negative = (top & 0x8000) != 0;
    const int biased = top & 0x7FFF;

    double magnitude = 0;
    if (biased == 0x7FFF) {
        if ((significand & ~IntegerBit) == 0) {
            magnitude = std::numeric_limits<double>::infinity();
        } else {
            // A NaN keeps the top of its payload; one whose payload would vanish becomes
            // the quiet NaN.
            uint64_t fraction = (significand >> 11) & DoubleFraction;
            if (fraction == 0)
                fraction = uint64_t{1} << 51;
            const uint64_t nan = (negative ? IntegerBit : 0) | (uint64_t{0x7FF} << 52) | fraction;
            return std::bit_cast<double>(nan);
        }
    } else if (significand != 0) {
        // Extended denormals (biased exponent 0) use the exponent of the smallest normal.
        const int exponent = (biased == 0 ? 1 : biased) - ExtendedBias - 63;
        magnitude = std::ldexp(static_cast<double>(significand), exponent);
    }
    return negative ? -magnitude : magnitude;
}

bool IsValidComponentName(const QString& name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!(letter || (digit && i > 0)))
            return false;
    }
    return true;
}

} // namespace cantorell
