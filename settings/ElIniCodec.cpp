#include "ElIniCodec.h"

#include "platform/Ascii.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace cantorell {

namespace {

constexpr std::string_view kBinaryTextPrefix = "454C";

// A token of a binary text: an optional "$", an optional sign, one or more hex digits.
bool ParseHexToken(std::string_view token, int64_t& value) {
    size_t i = 0;
    if (i < token.size() && token[i] == '$')
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '-' || token[i] == '+'))
        negative = token[i++] == '-';
    if (i == token.size())
        return false;
    uint64_t result = 0;
    for (; i < token.size(); ++i) {
        const int digit = HexDigitValue(token[i]);
        if (digit < 0)
            return false;
        result = std::min<uint64_t>(result * 16 + static_cast<uint64_t>(digit), 0xFFFFFFFFull);
    }
    value = negative ? -static_cast<int64_t>(result) : static_cast<int64_t>(result);
    return true;
}

void AppendLine(std::string& out, std::string_view text) {
    out += text;
    if (!text.ends_with("\r\n"))
        out += "\r\n";
}

// A decimal integer written the way the writer writes one: an optional "-", no leading
// zero, no "+", no blank, no "-0", within the signed 32-bit range.
bool IsCanonicalInteger(std::string_view text, int32_t& value) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 10 || (digits.front() == '0' && digits.size() > 1) ||
        (negative && digits == "0"))
        return false;
    int64_t result = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    if (negative)
        result = -result;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

} // namespace

void AppendInt32Le(std::string& out, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((u >> (8 * i)) & 0xFF);
}

int32_t Int32LeAt(const char* bytes) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    return static_cast<int32_t>(u);
}

std::string BinaryToText(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(kBinaryTextPrefix);
    text += ' ';
    char length[16];
    const int n = std::snprintf(length, sizeof length, "%zX", bytes.size());
    text.append(length, static_cast<size_t>(n));
    text += ' ';
    text.reserve(text.size() + bytes.size() * 3);
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

std::string TextToBinary(std::string_view text) {
    text.remove_prefix(std::min<size_t>(5, text.size()));
    size_t blank = text.find(' ');
    int64_t length = 0;
    if (!ParseHexToken(text.substr(0, blank), length) || length < 0)
        length = 0;
    std::string bytes;
    // Only the byte tokens that are really there are taken, whatever the length says.
    size_t pos = blank == std::string_view::npos ? text.size() : blank + 1;
    while (static_cast<int64_t>(bytes.size()) < length && pos < text.size()) {
        blank = text.find(' ', pos);
        const std::string_view token = text.substr(pos, blank - pos);
        int64_t value = 0;
        // A damaged token still takes its place, as a zero byte.
        bytes += static_cast<char>(ParseHexToken(token, value) ? value & 0xFF : 0);
        pos = blank == std::string_view::npos ? text.size() : blank + 1;
    }
    return bytes;
}

bool TextToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i == text.size())
        return false;
    uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const int digit = base == 16 ? HexDigitValue(text[i])
                                     : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0)
            return false;
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (result > 0xFFFFFFFFull)
            return false;
    }
    if (base == 10) {
        if (result > (negative ? 0x80000000ull : 0x7FFFFFFFull))
            return false;
        value = static_cast<int32_t>(negative ? -static_cast<int64_t>(result)
                                              : static_cast<int64_t>(result));
    } else {
        // Hexadecimal covers the 32 bits, so $FFFFFFFF is -1.
        const auto bits = static_cast<uint32_t>(result);
        value = static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    return true;
}

// --- Text form ---------------------------------------------------------------------------

// This loop runs for every byte of every options file read. Its speed moved by several
// percent with where other code happened to place it (the same instructions, 16 bytes on),
// so its start is put on a 64-byte boundary, where it runs at its best.
[[gnu::aligned(64)]] bool SplitIniLine(std::string_view line, const TElIniFormat& format,
                                       std::string& name, std::string& value) {
    name.clear();
    value.clear();
    bool quoted = false;
    bool separated = false;
    const std::string& comment = format.Comment;
    const char commentStart = comment.empty() ? '\0' : comment.front();
    // Plain runs of characters are copied in one piece; only quotes, the separator and the
    // comment string's first character need a look.
    size_t run = 0;
    auto flush = [&](size_t end) {
        (separated ? value : name).append(line.substr(run, end - run));
        run = end;
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            continue;
        }
        if (c != '"' && c != format.DivChar && (comment.empty() || c != commentStart))
            continue;
        if (c == '"')
            quoted = true;
        if (!comment.empty() && c == commentStart &&
            line.compare(i, comment.size(), comment) == 0) {
            flush(i);
            return separated;
        }
        if (!quoted && !separated && c == format.DivChar) {
            flush(i);
            separated = true;
            run = i + 1; // the separator itself is dropped
        }
    }
    flush(line.size());
    return separated;
}

namespace {

// Cuts a list item's "[index]" off `name`: true when the index makes the line a list item.
// The index only tells it is a list; items keep the order of their lines.
bool CutListIndex(std::string& name) {
    if (name.empty() || name.back() != ']')
        return false;
    const size_t open = name.find('[');
    const size_t close = name.find(']');
    const size_t start = open == std::string::npos ? 0 : open + 1;
    int32_t index = -1;
    const bool listItem = close >= start &&
                          TextToInt(std::string_view(name).substr(start, close - start), index) &&
                          index != -1;
    name.resize(open == std::string::npos ? 0 : open);
    return listItem;
}

// Gives `entry` the value a plain line's text stands for.
void AssignFromText(TElIniEntry& entry, std::string&& value) {
    entry.ClearValue();
    int32_t number = 0;
    if (SameIgnoringAsciiCase(value, "TRUE") || SameIgnoringAsciiCase(value, "FALSE")) {
        entry.ValueType = evtBoolean;
        entry.BoolValue = SameIgnoringAsciiCase(value, "TRUE");
    } else if (value == "0.0") {
        entry.ValueType = evtEightByte;
    } else if (IsCanonicalInteger(value, number)) {
        entry.ValueType = evtInteger;
        entry.IntValue = number;
    } else if (value.starts_with(kBinaryTextPrefix)) {
        entry.ValueType = evtBinary;
        entry.StringValue = TextToBinary(value);
    } else {
        entry.ValueType = evtString;
        entry.StringValue = std::move(value);
    }
}

// Appends `item` to the entry's list, making the entry a list first if it is none.
void AppendListItem(TElIniEntry& entry, std::string&& item) {
    if (entry.ValueType != evtMultiString) {
        entry.ClearValue();
        entry.ValueType = evtMultiString;
    }
    entry.MultiValue.push_back(std::move(item));
}

// The next line of `text` from `pos`, which moves past the line's end.
std::string_view NextLine(std::string_view text, size_t& pos) {
    const size_t end = text.find_first_of("\r\n", pos);
    const std::string_view line = text.substr(pos, end - pos);
    if (end == std::string_view::npos)
        pos = text.size();
    else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
        pos = end + 2;
    else
        pos = end + 1;
    return line;
}

// Reads the text form into a tree, front to back. The named value lines of a section are
// gathered a few at a time: their entries are found together, then given their values in
// line order, which is the result of taking the lines one by one, since finding an entry
// never depends on a value.
class TTextReader {
public:
    TTextReader(const TElIniFormat& format, const TElLineSplitter& split, TElIniTree& tree)
        : Format(format), Split(split), Tree(tree), Section(&tree.Root()) {}

    void Run(std::string_view text) {
        try {
            ReadLines(text);
        } catch (...) {
            // Whatever stopped the reading, the lines before it are in.
            Finish();
            throw;
        }
        Finish();
    }

private:
    struct TLine {
        std::string Name, Value;
        bool ListItem = false;
    };

    void ReadLines(std::string_view text) {
        const std::string delimiter(1, Format.Delimiter);
        int64_t lineNumber = 0;
        size_t pos = 0;
        while (pos < text.size()) {
            const std::string_view line = NextLine(text, pos);
            ++lineNumber;
            if (line.empty() || (!Format.Comment.empty() && line.starts_with(Format.Comment)))
                continue;
            if (line.front() == '[') {
                const std::string_view path = line.size() >= 2 && line.back() == ']'
                                                  ? line.substr(1, line.size() - 2)
                                                  : line.substr(1);
                Finish();
                // A path that cannot be opened makes the lines up to the next header
                // skipped.
                Section = Tree.OpenSection(delimiter + std::string(path));
            } else if (Section != nullptr) {
                ReadValueLine(line, lineNumber);
            }
        }
    }

    void ReadValueLine(std::string_view line, int64_t lineNumber) {
        TLine& read = Lines[Count];
        if (!Split(line, read.Name, read.Value)) {
            read.Value = std::move(read.Name);
            read.Name = '#';
            read.Name += std::to_string(lineNumber);
        }
        read.ListItem = CutListIndex(read.Name);
        if (!read.Name.empty()) {
            if (++Count == Lines.size())
                Flush();
            return;
        }
        // An empty name under a key is the key's own value; at the root, only a value
        // that already has the empty name takes it, so the lines before must be in.
        Flush();
        TElIniEntry* entry =
            Section != &Tree.Root() ? Section : Tree.Root().FindChild(std::string_view());
        if (entry != nullptr)
            Assign(*entry, read);
    }

    // Finds or adds the entries of the gathered lines and gives them their values; where
    // that stops with an exception, the lines before keep what they gave.
    void Flush() { AssignValueBatch(Section, Lines, Count, &Assign); }
    // Flush, and the key's values settled: the reader leaves the key.
    void Finish() { FinishValueBatch(Section, Lines, Count, &Assign); }

    static void Assign(TElIniEntry& entry, TLine& line) {
        if (line.ListItem)
            AppendListItem(entry, std::move(line.Value));
        else
            AssignFromText(entry, std::move(line.Value));
    }

    static constexpr size_t BatchSize = 64;

    const TElIniFormat& Format;
    const TElLineSplitter& Split;
    TElIniTree& Tree;
    TElIniEntry* Section;
    std::array<TLine, BatchSize> Lines;
    size_t Count = 0;
};

} // namespace

void ReadIniText(std::string_view text, const TElIniFormat& format, const TElLineSplitter& split,
                 TElIniTree& tree) {
    text = text.substr(0, text.find('\0'));
    const TElIniTree::TKeyBudget budget(tree, text.size());
    TTextReader(format, split, tree).Run(text);
}

namespace {

void WriteTextValue(const TElIniEntry& value, const TElIniFormat& format, std::string& out) {
    const std::string& name = value.Name();
    std::string line;
    if (!name.empty() && name.front() != '#') {
        line = name;
        line += format.DivChar;
    }
    switch (value.ValueType) {
    case evtNone:
        return;
    case evtBoolean:
        line +=
            format.Simple ? (value.BoolValue ? "1" : "0") : (value.BoolValue ? "true" : "false");
        break;
    case evtInteger:
        line += std::to_string(value.IntValue);
        break;
    case evtString:
        line += value.StringValue;
        break;
    case evtMultiString:
        for (size_t i = 0; i < value.MultiValue.size(); ++i) {
            line = name + "[" + std::to_string(i) + "]";
            line += format.DivChar;
            line += value.MultiValue[i];
            AppendLine(out, line);
        }
        return;
    case evtBinary:
        line += BinaryToText(value.StringValue);
        break;
    case evtEightByte:
        line +=
            std::to_string(Int32LeAt(reinterpret_cast<const char*>(value.EightByte.data()))) + "." +
            std::to_string(Int32LeAt(reinterpret_cast<const char*>(value.EightByte.data() + 4)));
        break;
    }
    AppendLine(out, line);
}

void WriteTextKey(const TElIniEntry& key, const std::string& path, const TElIniFormat& format,
                  std::string& out) {
    AppendLine(out, "");
    AppendLine(out, "[" + path + "]");
    for (int32_t i = 0; i < key.ChildCount(); ++i)
        WriteTextValue(*key.Child(i), format, out);
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& child = *key.Child(i);
        if (child.IsKey)
            WriteTextKey(child, path + format.Delimiter + child.Name(), format, out);
    }
}

} // namespace

std::string WriteIniText(const TElIniEntry& root, const TElIniFormat& format) {
    std::string out;
    if (!format.WarningMessage.empty())
        AppendLine(out, format.Comment + format.WarningMessage);
    for (int32_t i = 0; i < root.ChildCount(); ++i)
        WriteTextValue(*root.Child(i), format, out);
    for (int32_t i = 0; i < root.ChildCount(); ++i) {
        const TElIniEntry& child = *root.Child(i);
        if (child.IsKey)
            WriteTextKey(child, child.Name(), format, out);
    }
    return out;
}

} // namespace cantorell
