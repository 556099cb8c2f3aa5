// The binary form of the options store (see ElIniCodec.h for its records).
#include "ElIniCodec.h"

#include <array>
#include <cstring>
#include <utility>

namespace cantorell {

namespace {

void PutStreamString(std::string& out, std::string_view text) {
    AppendInt32Le(out, static_cast<int32_t>(text.size()));
    out += text;
}

std::string Payload(const TElIniValue& value) {
    std::string payload;
    switch (value.ValueType) {
    case evtBoolean:
        payload += static_cast<char>(value.BoolValue ? 1 : 0);
        break;
    case evtInteger:
        AppendInt32Le(payload, value.IntValue);
        break;
    case evtString:
    case evtBinary:
        PutStreamString(payload, value.StringValue);
        break;
    case evtMultiString:
        for (const std::string& item : value.MultiValue)
            PutStreamString(payload, item);
        break;
    case evtEightByte:
        payload.append(reinterpret_cast<const char*>(value.EightByte.data()), 8);
        break;
    case evtNone:
        break;
    }
    return payload;
}

void WriteBinaryKey(const TElIniEntry& key, const std::string& path, const TElIniFormat& format,
                    std::string& out) {
    out += '\1';
    PutStreamString(out, path);
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& value = *key.Child(i);
        if (value.ValueType == evtNone)
            continue;
        out += '\0';
        PutStreamString(out, value.Name());
        out += static_cast<char>(value.ValueType);
        const std::string payload = Payload(value);
        AppendInt32Le(out, static_cast<int32_t>(payload.size()));
        out += payload;
    }
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& child = *key.Child(i);
        if (child.IsKey)
            WriteBinaryKey(child,
                           path.empty() ? child.Name() : path + format.Delimiter + child.Name(),
                           format, out);
    }
}

// A text whose length is negative or runs past the end is not read; the target keeps what
// it held and reading goes on after the length.
bool ReadText(std::string_view from, size_t& at, std::string& text) {
    if (from.size() - at < 4)
        return false;
    const int32_t length = Int32LeAt(from.data() + at);
    at += 4;
    if (length < 0 || static_cast<size_t>(length) > from.size() - at)
        return false;
    text.assign(from.substr(at, static_cast<size_t>(length)));
    at += static_cast<size_t>(length);
    return true;
}

// Reads the records of one binary input into a tree, front to back.
class TBinaryReader {
public:
    TBinaryReader(std::string_view bytes, const TElIniFormat& format, const std::string& source,
                  TElIniTree& tree)
        : Bytes(bytes), Format(format), Source(source), Tree(tree), Section(&tree.Root()) {}

    void Run() {
        try {
            while (Pos < Bytes.size()) {
                if (ReadByte() == 1) {
                    Finish();
                    ReadKeyRecord();
                } else {
                    ReadValueRecord();
                }
            }
        } catch (...) {
            // The records before a damaged one are kept.
            Finish();
            throw;
        }
        Finish();
    }

private:
    [[noreturn]] void Fail(const char* what) const {
        throw EElFileError("The options file \"" + Source + "\" " + what + " at byte " +
                           std::to_string(Pos));
    }
    void Need(size_t count) const {
        if (Bytes.size() - Pos < count)
            Fail("ends inside a record");
    }
    uint8_t ReadByte() {
        Need(1);
        return static_cast<uint8_t>(Bytes[Pos++]);
    }
    int32_t ReadInt32() {
        Need(4);
        const int32_t value = Int32LeAt(Bytes.data() + Pos);
        Pos += 4;
        return value;
    }

    void ReadKeyRecord() {
        std::string path;
        if (!ReadText(Bytes, Pos, path) && Pos > Bytes.size())
            Fail("ends inside a record");
        if (!path.empty() && path.front() != Format.Delimiter)
            path.insert(path.begin(), Format.Delimiter);
        // Until the next key record, the values of a key that cannot be opened are skipped.
        Section = Tree.OpenSection(path);
    }

    void ReadValueRecord() {
        std::string name;
        ReadText(Bytes, Pos, name);
        const uint8_t type = ReadByte();
        const int32_t length = ReadInt32();
        if (length < 0)
            Fail("has a negative record length");
        Need(static_cast<size_t>(length));
        const std::string_view payload = Bytes.substr(Pos, static_cast<size_t>(length));
        Pos += static_cast<size_t>(length);
        if (Section == nullptr || type < evtBoolean || type > evtEightByte)
            return;
        // The payload is checked before the entry is touched, so a damaged record changes
        // nothing.
        CheckPayload(static_cast<TElValueType>(type), payload);
        TRecord& record = Records[Count];
        record.Name = std::move(name);
        record.Type = static_cast<TElValueType>(type);
        record.Payload = payload;
        if (++Count == Records.size())
            Flush();
    }

    // The value records of a key are gathered a few at a time, their entries found
    // together (see FindOrAddChildren), and then given their values in record order.
    void Flush() { AssignValueBatch(Section, Records, Count, &AssignRecord); }
    // Flush, and the key's values settled: the reader leaves the key.
    void Finish() { FinishValueBatch(Section, Records, Count, &AssignRecord); }

    void CheckPayload(TElValueType type, std::string_view payload) const {
        static constexpr size_t fixedSizes[] = {0, 1, 4, 0, 0, 4, 8};
        if (payload.size() < fixedSizes[type])
            Fail("has a value record too short for its type");
        if (type != evtBinary)
            return;
        const int32_t size = Int32LeAt(payload.data());
        if (size < 0 || static_cast<size_t>(size) > payload.size() - 4)
            Fail("has a byte block longer than its record");
    }

    static void Assign(TElIniEntry& entry, TElValueType type, std::string_view payload) {
        if (type == evtMultiString) {
            // A second list record of the name appends its items.
            if (entry.ValueType != evtMultiString) {
                entry.ClearValue();
                entry.ValueType = evtMultiString;
            }
            size_t at = 0;
            std::string item;
            while (at < payload.size() && ReadText(payload, at, item))
                entry.MultiValue.push_back(item);
            return;
        }
        entry.ClearValue();
        entry.ValueType = type;
        size_t at = 0;
        switch (type) {
        case evtBoolean:
            entry.BoolValue = payload[0] != 0;
            break;
        case evtInteger:
            entry.IntValue = Int32LeAt(payload.data());
            break;
        case evtString:
            ReadText(payload, at, entry.StringValue);
            break;
        case evtBinary:
            entry.StringValue.assign(
                payload.substr(4, static_cast<size_t>(Int32LeAt(payload.data()))));
            break;
        case evtEightByte:
            std::memcpy(entry.EightByte.data(), payload.data(), 8);
            break;
        default:
            break;
        }
    }

    struct TRecord {
        std::string Name;
        TElValueType Type = evtNone;
        std::string_view Payload;
    };
    static void AssignRecord(TElIniEntry& entry, TRecord& record) {
        Assign(entry, record.Type, record.Payload);
    }
    static constexpr size_t BatchSize = 64;

    std::string_view Bytes;
    const TElIniFormat& Format;
    const std::string& Source;
    TElIniTree& Tree;
    TElIniEntry* Section;
    size_t Pos = 0;
    std::array<TRecord, BatchSize> Records;
    size_t Count = 0;
};

} // namespace

std::string WriteIniBinary(const TElIniEntry& root, const TElIniFormat& format) {
    std::string out;
    WriteBinaryKey(root, std::string(), format, out);
    return out;
}

void ReadIniBinary(std::string_view bytes, const TElIniFormat& format, const std::string& source,
                   TElIniTree& tree) {
    const TElIniTree::TKeyBudget budget(tree, bytes.size());
    TBinaryReader(bytes, format, source, tree).Run();
}

} // namespace cantorell
