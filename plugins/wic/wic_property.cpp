/* wic.fio: the property block of a file's texts. */
#include <initguid.h>
#include "wic_private.h"
#include <wincodecsdk.h>
#include <stdio.h>
#include "fio_holders.h"

namespace wic {

namespace {

struct Text {
    std::string name, value;
};

/* A metadata value as ANSI text; empty for values that are not texts. */
std::string TextOf(const PROPVARIANT &value)
{
    switch (value.vt) {
    case VT_LPSTR:
        return value.pszVal ? value.pszVal : "";
    case VT_LPWSTR:
    case VT_BSTR: {
        const wchar_t *wide = value.vt == VT_LPWSTR ? value.pwszVal : value.bstrVal;
        if (!wide) return "";
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (bytes <= 1) return "";
        std::string text(size_t(bytes), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
        text.resize(size_t(bytes - 1));
        return text;
    }
    default:
        return "";
    }
}

/* Names of the TIFF tags that hold texts. */
std::string TagName(unsigned tag)
{
    switch (tag) {
    case 269: return "DocumentName";
    case 270: return "ImageDescription";
    case 271: return "Make";
    case 272: return "Model";
    case 285: return "PageName";
    case 305: return "Software";
    case 306: return "DateTime";
    case 315: return "Artist";
    case 316: return "HostComputer";
    case 33432: return "Copyright";
    default: {
        char name[24];
        snprintf(name, sizeof name, "Tag %u", tag);
        return name;
    }
    }
}

/* The texts of a metadata reader and of the readers nested in it. Comments of JPEG and
   GIF streams are left out: they are read from the stream itself. */
void Collect(IWICMetadataReader *reader, std::vector<Text> &texts, int depth)
{
    GUID format;
    if (FAILED(reader->GetMetadataFormat(&format)) || IsEqualGUID(format, GUID_MetadataFormatGifComment) ||
        IsEqualGUID(format, GUID_MetadataFormatJpegComment))
        return;
    Com<IWICEnumMetadataItem> items;
    if (FAILED(reader->GetEnumerator(items.put()))) return;
    PROPVARIANT schema, id, value;
    PropVariantInit(&schema);
    PropVariantInit(&id);
    PropVariantInit(&value);
    ULONG got = 0;
    while (items->Next(1, &schema, &id, &value, &got) == S_OK && got == 1) {
        if (value.vt == VT_UNKNOWN && value.punkVal && depth < 3) {
            Com<IWICMetadataReader> nested;
            if (SUCCEEDED(value.punkVal->QueryInterface(IID_PPV_ARGS(nested.put()))))
                Collect(nested.get(), texts, depth + 1);
        } else {
            std::string text = TextOf(value);
            if (!text.empty()) {
                std::string name = id.vt == VT_UI2 ? TagName(id.uiVal) : TextOf(id);
                texts.push_back(Text{name.empty() ? "Text" : name, text});
            }
        }
        PropVariantClear(&schema);
        PropVariantClear(&id);
        PropVariantClear(&value);
    }
}

void CollectBlocks(IUnknown *holder, std::vector<Text> &texts)
{
    Com<IWICMetadataBlockReader> blocks;
    UINT count = 0;
    if (!holder || FAILED(holder->QueryInterface(IID_PPV_ARGS(blocks.put()))) || FAILED(blocks->GetCount(&count)))
        return;
    for (UINT i = 0; i < count; i++) {
        Com<IWICMetadataReader> reader;
        if (SUCCEEDED(blocks->GetReaderByIndex(i, reader.put()))) Collect(reader.get(), texts, 0);
    }
}

/* A property block of the texts: one WIC_ITEM_TEXT item each. */
HGLOBAL NewBlock(const std::vector<Text> &texts)
{
    const size_t bytes = offsetof(PropertyBlock, items) + texts.size() * sizeof(PropertyItem);
    fio::GlobalHandle block(GlobalAlloc(GHND, bytes));
    fio::Locked<PropertyBlock> items(block.get());
    if (!items) return nullptr;
    for (const Text &text : texts) {
        HGLOBAL value = GlobalAlloc(GMEM_MOVEABLE, text.value.size() + 1);
        if (!value) break;
        {
            fio::Locked<char> chars(value);
            memcpy(chars.get(), text.value.c_str(), text.value.size() + 1);
        }
        PropertyItem &item = *(&items->items[0] + items->count++);
        item.type = WIC_ITEM_TEXT;
        lstrcpynA(reinterpret_cast<char *>(item.data), text.name.c_str(), sizeof item.data);
        item.handle = value;
    }
    if (items->count != texts.size()) {
        for (DWORD i = 0; i < items->count; i++) GlobalFree((&items->items[0] + i)->handle);
        return nullptr;
    }
    return block.release();
}

} // namespace

/******************************************************************
 *      GetProperty  (entry +23)
 *
 * Stores at *property a new block of the texts of the file (of the frame that the
 * FileData describes and of the file as a whole), or NULL when it has none. 1, or 0
 * with an error recorded.
 */
INT_PTR GetProperty(int format, HGLOBAL fileData, HGLOBAL *property)
{
    FileData data;
    if (!property || !CopyFileData(fileData, data)) {
        Record(ErrCannot, EntryProperty, PlaceArguments);
        return 0;
    }
    const WicFacts &facts = *FileDataWicFacts(&data);
    UINT index = facts.magic == WIC_FACTS_MAGIC && facts.format == DWORD(format) ? facts.frame : 0;
    Source source;
    if (!source.Open(nullptr, data.name)) {
        Record(ErrOpen, EntryProperty, PlaceOpen, data.name);
        return 0;
    }
    std::vector<Text> texts;
    const Container container = Formats[format].container;
    if (container == Container::Jpeg) {
        std::vector<uint8_t> head(size_t(FileSizeOf(source.get()) < (1u << 20) ? FileSizeOf(source.get()) : 1u << 20));
        if (!head.empty() && !ReadAt(source.get(), 0, head.data(), head.size())) {
            Record(ErrDamaged, EntryProperty, PlaceInput, data.name);
            return 0;
        }
        for (const std::string &comment : JpegComments(head.data(), head.size()))
            texts.push_back(Text{"Comment", comment});
    }
    if (container == Container::Gif) {
        std::vector<uint8_t> bytes;
        GifAnimation animation;
        if (!ReadWhole(source.get(), bytes, uint64_t(1) << 28) || !ReadGifAnimation(bytes.data(), bytes.size(), animation)) {
            Record(ErrDamaged, EntryProperty, PlaceInput, data.name);
            return 0;
        }
        for (const std::string &comment : animation.comments) texts.push_back(Text{"Comment", comment});
    }
    {
        ComScope com;
        if (!com.ok()) {
            Record(ErrNoMemory, EntryProperty, PlaceComponent);
            return 0;
        }
        Decoding decoding;
        Frame frame;
        if (!OpenDecoding(format, source.get(), data.name, EntryProperty, decoding) ||
            !OpenFrame(decoding, index, data.name, EntryProperty, frame))
            return 0;
        CollectBlocks(decoding.decoder.get(), texts);
        CollectBlocks(frame.decode.get(), texts);
    }
    *property = nullptr;
    if (texts.empty()) return 1;
    if (!(*property = NewBlock(texts))) {
        Record(ErrNoMemory, EntryProperty, PlaceMemory);
        return 0;
    }
    return 1;
}

} // namespace wic
