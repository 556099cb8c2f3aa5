// The pictures of an ID3v2 tag (Frames_Images): what they are, their bytes, and the
// changes a save writes. An item whose Data is empty is a removed picture: a save leaves it
// out, as it does for every emptied item. An item whose body the read passed over holds
// the body's first bytes in Data while it is unchanged; its image is read from the file.
#include "DID3v2.h"

#include "Picture.h"

namespace cantorell {

namespace {

bool IsV22Picture(const TFrameItem& item) {
    return item.FrameID.size() == 3;
}

} // namespace

std::vector<TDID3v2::TPictureInfo> TDID3v2::Pictures() const {
    std::vector<TPictureInfo> pictures;
    for (int i = 0; i < Frames_Images.Count(); ++i) {
        const TFrameItem& item = Frames_Images.Items(i);
        if (item.Data.empty())
            continue;
        TPictureInfo info;
        info.Item = i;
        TPictureFrame frame;
        if (ParsePictureFrame(item.Data, IsV22Picture(item), frame)) {
            info.Valid = true;
            info.Type = frame.Type;
            info.Mime = std::move(frame.Mime);
            info.Description = std::move(frame.Description);
            const std::string_view image = std::string_view(item.Data).substr(frame.DataOffset);
            // A body passed over at the read holds the image's first bytes only.
            const TReadFrame* read = UnchangedPicture(i);
            info.Bytes = read ? read->FileSize - static_cast<int64_t>(frame.DataOffset)
                              : static_cast<int64_t>(image.size());
            const TImageHeader header = SniffImage(image);
            info.Width = header.Width;
            info.Height = header.Height;
        } else {
            // A damaged frame is still kept and written back; all it shows is its size.
            info.Bytes = static_cast<int64_t>(item.Data.size());
        }
        pictures.push_back(std::move(info));
    }
    return pictures;
}

bool TDID3v2::PictureData(int item, std::string& image) const {
    image.clear();
    if (item < 0 || item >= Frames_Images.Count())
        return false;
    if (const TReadFrame* read = UnchangedPicture(item);
        read && read->Size < static_cast<uint64_t>(read->FileSize))
        return LoadPicture(PictureRef(item), image);
    const TFrameItem& picture = Frames_Images.Items(item);
    TPictureFrame frame;
    if (picture.Data.empty() || !ParsePictureFrame(picture.Data, IsV22Picture(picture), frame))
        return false;
    image.assign(picture.Data, frame.DataOffset);
    return true;
}

TDID3v2::TPictureRef TDID3v2::PictureRef(int item) const {
    TPictureRef ref;
    // A picture that stands in the file as read is named by its place there, so that
    // nothing is copied until it is wanted; any other is copied now.
    const TReadFrame* frame = UnchangedPicture(item);
    TPictureFrame fields;
    if (frame && frame->FileOffset >= 0 && FRead.ReadStamp().Valid() &&
        ParsePictureFrame(StoredBody(*frame), frame->Id.size() == 3, fields) &&
        frame->FileSize > static_cast<int64_t>(fields.DataOffset)) {
        ref.Path = FRead.ReadPath();
        ref.Stamp = FRead.ReadStamp();
        ref.Offset = frame->FileOffset + static_cast<int64_t>(fields.DataOffset);
        ref.Size = frame->FileSize - static_cast<int64_t>(fields.DataOffset);
        return ref;
    }
    std::string image;
    if (PictureData(item, image))
        ref.Bytes = std::make_shared<const std::string>(std::move(image));
    return ref;
}

bool TDID3v2::LoadPicture(const TPictureRef& ref, std::string& image) {
    image.clear();
    if (ref.Bytes) {
        image = *ref.Bytes;
        return true;
    }
    if (ref.Path.empty() || !ref.Stamp.Valid() || ref.Offset < 0 || ref.Size <= 0 ||
        ref.Offset > ref.Stamp.Size - ref.Size)
        return false;
    // A file system of its own: this runs on worker threads, and the shared one counts its
    // calls and pins paths for the thread that shows a file.
    TFileSystem fs;
    const auto file = fs.Open(ref.Path, TOpenMode::omReadOnly);
    // Another program may have rewritten the file since it was read: then the range no
    // longer holds the picture, and nothing is better than the wrong bytes.
    if (!file || !(file->Stamp() == ref.Stamp))
        return false;
    image.resize(static_cast<size_t>(ref.Size));
    if (file->ReadExactAt(ref.Offset, image.data(), ref.Size))
        return true;
    image.clear();
    return false;
}

int TDID3v2::MainPicture() const {
    return MainPicture(Pictures());
}

int TDID3v2::MainPicture(const std::vector<TPictureInfo>& pictures) {
    for (const TPictureInfo& picture : pictures) {
        if (picture.Valid && picture.Type == PictureTypeFrontCover)
            return picture.Item;
    }
    return pictures.empty() ? -1 : pictures.front().Item;
}

bool TDID3v2::AddPicture(uint8_t type, std::string_view description, std::string_view image) {
    const TImageHeader header = SniffImage(image);
    if (header.Mime.empty())
        return false;
    TFrameItem& item = Frames_Images.Add();
    item.FrameID = "APIC";
    item.Data = EncodePictureFrame(header.Mime, type, description, image, SaveVersion());
    item.FrameSize = static_cast<int32_t>(item.Data.size());
    return true;
}

bool TDID3v2::ReplacePicture(int item, uint8_t type, std::string_view description,
                             std::string_view image) {
    const TImageHeader header = SniffImage(image);
    if (header.Mime.empty() || item < 0 || item >= Frames_Images.Count())
        return false;
    // The frame keeps its place in the tag; a 2.2 picture becomes an "APIC" frame, so its
    // new body is not converted again.
    TFrameItem& picture = Frames_Images.Items(item);
    picture.FrameID = "APIC";
    picture.Data = EncodePictureFrame(header.Mime, type, description, image, SaveVersion());
    picture.FrameSize = static_cast<int32_t>(picture.Data.size());
    return true;
}

bool TDID3v2::SetPicture(uint8_t type, std::string_view description, std::string_view image) {
    if (SniffImage(image).Mime.empty())
        return false;
    int replaced = -1;
    for (const TPictureInfo& picture : Pictures()) {
        if (!picture.Valid || picture.Type != type)
            continue;
        if (replaced < 0)
            replaced = picture.Item;
        else
            RemovePicture(picture.Item);
    }
    return replaced >= 0 ? ReplacePicture(replaced, type, description, image)
                         : AddPicture(type, description, image);
}

void TDID3v2::RemovePicture(int item) {
    if (item >= 0 && item < Frames_Images.Count())
        Frames_Images.Items(item).Data.clear();
}

void TDID3v2::RemovePictures() {
    for (int i = 0; i < Frames_Images.Count(); ++i)
        RemovePicture(i);
}

} // namespace cantorell
