/* Frames, property blocks and the plug-ins' option dialogs. */
#include "sandbox.h"

using namespace q32test;

namespace {

#define ANSWER(offset) (0x7E000000 + (offset))  /* what test plug-in format 0 answers */

class FramesProps : public ModuleSandbox {
protected:
    std::string picture = dir / "picture.tfa";
    HGLOBAL data = nullptr;

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        WriteFileBytes(picture, "ABCDEFGH");
        Stage("TFA");
        Load();
        data = FileDataOf(picture);
        ASSERT_NE(nullptr, data);
        ForgetCalls();
    }
    void TearDown() override
    {
        if (data) Free(data);
    }

    /* A property block of items of the given types, each with a fresh handle. */
    HGLOBAL Block(const std::vector<WORD> &types, std::vector<HGLOBAL> &handles)
    {
        SIZE_T size = offsetof(PropertyBlock, items) + types.size() * sizeof(PropertyItem);
        HGLOBAL block = GlobalAlloc(GHND, size);
        PropertyBlock *p = static_cast<PropertyBlock *>(GlobalLock(block));
        p->count = (DWORD)types.size();
        for (size_t i = 0; i < types.size(); i++) {
            handles.push_back(p->items[i].handle = GlobalAlloc(GHND, 16));
            p->items[i].type = types[i];
            if (types[i] == 1) GlobalLock(handles.back()); /* unlocked again when freed */
        }
        GlobalUnlock(block);
        return block;
    }
    static bool Freed(HGLOBAL h) { return GlobalFlags(h) == GMEM_INVALID_HANDLE; }
};

/* Frame commands and the plug-ins' dialogs: their answers, or an error for a bad FileData. */
TEST_F(FramesProps, CommandsAndDialogsPassThrough)
{
    EXPECT_EQ(ANSWER(10), Q32_EXPORT(module, qfFileReadFrame)(data, 5, 6));
    EXPECT_EQ(ANSWER(10), Q32_EXPORT(module, qfFileReadFrameIndex)(data, 7, 8, 3));
    EXPECT_EQ(ANSWER(10), Q32_EXPORT(module, qfFileWriteFrame)(data, 9, 10));
    EXPECT_EQ((std::vector<std::string>{"TFA.FIO command 0 26 5 6 -1", "TFA.FIO command 0 26 7 8 3",
                                        "TFA.FIO command 0 27 9 10 -1"}),
              Calls());

    EXPECT_EQ(0, Q32_EXPORT(module, qfFileReadFrame)(nullptr, 0, 0));
    EXPECT_ERROR(4026, 703, 1702, 3024);
    EXPECT_EQ(ANSWER(25), Q32_EXPORT(module, qfFileShowProperty)(0, data, 0, 0, 0));
    EXPECT_EQ(-1, Q32_EXPORT(module, qfFileShowProperty)(0, nullptr, 0, 0, 0));
    EXPECT_ERROR(4026, 703, 1702, 2722);
    EXPECT_EQ(ANSWER(14), Q32_EXPORT(module, qfFileShowDlgFileData)(0, 0, data, 0, 0, 0));
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileShowDlgFileData)(0, 0, nullptr, 0, 0, 0));
    EXPECT_ERROR(4026, 1702, 7, 1);
    EXPECT_EQ(ANSWER(15), Q32_EXPORT(module, qfFileShowDlgSaveOption)(0, 0, data, 0));
    EXPECT_EQ(-1, Q32_EXPORT(module, qfFileShowDlgSaveOption)(0, 0, nullptr, 0));
    EXPECT_ERROR(4026, 1702, 8, 1);
    int number = FormatId("TFA");
    EXPECT_EQ(ANSWER(18), Q32_EXPORT(module, qfFileShowDlgOpenOption)(0, 0, number, 0));
    EXPECT_EQ(-1, Q32_EXPORT(module, qfFileShowDlgOpenOption)(0, 0, 0, 0));
    EXPECT_ERROR(4026, 1702, 19, 1);
    Edit(data, [](FileData &f) { f.formatNumber = 7; });
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileWriteFrame)(data, 0, 0));
    EXPECT_ERROR(4026, 1702, 7, 3034);
    EXPECT_EQ(-1, Q32_EXPORT(module, qfFileShowDlgSaveOption)(0, 0, data, 0));
    EXPECT_ERROR(4026, 1702, 8, 2);
}

TEST_F(FramesProps, PropertyBlocksAttachDetachAndFreeByItemType)
{
    auto get = Q32_EXPORT(module, qfFileGetProperty);
    auto set = Q32_EXPORT(module, qfFileSetProperty);
    auto freeBlock = Q32_EXPORT(module, qfFileFreeProperty);

    /* Nothing attached: the plug-in is asked. */
    HGLOBAL got = nullptr;
    EXPECT_EQ(ANSWER(23), get(data, &got));

    /* Items of every type: 1, 5 and 8 to 14 own their handles; the others hold their
       values inline. */
    std::vector<WORD> types;
    for (WORD type = 1; type <= 15; type++) types.push_back(type);
    std::vector<HGLOBAL> handles;
    HGLOBAL first = Block(types, handles);
    ASSERT_EQ(1, set(data, first));
    EXPECT_EQ(1, get(data, &got));
    EXPECT_EQ(first, got);

    /* Attaching another frees the first and the handles its items own. */
    std::vector<HGLOBAL> more;
    HGLOBAL second = Block({9}, more);
    ASSERT_EQ(1, set(data, second));
    EXPECT_TRUE(Freed(first));
    for (size_t i = 0; i < types.size(); i++) {
        bool owned = types[i] == 1 || types[i] == 5 || (types[i] >= 8 && types[i] <= 14);
        EXPECT_EQ(owned, Freed(handles[i])) << "type " << types[i];
        if (!owned) GlobalFree(handles[i]);
    }

    /* Only the attached block is freed through a FileData. */
    std::vector<HGLOBAL> loose;
    HGLOBAL stranger = Block({8}, loose);
    EXPECT_EQ(0, freeBlock(data, stranger));
    EXPECT_FALSE(Freed(stranger));
    EXPECT_EQ(1, freeBlock(nullptr, stranger));
    EXPECT_TRUE(Freed(stranger));
    EXPECT_TRUE(Freed(loose[0]));

    /* Attaching null detaches and frees. */
    EXPECT_EQ(1, set(data, nullptr));
    EXPECT_TRUE(Freed(second));
    EXPECT_TRUE(Freed(more[0]));

    /* A block whose count claims more items than it holds is read no further. */
    HGLOBAL lying = GlobalAlloc(GHND, offsetof(PropertyBlock, items) + sizeof(PropertyItem));
    static_cast<PropertyBlock *>(GlobalLock(lying))->count = 1000000;
    GlobalUnlock(lying);
    EXPECT_EQ(1, freeBlock(nullptr, lying));

    EXPECT_EQ(0, get(nullptr, &got));
    EXPECT_ERROR(4026, 1702, 7, 2606);
    EXPECT_EQ(0, set(nullptr, nullptr));
    EXPECT_ERROR(4026, 1702, 7, 2679);
}

} // namespace
