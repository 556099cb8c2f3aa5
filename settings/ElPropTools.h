// Published-property persistence: writes the published properties of any QObject into
// the options store (TElIniFile) and reads them back.
//
// Published properties are the object's Q_PROPERTY declarations, inherited ones included;
// QObject's objectName takes part under the name "Name". Each simple value is stored in
// the store's current key under the property's own name:
//
//   integer (8 to 32 bits)    integer value
//   enumeration, Boolean      integer value: the enumerator's value (false 0, true 1)
//   set (Q_FLAG)              integer value: the bit mask
//   text (QString)            string value
//   string list (QStringList) multi-string value
//   object (QObject*)         a subkey named after the property holding the object's own
//                             properties; a TElCollection becomes a subkey with one subkey
//                             per item, "Item0", "Item1", ... ; a null object is skipped
//   float (double)            only through the single-property operations: a 10-byte
//                             binary value in the 80-bit extended layout (8 bytes of
//                             significand with its explicit integer bit, then the sign bit
//                             and the 15-bit exponent biased by 16383; little-endian)
//
// Other kinds (characters, 64-bit integers, variants, ...) are not stored. The whole-object
// walk visits the properties sorted by name, comparing names with bit 0x20 of every
// character cleared and a prefix first, so that a store written by another build of the
// same classes lists its values in the same order.
//
// Every descent into a subkey remembers the store's current key and opens it again
// afterwards, also when the descent failed: callers find the current key unchanged.
//
// A load assigns only values that the property can take: a read-only property, an
// enumeration value with no enumerator, a set with unknown bits, a number that does not
// fit the property, or a "Name" that is not an identifier leave the property as it was.
// A hand-edited options file can therefore never make an object inconsistent.
#pragma once

#include <QMetaProperty>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace cantorell {

class TElCollection;
class TElIniFile;

enum class TPropKind {
    pkInteger,
    pkEnumeration, // Booleans included
    pkSet,
    pkString,
    pkClass, // object references and string lists
    pkFloat,
    pkOther // never stored
};

// One published property of an object.
struct TPropInfo {
    QMetaProperty Meta;
    QString Name; // "Name" for objectName
    TPropKind Kind = TPropKind::pkOther;
};

// The kind a property is stored as.
TPropKind PropKind(const QMetaProperty& property);
// One published property by name: the exact name first, then ignoring ASCII case.
std::optional<TPropInfo> FindProperty(const QObject& instance, const QString& name);
// The properties the whole-object walk visits, in the walk's order.
std::vector<TPropInfo> PropertyList(const QObject& instance);
// The walk's name order: true when `a` comes before `b`.
bool PropNameLess(const QString& a, const QString& b);

void SaveObject(QObject* instance, TElIniFile& store);
void LoadObject(QObject* instance, TElIniFile& store);
void SaveCollection(TElCollection* collection, const std::string& keyName, TElIniFile& store);
// Loads only the items the collection has; no item is added or removed.
void LoadCollection(TElCollection* collection, const std::string& keyName, TElIniFile& store);

void SaveOrdProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
void LoadOrdProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
void SaveStrProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
void LoadStrProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
void SaveFloatProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
// Applied only when the stored value is exactly 10 bytes long.
void LoadFloatProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
// String lists: a multi-string value; a missing value leaves the list as it is.
void SaveStringListProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);
void LoadStringListProperty(QObject* instance, const TPropInfo& property, TElIniFile& store);

// The property's value as an ordinal, if it has one.
std::optional<int32_t> ReadOrdinal(const QObject& instance, const TPropInfo& property);
// Assigns an ordinal when the property can take it; false otherwise.
bool WriteOrdinal(QObject& instance, const TPropInfo& property, int32_t value);

// The 80-bit extended layout, made bit by bit, so that it does not depend on the
// compiler's long double. Every double converts exactly; a value beyond a double's range
// becomes infinity or zero (keeping its sign), a NaN stays a NaN.
using TExtended = std::array<uint8_t, 10>;
TExtended DoubleToExtended(double value);
double ExtendedToDouble(const TExtended& bytes);

// Whether `name` may name a component: a letter or "_", then letters, digits and "_"; the
// empty name is allowed.
bool IsValidComponentName(const QString& name);

} // namespace cantorell
