#include "settings/Langset.h"

#include "audio/MessageId.h"
#include "platform/Locale.h"

#include <iterator>

namespace varnel {

namespace {

struct MessageTexts
{
    const char* Japanese;
    const char* Alternate;
};

// Rows kFirstMessageId..kLastMessageId, in the order of MessageId. In the two file dialog
// filters the '|' characters separate the dialog's description and pattern fields.
constexpr MessageTexts kMessages[] = {
    {"ファイルが開けませんでした。", "Can't open file."},
    {"扱えないファイル形式です。\nまたはファイルが破損しています。",
     "File format not supported.\nOr file is damaged."},
    {"PCM形式のWAVEファイルではありません。", "This is not 'PCM' WAVE file."},
    {"16ビット・ステレオのWAVEファイルではありません。", "This is not '16bit STEREO' WAVE file."},
    {"同じ名前のファイルがあります。上書きしますか？", "File already exists. Overwrite?"},
    {"ファイルの作成に失敗しました。", "An error occurred during file creation."},
    {"メモリの確保に失敗しました。", "Can't allocate memory."},
    {"ファイル作成中にエラーが発生しました。", "An Error occurred while saving."},
    {"WAVEファイルをドロップしてください。", "Drop a 'WAVE' file."},
    {"WAVEファイル (*.wav)|*.WAV|すべてのファイル (*.*)|*.*",
     "WAVE files (*.wav)|*.WAV|All files (*.*)|*.*"},
    {"WAVEファイル (*.wav)|*.WAV", "WAVE files (*.wav)|*.WAV"},
    {"ヘルプファイルが見つかりません。", "Help file not found."},
    {"ヘルプを表示するには Adobe Reader が必要です。",
     "Adobe Reader is required to view a help file."},
    {"ヘルプ表示でエラーが発生しました。", "An error occurred when opening a help file."},
    {"再生中は設定を変更できません。", "Can't change setting while playing."},
    {"入力ファイルと出力ファイルが同じです。", "The output file is the same as the input file."},
};

// Beside the table: reading a file that was cut short (or that the system could not read)
// while it played.
constexpr MessageTexts kReadFault = {
    "ファイルの読み込み中にエラーが発生しました。\nファイルが途中で切れたか、読めなくなっています"
    "。",
    "An error occurred while reading the file.\nThe file was cut short or can no longer be read."};

static_assert(std::size(kMessages) == kLastMessageId - kFirstMessageId + 1,
              "one row per message id");

// The primary language is the low 10 bits of a language id.
constexpr int kPrimaryLanguageMask = 0x3FF;

} // namespace

TLangSet::TLangSet() : mLanguageId(UserPrimaryLanguage()) {}

TLangSet::TLangSet(int languageId) : mLanguageId(languageId) {}

TLangSet::~TLangSet() = default;

bool TLangSet::IsJapanese() const noexcept
{
    return (mLanguageId & kPrimaryLanguageMask) == kLangJapanese;
}

std::string TLangSet::GetMsgText(int id) const
{
    if (id < kFirstMessageId || id > kLastMessageId)
        return std::string();
    const MessageTexts& row = kMessages[id - kFirstMessageId];
    return IsJapanese() ? row.Japanese : row.Alternate;
}

std::string TLangSet::ReadFaultText() const
{
    return IsJapanese() ? kReadFault.Japanese : kReadFault.Alternate;
}

std::string TLangSet::SettingsWriteFailureText(const std::string& path) const
{
    return IsJapanese() ? path + " に書き込めません" : "Can't write to " + path;
}

std::string TLangSet::FileAppearedText() const
{
    return IsJapanese() ? "同じ名前のファイルが保存中に作られました。そのファイルを残し、"
                          "何も保存していません。"
                        : "File already exists: it appeared while saving and is kept. Nothing "
                          "was saved.";
}

std::string TLangSet::KeptAsText(const std::string& path) const
{
    return IsJapanese() ? "保存した音は \"" + path + "\" に残しています。"
                        : "The saved sound is kept as \"" + path + "\".";
}

// The alternate captions carry their leading and trailing spaces on purpose: the forms were
// laid out around them.
const std::vector<ControlLabel>& TLangSet::Form1Labels()
{
    static const std::vector<ControlLabel> labels = {
        {"", "caption", "Varnel", "Varnel"},
        {"Label3", "caption", "入力WAVEファイル", "WAV音频文件     "},
        {"Label1", "caption", "定位", "相"},
        {"PgmNameLbl", "caption", "Varnel V1.0", "Varnel V1.0"},
        {"Label2", "caption", "奥行き", "深"},
        {"Label4", "caption", "再生音量", "音量  "},
        {"Label5", "caption", "定位スケール", "相位范围 "},
        {"Label6", "caption", "カラースケール", "  颜色深度 "},
        {"PanCheck", "caption", "定位固定", "相位锁定"},
        {"FreqCheck", "caption", "周波数固定", "频率锁定 "},
        {"InvCheck", "caption", "抽出エリア反転", "区域切换    "},
        {"VisOffCheck", "caption", "ビジュアルなし", "频谱开关  "},
        {"FileOpenBtn", "caption", "ファイルを開く", "载入文件 "},
        {"FileSaveBtn", "caption", "ファイルに保存...", "  输出文件     "},
        {"PanMaxBtn", "caption", "定位最大化", "最宽   "},
        {"CenterBtn", "caption", "定位中央", "相位中置  "},
        {"FrqMaxBtn", "caption", "周波数最大化", "  全频  "},
        {"PhaseMaxBtn", "caption", "奥行最大化", "极限深度 "},
        {"HelpBtn", "hint", "ヘルプ", "帮助"},
        {"SetBtn", "hint", "設定", "设置"},
    };
    return labels;
}

const std::vector<ControlLabel>& TLangSet::SaveFileFormLabels()
{
    static const std::vector<ControlLabel> labels = {
        {"", "caption", "ファイルに保存", "正在导出"},
        {"AbortBtn", "caption", "中止", "终止"},
    };
    return labels;
}

// This dialog's design-time texts are the first column, whatever the language.
const std::vector<ControlLabel>& TLangSet::AbSaveFormLabels()
{
    static const std::vector<ControlLabel> labels = {
        {"", "caption", "保存AB点之间的区域", "导出AB区域"},
        {"Label1", "caption", "再次指定AB点之间的区域", "AB点已设置，"},
        {"Label2", "caption", "您确定保存指定的区域吗？", "您想要输出所选区域吗？"},
        {"BitBtn1", "caption", "保存AB点区域", "保存AB区域"},
        {"BitBtn2", "caption", "保存全部区域", "保存全部区域"},
        {"BitBtn3", "caption", "", "取消"},
    };
    return labels;
}

const std::vector<ControlLabel>& TLangSet::SetOptFormLabels()
{
    static const std::vector<ControlLabel> labels = {
        {"", "caption", "設定", "设置"},
        {"TabSheet1", "caption", "サウンドバッファ", "缓冲大小"},
        {"Label1", "caption",
         "リアルタイム再生の音が途切れる場合にバッファサイズを大きくしてください。",
         "当声音失真时增加数值"},
        {"Label2", "caption", "サウンドバッファサイズ", "音频缓冲时长"},
        {"Label4", "caption", "※大きくするほど操作に対する音の反応が遅れます。",
         "数值越大表示延时越高"},
        {"TabSheet2", "caption", "音質とパフォーマンス", "音频质量"},
        {"Label5", "caption", "音質とシステム負荷のバランスを調整できます。",
         "调整CPU占用和音频质量"},
        {"Label6", "caption", "音質を優先", "音质更高"},
        {"Label7", "caption", "負荷を軽く", "速度更快"},
        {"TabSheet3", "caption", "ソフトカット", "柔和切除"},
        {"Label8", "caption",
         "抽出エリアの境界をなめらかにしたり、取り除く音を消さずに小さくしたりできます。",
         "可使提取区域的边缘更柔和，或只减弱去除的声音而不完全消除。"},
        {"Label9", "caption", "定位の境界幅", "相位边缘宽度"},
        {"Label11", "caption", "奥行きの境界幅", "深度边缘宽度"},
        {"Label13", "caption", "周波数の境界幅", "频率边缘宽度"},
        {"Label14", "caption", "オクターブ", "倍频程"},
        {"Label15", "caption", "取り除く音の減衰", "去除部分的衰减"},
        {"Label17", "caption", "ゲインの平滑化", "增益平滑"},
        {"KeepPlayingCheck", "caption", "この画面を開いている間も再生を続ける",
         "打开此窗口时继续播放"},
        {"Label19", "caption", "※すべて 0 と ∞ のとき、今までどおりのカットです。",
         "全部为 0 和 ∞ 时为原来的硬切除。"},
        {"ResetBtn", "caption", "リセット", "重置"},
        {"CancelBtn", "caption", "", "取消"},
    };
    return labels;
}

} // namespace varnel
