#include "settings/Langset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace varnel {
namespace {

struct MessagePair
{
    int Id;
    const char* Japanese;
    const char* Alternate;
};

// Typed separately from the table in Langset.cpp, so a slip in either shows up here.
const MessagePair kExpected[] = {
    {1, "ファイルが開けませんでした。", "Can't open file."},
    {2, "扱えないファイル形式です。\nまたはファイルが破損しています。",
     "File format not supported.\nOr file is damaged."},
    {3, "PCM形式のWAVEファイルではありません。", "This is not 'PCM' WAVE file."},
    {4, "16ビット・ステレオのWAVEファイルではありません。",
     "This is not '16bit STEREO' WAVE file."},
    {5, "同じ名前のファイルがあります。上書きしますか？", "File already exists. Overwrite?"},
    {6, "ファイルの作成に失敗しました。", "An error occurred during file creation."},
    {7, "メモリの確保に失敗しました。", "Can't allocate memory."},
    {8, "ファイル作成中にエラーが発生しました。", "An Error occurred while saving."},
    {9, "WAVEファイルをドロップしてください。", "Drop a 'WAVE' file."},
    {10, "WAVEファイル (*.wav)|*.WAV|すべてのファイル (*.*)|*.*",
     "WAVE files (*.wav)|*.WAV|All files (*.*)|*.*"},
    {11, "WAVEファイル (*.wav)|*.WAV", "WAVE files (*.wav)|*.WAV"},
    {12, "ヘルプファイルが見つかりません。", "Help file not found."},
    {13, "ヘルプを表示するには Adobe Reader が必要です。",
     "Adobe Reader is required to view a help file."},
    {14, "ヘルプ表示でエラーが発生しました。", "An error occurred when opening a help file."},
    {15, "再生中は設定を変更できません。", "Can't change setting while playing."},
    {16, "入力ファイルと出力ファイルが同じです。",
     "The output file is the same as the input file."},
};

TEST(LangsetTest, EveryMessageInBothLanguages)
{
    const TLangSet japanese(17);
    const TLangSet english(9);
    for (const MessagePair& m : kExpected) {
        SCOPED_TRACE(m.Id);
        EXPECT_EQ(japanese.GetMsgText(m.Id), m.Japanese);
        EXPECT_EQ(english.GetMsgText(m.Id), m.Alternate);
    }
}

TEST(LangsetTest, IdsOutsideTheTableGiveEmptyText)
{
    for (int language : {17, 9}) {
        const TLangSet texts(language);
        for (int id : {0, 17, -1, 1000})
            EXPECT_EQ(texts.GetMsgText(id), "") << "language " << language << " id " << id;
    }
}

TEST(LangsetTest, LanguageChosenByLowTenBitsOfTheId)
{
    struct Case
    {
        int LanguageId;
        bool Japanese;
    };
    const Case cases[] = {
        {17, true},          {0x0411, true}, // Japanese, Japan
        {0x0811, true},                      // a Japanese sublanguage still has primary 17
        {9, false},          {0x0409, false}, {4, false},  {0x0804, false}, {0, false},
        {0x0400 | 9, false}, {18, false},     {16, false}, {0x0211, false}, // low 8 bits are 17, low 10 bits are 0x211: not Japanese
    };
    for (const Case& c : cases) {
        const TLangSet texts(c.LanguageId);
        EXPECT_EQ(texts.IsJapanese(), c.Japanese) << "id 0x" << std::hex << c.LanguageId;
        EXPECT_EQ(texts.GetMsgText(5), c.Japanese ? "同じ名前のファイルがあります。上書きしますか？"
                                                  : "File already exists. Overwrite?");
    }
}

TEST(LangsetTest, DefaultFollowsTheUserLocale)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows takes the interface language from the system, not the environment";
#endif
    const char* saved = std::getenv("LC_ALL");
    const std::string savedValue = saved ? saved : "";
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(TLangSet().IsJapanese());
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_FALSE(TLangSet().IsJapanese());
    if (saved)
        setenv("LC_ALL", savedValue.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(LangsetTest, MessageTwoHasOneLineFeedAndNoCarriageReturn)
{
    for (int language : {17, 9}) {
        const std::string text = TLangSet(language).GetMsgText(2);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
}

TEST(LangsetTest, AlternateCaptionsKeepTheirSpaces)
{
    const auto& labels = TLangSet::Form1Labels();
    const auto open = std::find_if(labels.begin(), labels.end(), [](const ControlLabel& l) {
        return std::strcmp(l.Control, "FileOpenBtn") == 0;
    });
    ASSERT_NE(open, labels.end());
    EXPECT_STREQ(open->Alternate, "载入文件 ");
    EXPECT_STREQ(open->Japanese, "ファイルを開く");
}

} // namespace
} // namespace varnel
