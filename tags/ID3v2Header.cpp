#include "ID3v2Header.h"

#include "platform/FileSystem.h"

namespace cantorell {

void TagInfo::SetHeaderBytes(const uint8_t* bytes) {
    for (int i = 0; i < 3; ++i)
        Identifier[i] = static_cast<char>(bytes[i]);
    MajorVersion = bytes[3];
    RevisionNumber = bytes[4];
    Flags = bytes[5];
    for (int i = 0; i < 4; ++i)
        SizeBytes[i] = bytes[6 + i];
}

bool ReadTagHeader(TFileSystem& fs, const std::string& fileName, TagInfo& tag) {
    auto file = fs.Open(fileName, TOpenMode::omReadOnly);
    if (!file)
        return false;
    uint8_t header[TagHeaderSize] = {};
    const int64_t got = file->ReadAt(0, header, TagHeaderSize);
    if (got < 0)
        return false;
    // A short file leaves the record's header fields as they were: the result is false then.
    if (got == TagHeaderSize)
        tag.SetHeaderBytes(header);
    int64_t size = 0;
    if (!file->Size(size))
        return false;
    tag.FileSize = size;
    return file->Close() && got == TagHeaderSize;
}

bool ReadTagHeader(const std::string& fileName, TagInfo& tag) {
    return ReadTagHeader(TFileSystem::Default(), fileName, tag);
}

int32_t TagTotalSize(const TagInfo& tag) {
    // The size bytes are taken whole: a set top bit (invalid in a synchsafe number) makes a
    // size so large that it overruns the file, and the tag is then treated as empty.
    const int64_t body = (int64_t{tag.SizeBytes[0]} << 21) + (int64_t{tag.SizeBytes[1]} << 14) +
                         (int64_t{tag.SizeBytes[2]} << 7) + tag.SizeBytes[3];
    int64_t total = body + TagHeaderSize;
    if (tag.Flags & TagFlagFooter)
        total += TagHeaderSize;
    if (total > tag.FileSize)
        return 0;
    return static_cast<int32_t>(total);
}

int32_t LeadingTagSize(TFileSystem& fs, const std::string& fileName) {
    TagInfo tag;
    if (!ReadTagHeader(fs, fileName, tag) || !tag.HasIdentifier())
        return 0;
    return TagTotalSize(tag);
}

int32_t LeadingTagSize(const std::string& fileName) {
    return LeadingTagSize(TFileSystem::Default(), fileName);
}

} // namespace cantorell
