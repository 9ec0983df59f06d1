#include "settings/Setform.h"

#include "platform/SettingsFolder.h"
#include "settings/FormLabels.h"
#include "settings/FormPlacement.h"
#include "settings/IniFile.h"
#include "settings/Langset.h"
#include "settings/MessageBox.h"
#include "settings/Options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace varnel {

TSetOptForm* SetOptForm = nullptr;

namespace {

// At most this many characters can be typed into the buffer length box: "1000".
constexpr int kBuffSizeBoxMaxLength = 4;
// The pages are this wide, so the long notes wrap onto a few lines in either language.
constexpr int kPageWidth = 360;

void ShowErrorBox(QWidget* parent, const QString& text)
{
    ShowMessageBox(parent, MessageKind::Error, text);
}

QLabel* MakeNote(QWidget* page, const char* name, const char* text)
{
    auto* label = new QLabel(QString::fromUtf8(text), page);
    label->setObjectName(QString::fromUtf8(name));
    label->setWordWrap(true);
    return label;
}

QDoubleSpinBox* MakeNumberBox(QWidget* page, const char* name, double top, double step,
                              int decimals)
{
    auto* box = new QDoubleSpinBox(page);
    box->setObjectName(QString::fromUtf8(name));
    box->setRange(0.0, top);
    box->setSingleStep(step);
    box->setDecimals(decimals);
    box->setKeyboardTracking(false); // a typed number counts once it is complete
    box->setAlignment(Qt::AlignRight);
    return box;
}

} // namespace

TSetOptForm::TSetOptForm(QWidget* parent, const QString& iniPath)
    : QDialog(parent), mReportError(ShowErrorBox)
{
    BuildControls();
    const TLangSet texts;
    ApplyFormLabels(*this, TLangSet::SetOptFormLabels(), texts);
    SetDefaults();
    MakeIniPath(iniPath);
    LoadOptions();
    ApplyLimits();
}

TSetOptForm::~TSetOptForm() = default;

void TSetOptForm::BuildControls()
{
    setObjectName(QStringLiteral("SetOptForm"));
    setWindowTitle(QStringLiteral("設定"));
    // A fixed-size dialog with a close box and no help button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet1->setMinimumWidth(kPageWidth);
    Label1 = MakeNote(TabSheet1, "Label1",
                      "リアルタイム再生の音が途切れる場合にバッファサイズを大きくしてください。");
    Label2 = MakeNote(TabSheet1, "Label2", "サウンドバッファサイズ");
    Label2->setWordWrap(false);
    BuffSizeBox = new QComboBox(TabSheet1);
    BuffSizeBox->setObjectName(QStringLiteral("BuffSizeBox"));
    BuffSizeBox->setEditable(true);
    // Any number may be typed; typing never adds to the list.
    BuffSizeBox->setInsertPolicy(QComboBox::NoInsert);
    BuffSizeBox->addItems({QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("400"),
                           QStringLiteral("600"), QStringLiteral("800"), QStringLiteral("1000")});
    BuffSizeBox->setCurrentIndex(1);
    BuffSizeBox->lineEdit()->setMaxLength(kBuffSizeBoxMaxLength);
    BuffSizeBox->setMinimumContentsLength(kBuffSizeBoxMaxLength + 1);
    Label3 = MakeNote(TabSheet1, "Label3", "ms");
    Label3->setWordWrap(false);
    Label4 = MakeNote(TabSheet1, "Label4", "※大きくするほど操作に対する音の反応が遅れます。");

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(Label2);
    sizeRow->addWidget(BuffSizeBox);
    sizeRow->addWidget(Label3);
    sizeRow->addStretch(1);
    auto* page1 = new QVBoxLayout(TabSheet1);
    page1->addWidget(Label1);
    page1->addSpacing(8);
    page1->addLayout(sizeRow);
    page1->addSpacing(8);
    page1->addWidget(Label4);
    page1->addStretch(1);

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet2->setMinimumWidth(kPageWidth);
    Label5 = MakeNote(TabSheet2, "Label5", "音質とシステム負荷のバランスを調整できます。");
    QtyPfmBar = new QSlider(Qt::Horizontal, TabSheet2);
    QtyPfmBar->setObjectName(QStringLiteral("QtyPfmBar"));
    QtyPfmBar->setRange(kMinQtyLevel, kMaxQtyLevel);
    QtyPfmBar->setSingleStep(1);
    QtyPfmBar->setPageStep(1);
    QtyPfmBar->setTickPosition(QSlider::TicksBelow);
    QtyPfmBar->setTickInterval(1);
    QtyPfmBar->setValue(kDefaultQtyLevel);
    Label7 = MakeNote(TabSheet2, "Label7", "負荷を軽く");
    Label7->setWordWrap(false);
    Label6 = MakeNote(TabSheet2, "Label6", "音質を優先");
    Label6->setWordWrap(false);
    Label6->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* endsRow = new QHBoxLayout;
    endsRow->addWidget(Label7);
    endsRow->addStretch(1);
    endsRow->addWidget(Label6);
    auto* page2 = new QVBoxLayout(TabSheet2);
    page2->addWidget(Label5);
    page2->addSpacing(8);
    page2->addWidget(QtyPfmBar);
    page2->addLayout(endsRow);
    page2->addStretch(1);

    PageControl1->addTab(TabSheet1, QStringLiteral("サウンドバッファ"));
    PageControl1->addTab(TabSheet2, QStringLiteral("音質とパフォーマンス"));
    BuildSoftCutPage();
    PageControl1->setCurrentIndex(0);

    // OK and Cancel carry the toolkit's standard texts.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    OKBtn = buttons->button(QDialogButtonBox::Ok);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn = buttons->button(QDialogButtonBox::Cancel);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    ResetBtn = buttons->addButton(QStringLiteral("リセット"), QDialogButtonBox::ResetRole);
    ResetBtn->setObjectName(QStringLiteral("ResetBtn"));
    ResetBtn->setAutoDefault(false);
    OKBtn->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ResetBtn, &QPushButton::clicked, this, [this] { ResetBtnClick(); });

    auto* form = new QVBoxLayout(this);
    form->addWidget(PageControl1);
    form->addWidget(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);
}

void TSetOptForm::BuildSoftCutPage()
{
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    TabSheet3->setMinimumWidth(kPageWidth);
    Label8 = MakeNote(TabSheet3, "Label8",
                      "抽出エリアの境界をなめらかにしたり、取り除く音を消さずに小さくしたりでき"
                      "ます。");
    FeatherPanBox = MakeNumberBox(TabSheet3, "FeatherPanBox", SoftCut::kMaxFeatherPanDb, 1.0, 1);
    FeatherDepthBox =
        MakeNumberBox(TabSheet3, "FeatherDepthBox", SoftCut::kMaxFeatherDepth, 0.05, 2);
    FeatherFreqBox = MakeNumberBox(TabSheet3, "FeatherFreqBox", SoftCut::kMaxFeatherFreq, 0.1, 2);
    AttenuateBox = MakeNumberBox(TabSheet3, "AttenuateBox", SoftCut::kMaxAttenuateDb, 1.0, 1);
    AttenuateBox->setSpecialValueText(QStringLiteral("∞"));
    SmoothBox = MakeNumberBox(TabSheet3, "SmoothBox", SoftCut::kMaxSmoothMs, 10.0, 0);
    struct Row
    {
        QLabel*& Name;
        const char* NameId;
        const char* NameText;
        QDoubleSpinBox* Box;
        QLabel*& Unit;
        const char* UnitId;
        const char* UnitText;
    };
    const Row rows[] = {
        {Label9, "Label9", "定位の境界幅", FeatherPanBox, Label10, "Label10", "dB"},
        {Label11, "Label11", "奥行きの境界幅", FeatherDepthBox, Label12, "Label12", "rad"},
        {Label13, "Label13", "周波数の境界幅", FeatherFreqBox, Label14, "Label14", "オクターブ"},
        {Label15, "Label15", "取り除く音の減衰", AttenuateBox, Label16, "Label16", "dB"},
        {Label17, "Label17", "ゲインの平滑化", SmoothBox, Label18, "Label18", "ms"},
    };
    auto* grid = new QGridLayout;
    int r = 0;
    for (const Row& row : rows) {
        row.Name = MakeNote(TabSheet3, row.NameId, row.NameText);
        row.Name->setWordWrap(false);
        row.Unit = MakeNote(TabSheet3, row.UnitId, row.UnitText);
        row.Unit->setWordWrap(false);
        grid->addWidget(row.Name, r, 0);
        grid->addWidget(row.Box, r, 1);
        grid->addWidget(row.Unit, r, 2);
        connect(row.Box, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                [this] { emit SoftCutEdited(SoftCutFromPage()); });
        ++r;
    }
    grid->setColumnStretch(3, 1);
    KeepPlayingCheck =
        new QCheckBox(QStringLiteral("この画面を開いている間も再生を続ける"), TabSheet3);
    KeepPlayingCheck->setObjectName(QStringLiteral("KeepPlayingCheck"));
    Label19 = MakeNote(TabSheet3, "Label19", "※すべて 0 と ∞ のとき、今までどおりのカットです。");
    auto* page3 = new QVBoxLayout(TabSheet3);
    page3->addWidget(Label8);
    page3->addSpacing(8);
    page3->addLayout(grid);
    page3->addSpacing(8);
    page3->addWidget(KeepPlayingCheck);
    page3->addSpacing(8);
    page3->addWidget(Label19);
    page3->addStretch(1);
    PageControl1->addTab(TabSheet3, QStringLiteral("ソフトカット"));
}

SoftCut TSetOptForm::SoftCutFromPage() const
{
    SoftCut s;
    s.FeatherPanDb = static_cast<float>(FeatherPanBox->value());
    s.FeatherDepth = static_cast<float>(FeatherDepthBox->value());
    s.FeatherFreq = static_cast<float>(FeatherFreqBox->value());
    const double att = AttenuateBox->value();
    s.AttenuateDb = att > 0.0 ? static_cast<float>(att) : SoftCut::kNoAttenuation;
    s.SmoothMs = static_cast<float>(SmoothBox->value());
    return s.Limited();
}

void TSetOptForm::ShowSoftCut(const SoftCut& soft)
{
    QDoubleSpinBox* const boxes[] = {FeatherPanBox, FeatherDepthBox, FeatherFreqBox, AttenuateBox,
                                     SmoothBox};
    for (QDoubleSpinBox* box : boxes)
        box->blockSignals(true);
    FeatherPanBox->setValue(soft.FeatherPanDb);
    FeatherDepthBox->setValue(soft.FeatherDepth);
    FeatherFreqBox->setValue(soft.FeatherFreq);
    AttenuateBox->setValue(soft.AttenuateDb < SoftCut::kNoAttenuation ? soft.AttenuateDb : 0.0);
    SmoothBox->setValue(soft.SmoothMs);
    for (QDoubleSpinBox* box : boxes)
        box->blockSignals(false);
}

void TSetOptForm::SetErrorReporter(ErrorReporter reporter)
{
    mReportError = reporter ? std::move(reporter) : ErrorReporter(ShowErrorBox);
}

QString TSetOptForm::WriteFailureText(const QString& iniPath)
{
    return QString::fromStdString(
        TLangSet().SettingsWriteFailureText(QDir::toNativeSeparators(iniPath).toStdString()));
}

void TSetOptForm::SetDefaults()
{
    InBuffSize = kDefaultBuffSize;
    InQtyLevel = kDefaultQtyLevel;
    InSoft = SoftCut();
    InKeepPlaying = false;
}

void TSetOptForm::MakeIniPath(const QString& iniPath)
{
    if (!iniPath.isEmpty()) {
        IniFileName = iniPath;
        CreateSettingsFolder(QFileInfo(iniPath).absolutePath().toStdString());
        return;
    }
    // A folder that cannot be made is not reported: the defaults serve, and a write reports.
    const std::string folder = SettingsFolder();
    CreateSettingsFolder(folder);
    IniFileName = QString::fromStdString(SettingsFilePath(folder, ProgramFilePath()));
}

void TSetOptForm::LoadOptions()
{
    ReadOptions(IniFileName.toStdString(), InBuffSize, InQtyLevel);
    ReadSoftCut(IniFileName.toStdString(), InSoft);
    ReadKeepPlaying(IniFileName.toStdString(), InKeepPlaying);
}

void TSetOptForm::ApplyLimits()
{
    BuffSize = LimitBuffSize(InBuffSize);
    QtyLevel = InQtyLevel;
    Soft = InSoft.Limited();
    KeepPlaying = InKeepPlaying;
}

bool TSetOptForm::SaveOptions()
{
    return WriteOptions(IniFileName.toStdString(), BuffSize, QtyLevel, Soft, KeepPlaying);
}

void TSetOptForm::showEvent(QShowEvent* event)
{
    // Only an opening by the program: a window system's show (a restore from the task bar)
    // must not overwrite what the user is typing.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

void TSetOptForm::FormShow()
{
    BuffSizeBox->setEditText(QString::number(BuffSize));
    // A stored level outside the bar's range shows at the nearest end.
    QtyPfmBar->setValue(QtyLevel);
    ShowSoftCut(Soft);
    KeepPlayingCheck->setChecked(KeepPlaying);
}

void TSetOptForm::ResetBtnClick()
{
    SetDefaults();
    BuffSizeBox->setEditText(QString::number(kDefaultBuffSize));
    QtyPfmBar->setValue(kDefaultQtyLevel);
    KeepPlayingCheck->setChecked(false);
    // Heard at once, like any change on the page; confirmed only by OK.
    ShowSoftCut(SoftCut());
    emit SoftCutEdited(SoftCutFromPage());
    update();
}

bool TSetOptForm::FormClose()
{
    // Text that is not a whole number keeps the length in effect.
    int typed = 0;
    InBuffSize =
        ParseIniInteger(BuffSizeBox->currentText().toStdString(), typed) ? typed : BuffSize;
    InQtyLevel = QtyPfmBar->value();
    InSoft = SoftCutFromPage();
    InKeepPlaying = KeepPlayingCheck->isChecked();
    ApplyLimits();
    if (SaveOptions())
        return true;
    mReportError(this, WriteFailureText(IniFileName));
    return false;
}

void TSetOptForm::done(int result)
{
    if (result == QDialog::Accepted && !FormClose())
        return;
    QDialog::done(result);
}

} // namespace varnel
