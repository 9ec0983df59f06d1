#include "app/Mainform.h"

#include "app/ElidedLabel.h"
#include "app/FileFilter.h"
#include "app/InstallLayout.h"
#include "app/MapScreen.h"
#include "app/OpenDocument.h"
#include "app/PaintBox.h"
#include "app/Pictures.h"
#include "app/TextFit.h"
#include "audio/PlayTime.h"
#include "audio/WaveCheck.h"
#include "settings/FormLabels.h"
#include "settings/FormPlacement.h"
#include "settings/MessageBox.h"
#include "settings/Setform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <initializer_list>
#include <limits>

namespace varnel {

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 822;
constexpr int kClientHeight = 584;
constexpr int kTimerMs = 30;
// Between a slider's label and the slider.
constexpr int kSliderLabelGap = 4;

// The window's font: 12 pixels, from a family that has both the Japanese and the Chinese
// texts (the first one found is used).
QFont WindowFont(bool japanese)
{
    QFont font;
    font.setFamilies(japanese ? QStringList{"Noto Sans CJK JP", "Noto Sans CJK SC",
                                            "WenQuanYi Micro Hei", "Microsoft YaHei"}
                              : QStringList{"Noto Sans CJK SC", "Noto Sans CJK JP",
                                            "WenQuanYi Micro Hei", "Microsoft YaHei"});
    font.setPixelSize(12);
    return font;
}

std::string LocalPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

void SetPicture(QPushButton* button, Picture picture)
{
    button->setIcon(PictureIcon(picture));
    button->setIconSize(PictureSize(picture));
}

template <typename W>
W* Make(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    W* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(left, top, width, height);
    return w;
}

QFrame* MakePanel(QWidget* parent, const char* name, int left, int top, int width, int height,
                  bool sunken)
{
    QFrame* panel = Make<QFrame>(parent, name, left, top, width, height);
    panel->setFrameStyle(sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
    panel->setLineWidth(1);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top, int width, int height,
                  const QString& text, Qt::Alignment alignment = Qt::AlignLeft)
{
    QLabel* label = Make<QLabel>(parent, name, left, top, width, height);
    label->setText(text);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

// A label whose size follows its text, placed with its right edge at a given column.
QLabel* MakeRightEndedLabel(QWidget* parent, const char* name, int right, int top,
                            const QString& text)
{
    QLabel* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const QSize size = label->sizeHint();
    label->setGeometry(right - size.width(), top, size.width(), size.height());
    return label;
}

QSlider* MakeTrackBar(QWidget* parent, const char* name, int left, int top, int width, int height,
                      int maximum, int position, int tick)
{
    QSlider* bar = Make<QSlider>(parent, name, left, top, width, height);
    bar->setOrientation(Qt::Horizontal);
    bar->setRange(0, maximum);
    bar->setValue(position);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(tick);
    bar->setPageStep(2);
    bar->setSingleStep(1);
    return bar;
}

} // namespace

TForm1::TForm1(QStringList arguments, std::unique_ptr<SoundRingDevice> device, Clock& clock,
               QWidget* parent)
    : QWidget(parent), Dsound(clock), mClock(clock), mArguments(std::move(arguments))
{
    // 1. The window from its layout; the file names are empty and the edges zero.
    CreateControls();
    HelpFolder = HelpDocumentFolder(QCoreApplication::applicationDirPath());

    // 2.-3. The sound device; without one the program runs silently.
    if (device)
        Dsound.OpenDevice(std::move(device));
    else
        Dsound.OpenDevice();
    Dsound.SetVisualSink(&VisualMap);

    // 4. The playback thread, parked until the first play.
    SoundThread = std::make_unique<ThSoundPlay>(Dsound, PlayIn, mClock);

    // 5. The map screens.
    ScreenSizes sizes;
    sizes.Screen1 = Screen1->size();
    sizes.Screen2 = Screen2->size();
    sizes.PanScale = PanNoImg->size();
    sizes.FreqScale = FrqNoImg->size();
    ScreenMap = std::make_unique<TScreenMap>(&VisualMap, sizes);
    ScreenMap->DrawInitial();

    // 6. The start-up area.
    Area = AreaEditor(
        AreaScreens{Screen1->width(), Screen1->height(), Screen2->width(), Screen2->height()});
    PanScale = 50.0f;
    HalfRate = 22050;

    // 7. The visual map for the values before any file.
    VisualMap.Init(kMapPanCells, kMapFreqCells, kMapDepthCells, kFreqAxisFloorHz,
                   static_cast<float>(HalfRate), PanScale);

    // 8. The scales and the filter parameters from the sliders.
    PanScaleBarChange();
    ColorScaleBarChange();
    UpdateFilterParams();

    // 9. The interaction state.
    // (The area editor starts with nothing grabbed, no drag and neither edge fixed.)
    Playing = Inverted = Seeked = SaveAB = false;
    RepeatState = PointA = PointB = 0;
    VisualOn = true;

    // 10. The texts of the user's language.
    setFont(WindowFont(LangSet.IsJapanese()));
    ApplyFormLabels(*this, TLangSet::Form1Labels(), LangSet);
    FitCaptions();

    // 11. Files may be dropped on the window.
    setAcceptDrops(true);

    ConnectControls();
    CreateShortcuts();
}

TForm1::~TForm1()
{
    if (!mClosed)
        FormClose();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::CreateControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Varnel"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(WindowFont(true));
    // A click on the maps or between the controls takes the focus from the controls, so that
    // Space and Home are the window's again.
    setFocusPolicy(Qt::ClickFocus);

    Label3 = MakeLabel(this, "Label3", 10, 12, 94, 14, QStringLiteral("入力WAVEファイル"),
                       Qt::AlignRight);
    Panel2 = MakePanel(this, "Panel2", 109, 8, 388, 25, true);
    InputFileNameLabel = Make<ElidedLabel>(Panel2, "InputFileNameLabel", 8, 4, 372, 19);
    InputFileNameLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FileOpenBtn = Make<QPushButton>(this, "FileOpenBtn", 508, 8, 109, 25);
    FileOpenBtn->setText(QStringLiteral("ファイルを開く"));
    SetPicture(FileOpenBtn, Picture::OpenFile);
    FileSaveBtn = Make<QPushButton>(this, "FileSaveBtn", 625, 8, 112, 25);
    FileSaveBtn->setText(QStringLiteral("ファイルに保存..."));
    SetPicture(FileSaveBtn, Picture::SaveFile);
    SetBtn = Make<QPushButton>(this, "SetBtn", 752, 8, 25, 25);
    SetBtn->setToolTip(QStringLiteral("設定"));
    SetPicture(SetBtn, Picture::Settings);
    HelpBtn = Make<QPushButton>(this, "HelpBtn", 784, 8, 25, 25);
    HelpBtn->setToolTip(QStringLiteral("ヘルプ"));
    SetPicture(HelpBtn, Picture::Help);

    WformLbl = MakeLabel(this, "WformLbl", 22, 47, 155, 14, QString());
    Label1 = MakeLabel(this, "Label1", 237, 49, 121, 16, QStringLiteral("定位"), Qt::AlignHCenter);
    PgmNameLbl = MakeRightEndedLabel(this, "PgmNameLbl", 564, 42, QStringLiteral("Varnel V1.0"));
    RightsLbl = MakeRightEndedLabel(this, "RightsLbl", 563, 56, QStringLiteral("© 2026 Varnel"));
    Label2 = MakeLabel(this, "Label2", 672, 49, 81, 16, QStringLiteral("奥行き"), Qt::AlignHCenter);
    Panel4 = MakePanel(this, "Panel4", 578, 50, 50, 16, false);
    FrqHiLbl =
        MakeLabel(Panel4, "FrqHiLbl", 0, 0, 50, 16, QStringLiteral("00000Hz"), Qt::AlignRight);

    Panel1 = MakePanel(this, "Panel1", 16, 71, 562, 342, true);
    Screen1 = Make<MapScreen>(Panel1, "Screen1", 1, 1, 560, 340);
    FrqNoImg = Make<PaintBox>(this, "FrqNoImg", 578, 72, 33, 340);
    Panel3 = MakePanel(this, "Panel3", 611, 71, 198, 342, true);
    Screen2 = Make<MapScreen>(Panel3, "Screen2", 1, 1, 196, 340);
    PanNoImg = Make<PaintBox>(this, "PanNoImg", 17, 413, 560, 18);
    Panel5 = MakePanel(this, "Panel5", 578, 418, 50, 16, false);
    FrqLwLbl =
        MakeLabel(Panel5, "FrqLwLbl", 0, 0, 50, 16, QStringLiteral("00000Hz"), Qt::AlignRight);

    Screen1->OnPaint = [this](QPainter& p, const QRect& r) {
        if (ScreenMap)
            ScreenMap->PaintScreen1(p, r);
        // The file dialogs take a good part of the start-up: they wait until the window is
        // on the screen.
        if (!OpenDialog1 && !mDialogsQueued) {
            mDialogsQueued = true;
            QTimer::singleShot(0, this, [this] { CreateFileDialogs(); });
        }
    };
    Screen2->OnPaint = [this](QPainter& p, const QRect& r) {
        if (ScreenMap)
            ScreenMap->PaintScreen2(p, r);
    };
    FrqNoImg->OnPaint = [this](QPainter& p, const QRect& r) {
        if (ScreenMap)
            p.drawImage(r, ScreenMap->FreqScaleImage(), r);
    };
    PanNoImg->OnPaint = [this](QPainter& p, const QRect& r) {
        if (ScreenMap)
            p.drawImage(r, ScreenMap->PanScaleImage(), r);
    };
    Screen1->OnMouseDown = [this](int x, int y) { Screen1MouseDown(x, y); };
    Screen1->OnMouseMove = [this](int x, int y) { Screen1MouseMove(x, y); };
    Screen1->OnMouseUp = [this](int x, int y) { Screen1MouseUp(x, y); };
    Screen1->OnDoubleClick = [this] { Screen1DblClick(); };
    Screen2->OnMouseDown = [this](int x, int y) { Screen2MouseDown(x, y); };
    Screen2->OnMouseMove = [this](int x, int y) { Screen2MouseMove(x, y); };
    Screen2->OnMouseUp = [this](int x, int y) { Screen2MouseUp(x, y); };
    Screen2->OnDoubleClick = [this] { Screen2DblClick(); };

    PanMaxBtn = Make<QPushButton>(this, "PanMaxBtn", 93, 438, 89, 25);
    PanMaxBtn->setText(QStringLiteral("定位最大化"));
    CenterBtn = Make<QPushButton>(this, "CenterBtn", 253, 438, 89, 25);
    CenterBtn->setText(QStringLiteral("定位中央"));
    FrqMaxBtn = Make<QPushButton>(this, "FrqMaxBtn", 413, 438, 89, 25);
    FrqMaxBtn->setText(QStringLiteral("周波数最大化"));
    PhaseMaxBtn = Make<QPushButton>(this, "PhaseMaxBtn", 668, 438, 89, 25);
    PhaseMaxBtn->setText(QStringLiteral("奥行最大化"));

    // The frame first, so the transport controls lie above it.
    Bevel3 = Make<QFrame>(this, "Bevel3", 8, 472, 425, 97);
    Bevel3->setFrameStyle(QFrame::Box | QFrame::Sunken);
    PlayBar = MakeTrackBar(this, "PlayBar", 17, 484, 408, 30, 0, 0, 1);
    Panel6 = MakePanel(this, "Panel6", 26, 532, 50, 16, false);
    TstmpLbl = MakeLabel(Panel6, "TstmpLbl", 0, 0, 50, 16, QStringLiteral("00:00"), Qt::AlignRight);
    RewButton = Make<QPushButton>(this, "RewButton", 90, 523, 75, 33);
    SetPicture(RewButton, Picture::Rewind);
    PlayButton = Make<QPushButton>(this, "PlayButton", 200, 523, 89, 33);
    // Drawn once: the button only switches between the two.
    PlayImages = {PictureIcon(Picture::Play), PictureIcon(Picture::Pause)};
    PlayButton->setIconSize(PictureSize(Picture::Play));
    PlayButton->setIcon(PlayImages[0]);
    RepeatBtn = Make<QPushButton>(this, "RepeatBtn", 324, 523, 75, 33);
    for (int state = 0; state < 3; ++state)
        ABImages[static_cast<size_t>(state)] = PictureIcon(RepeatPicture(state));
    RepeatBtn->setIconSize(PictureSize(Picture::RepeatOff));
    RepeatBtn->setIcon(ABImages[0]);

    Label4 = new QLabel(QStringLiteral("再生音量"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->move(440, 479);
    Label4->adjustSize();
    VolumeBar = MakeTrackBar(this, "VolumeBar", 520, 475, 150, 33, 20, 20, 2);
    Label5 = new QLabel(QStringLiteral("定位スケール"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->move(440, 514);
    Label5->adjustSize();
    PanScaleBar = MakeTrackBar(this, "PanScaleBar", 520, 511, 150, 33, 10, 3, 1);
    Label6 = new QLabel(QStringLiteral("カラースケール"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->move(440, 550);
    Label6->adjustSize();
    ColorScaleBar = MakeTrackBar(this, "ColorScaleBar", 520, 547, 150, 33, 10, 5, 1);

    PanCheck = Make<QCheckBox>(this, "PanCheck", 703, 477, 97, 17);
    PanCheck->setText(QStringLiteral("定位固定"));
    FreqCheck = Make<QCheckBox>(this, "FreqCheck", 703, 500, 97, 17);
    FreqCheck->setText(QStringLiteral("周波数固定"));
    InvCheck = Make<QCheckBox>(this, "InvCheck", 703, 524, 97, 17);
    InvCheck->setText(QStringLiteral("抽出エリア反転"));
    VisOffCheck = Make<QCheckBox>(this, "VisOffCheck", 703, 548, 97, 17);
    VisOffCheck->setText(QStringLiteral("ビジュアルなし"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerMs);
    Timer1->setTimerType(Qt::PreciseTimer);
}

void TForm1::CreateFileDialogs()
{
    if (OpenDialog1)
        return;
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setOption(QFileDialog::HideNameFilterDetails);
}

void TForm1::FitCaptions()
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             Label3, FileOpenBtn, FileSaveBtn, Label1, Label2, PanMaxBtn, CenterBtn, FrqMaxBtn,
             PhaseMaxBtn, PanCheck, FreqCheck, InvCheck, VisOffCheck})
        FitCaption(*control, TextRoom(*control));
    // The sliders' labels take their text's width, short of their sliders by a small gap.
    for (auto [label, bar] : {std::pair{Label4, VolumeBar}, std::pair{Label5, PanScaleBar},
                              std::pair{Label6, ColorScaleBar}}) {
        FitCaption(*label, bar->x() - kSliderLabelGap - label->x());
        label->adjustSize();
    }
    // These two end at a given column whatever their texts.
    for (auto [label, right] : {std::pair{PgmNameLbl, 564}, std::pair{RightsLbl, 563}}) {
        label->adjustSize();
        label->move(right - label->width(), label->y());
    }
}

void TForm1::ConnectControls()
{
    connect(FileOpenBtn, &QPushButton::clicked, this, [this] { FileOpenBtnClick(); });
    connect(FileSaveBtn, &QPushButton::clicked, this, [this] { FileSaveBtnClick(); });
    connect(SetBtn, &QPushButton::clicked, this, [this] { SetBtnClick(); });
    connect(HelpBtn, &QPushButton::clicked, this, [this] { HelpBtnClick(); });
    connect(PanMaxBtn, &QPushButton::clicked, this, [this] { PanMaxBtnClick(); });
    connect(CenterBtn, &QPushButton::clicked, this, [this] { CenterBtnClick(); });
    connect(FrqMaxBtn, &QPushButton::clicked, this, [this] { FrqMaxBtnClick(); });
    connect(PhaseMaxBtn, &QPushButton::clicked, this, [this] { PhaseMaxBtnClick(); });
    connect(RewButton, &QPushButton::clicked, this, [this] { RewButtonClick(); });
    connect(PlayButton, &QPushButton::clicked, this, [this] { PlayButtonClick(); });
    connect(RepeatBtn, &QPushButton::clicked, this, [this] { RepeatBtnClick(); });
    connect(PlayBar, &QSlider::valueChanged, this, [this] { PlayBarChange(); });
    connect(VolumeBar, &QSlider::valueChanged, this, [this] { VolumeBarChange(); });
    connect(PanScaleBar, &QSlider::valueChanged, this, [this] { PanScaleBarChange(); });
    connect(ColorScaleBar, &QSlider::valueChanged, this, [this] { ColorScaleBarChange(); });
    connect(PanCheck, &QCheckBox::toggled, this, [this] { PanCheckClick(); });
    connect(FreqCheck, &QCheckBox::toggled, this, [this] { FreqCheckClick(); });
    connect(InvCheck, &QCheckBox::toggled, this, [this] { InvCheckClick(); });
    connect(VisOffCheck, &QCheckBox::toggled, this, [this] { VisOffCheckClick(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TForm1::CreateShortcuts()
{
    const auto add = [this](const QKeySequence& keys, void (TForm1::*handler)()) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, handler] { (this->*handler)(); });
    };
    // Space and Home are not shortcuts: keyPressEvent takes them only when the focused control
    // has no use for them.
    add(QKeySequence(Qt::CTRL | Qt::Key_O), &TForm1::FileOpenBtnClick);
    add(QKeySequence(Qt::CTRL | Qt::Key_S), &TForm1::FileSaveBtnClick);
    add(QKeySequence(Qt::Key_F1), &TForm1::HelpBtnClick);
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
}

// ---- Start and end ------------------------------------------------------------------------

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // Reaches the window only when the focused control left the key alone (a check box keeps
    // Space, a slider Home) or when the window itself has the focus.
    if (event->modifiers() == Qt::NoModifier && event->key() == Qt::Key_Space)
        PlayButtonClick();
    else if (event->modifiers() == Qt::NoModifier && event->key() == Qt::Key_Home)
        RewButtonClick();
    else
        QWidget::keyPressEvent(event);
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (mShown)
        return;
    mShown = true;
    // The window, not its first button, has the keys at the start, so Space plays.
    setFocus(Qt::OtherFocusReason);
    CentreOnScreen(*this);
    FormShow();
}

void TForm1::FormShow()
{
    BufferMs = SetOptForm ? SetOptForm->GetBuffSize() : kDefaultBuffSize;
    Quality = SetOptForm ? SetOptForm->GetQtyLevel() : kDefaultQtyLevel;
    ApplySoftCut(SetOptForm ? SetOptForm->GetSoftCut() : SoftCut());
    // Once the window is on the screen, so that a warning about the file shows over it.
    if (!mArguments.isEmpty())
        QTimer::singleShot(0, this, [this] { LoadWaveFile(mArguments.first()); });
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!mClosed)
        FormClose();
    event->accept();
}

void TForm1::FormClose()
{
    StopPlayback();
    Timer1->stop();
    SoundThread.reset();
    PlayIn.Close();
    Dsound.ReleaseStream();
    ScreenMap.reset();
    mClosed = true;
}

// ---- Loading ------------------------------------------------------------------------------

void TForm1::StopPlayback()
{
    if (Playing)
        PlayButtonClick();
    // Parked already after a pause; this only makes sure of it.
    if (SoundThread)
        SoundThread->RequestPause();
}

void TForm1::ShowWarning(const QString& text)
{
    ShowMessageBox(this, MessageKind::Warning, text);
}

bool TForm1::CheckWaveFile(const QString& path, QLabel* label)
{
    WaveFormat format;
    const MessageId message = varnel::CheckWaveFile(LocalPath(path), &format);
    if (message != 0) {
        ShowWarning(FileMessageText(path, QString::fromStdString(LangSet.GetMsgText(message))));
        return true;
    }
    if (label)
        label->setText(QString::fromStdString(FormatLabelText(format)));
    return false;
}

void TForm1::ChooseFftParams(int quality, int sampleRate)
{
    const FftParams params = varnel::ChooseFftParams(quality, sampleRate);
    FftSize = params.FftSize;
    Overlap = params.Overlap;
}

void TForm1::LoadWaveFile(const QString& path)
{
    if (CheckWaveFile(path, WformLbl))
        return;
    StopPlayback();

    InputFileName = path;
    InputFileNameLabel->SetFullText(QDir::toNativeSeparators(path));
    PlayIn.Close();
    PlayIn.OpenRead(LocalPath(InputFileName));
    HalfRate = static_cast<int>(PlayIn.Format.SamplesPerSec >> 1);
    SoundThread->SetHalfRate(HalfRate);
    ChooseFftParams(Quality, 2 * HalfRate);
    Dsound.ReleaseStream();
    Dsound.PrepareStream(PlayIn, BufferMs, FftSize, Overlap);

    // The new stream gets the current area, volume, invert and visual settings.
    UpdateFilterParams();
    PanScaleBarChange();
    VolumeBarChange();
    InvCheckClick();
    VisOffCheckClick();

    VisualMap.AllocFrames(2 * HalfRate, BufferMs, Overlap, FftSize);
    VisualMap.SetFreqRange(FftSize / 2, kFreqAxisFloorHz, static_cast<float>(HalfRate));

    RepeatState = PointA = PointB = 0;
    SetRepeatGlyph(0);
    PlayLatency = PlayLatencyFrames(HalfRate, BufferMs, FftSize, Overlap);

    const int frames = static_cast<int>(PlayIn.DataSize / PlayIn.Format.BlockAlign);
    PlayBar->setTickInterval(frames / 10);
    PlayBar->setMaximum(frames);
    PlayBar->setPageStep(frames / 40);
    PlayBar->setSingleStep(frames / 100);
    PlayBar->setValue(0);

    VisualMap.Clear();
    ComposeScreens();
}

void TForm1::FileOpenBtnClick()
{
    StopPlayback();
    CreateFileDialogs();
    OpenDialog1->setNameFilter(
        QtFileFilter(QString::fromStdString(LangSet.GetMsgText(kMsgOpenDialogFilter))));
    // The next file is most often beside the one that is loaded.
    if (!InputFileName.isEmpty())
        OpenDialog1->setDirectory(QFileInfo(InputFileName).absolutePath());
    if (OpenDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = OpenDialog1->selectedFiles();
    if (!files.isEmpty())
        LoadWaveFile(files.first());
}

void TForm1::HandleDropFiles(const QStringList& paths)
{
    StopPlayback();
    if (paths.isEmpty())
        return;
    const QString& path = paths.first();
    if (QFileInfo(path).suffix().compare(QStringLiteral("wav"), Qt::CaseInsensitive) != 0) {
        ShowWarning(QString::fromStdString(LangSet.GetMsgText(kMsgDropWaveFile)));
        return;
    }
    LoadWaveFile(path);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths += url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    HandleDropFiles(paths);
}

void TForm1::SetBtnClick()
{
    // Playback stops before the options open, unless the user asked for it to go on (as the
    // box stood when the dialog opened): then the soft cut's page is heard as it is edited.
    const bool keepPlaying = SetOptForm && SetOptForm->GetKeepPlaying();
    if (!keepPlaying)
        StopPlayback();
    if (!SetOptForm)
        return;
    QMetaObject::Connection edits;
    if (keepPlaying)
        edits = connect(SetOptForm, &TSetOptForm::SoftCutEdited, this, [this](const SoftCut& soft) {
            if (SoundThread)
                SoundThread->PostSoftCut(soft);
        });
    SetOptForm->exec();
    disconnect(edits);
    // The dialog's own buttons decide whether its values change: after Cancel the soft cut in
    // effect is posted again, over any edit heard meanwhile. A new buffer length or quality
    // reloads the file, which pauses it.
    ApplySoftCut(SetOptForm->GetSoftCut());
    ApplyOptions(SetOptForm->GetBuffSize(), SetOptForm->GetQtyLevel());
}

void TForm1::ApplySoftCut(const SoftCut& soft)
{
    Soft = soft;
    if (SoundThread)
        SoundThread->PostSoftCut(Soft);
}

void TForm1::ApplyOptions(int bufferMs, int quality)
{
    if (bufferMs == BufferMs && quality == Quality)
        return;
    BufferMs = bufferMs;
    Quality = quality;
    if (!PlayIn.IsOpen)
        return;
    const int repeatState = RepeatState;
    const int pointA = PointA;
    const int pointB = PointB;
    const int position = PlayBar->value();
    LoadWaveFile(InputFileName);
    // Counts as a user's seek, so the next play starts here after a flush.
    LastTimerPos = std::numeric_limits<int>::max();
    PlayBar->setValue(position);
    RepeatState = repeatState;
    PointA = pointA;
    PointB = pointB;
    SetRepeatGlyph(RepeatState);
}

void TForm1::HelpBtnClick()
{
    const int message =
        HelpMessageFor(OpenDocument(HelpFolder + QStringLiteral("/VarnelHelp.pdf")));
    if (message != 0)
        ShowWarning(QString::fromStdString(LangSet.GetMsgText(message)));
}

void TForm1::VisOffCheckClick()
{
    VisualOn = !VisOffCheck->isChecked();
    if (SoundThread)
        SoundThread->PostVisualFeed(VisualOn);
    if (ScreenMap)
        ScreenMap->SetShowVisual(VisualOn);
    ComposeScreens();
}

void TForm1::ColorScaleBarChange()
{
    VisualMap.SetColourScale(ColorScaleBar->value());
}

// ---- Drawing -----------------------------------------------------------------------------

AreaEdges TForm1::Edges() const
{
    return Area.Edges();
}

void TForm1::SetEdges(const AreaEdges& e)
{
    Area.SetEdges(e);
}

void TForm1::ComposeScreens()
{
    if (!ScreenMap)
        return;
    ScreenMap->Compose(Area.Edges());
    Screen1->update();
    Screen2->update();
}

void TForm1::RedrawBackground()
{
    if (!ScreenMap)
        return;
    ScreenMap->DrawBackground(static_cast<float>(HalfRate), kFreqAxisFloorHz, PanScale);
    FrqNoImg->update();
    PanNoImg->update();
}

// ---- Transport -----------------------------------------------------------------------------

void TForm1::PlayButtonClick()
{
    if (!PlayIn.IsOpen || !SoundThread)
        return;
    if (Playing) {
        SoundThread->RequestPause();
        Timer1->stop();
        Playing = false;
        Seeked = false;
        PlayButton->setIcon(PlayImages[0]);
        return;
    }
    if (Seeked) {
        // The thread is parked (every pause parks it), so the stream is the GUI's to flush.
        Dsound.Flush();
        VisualMap.Clear();
    }
    Dsound.ClearReadFault();
    SoundThread->Resume();
    Timer1->start();
    Playing = true;
    Seeked = false;
    PlayButton->setIcon(PlayImages[1]);
}

void TForm1::RewButtonClick()
{
    PlayBar->setValue(0);
}

void TForm1::PlayBarChange()
{
    if (!PlayIn.IsOpen)
        return;
    const int position = PlayBar->value();
    TstmpLbl->setText(QString::fromStdString(FormatPlayTime(position - PlayLatency, HalfRate)));
    if (position != LastTimerPos) {
        SoundThread->PostSeek(position);
        Seeked = true;
    }
}

void TForm1::RepeatBtnClick()
{
    if (!PlayIn.IsOpen)
        return;
    const int heard = std::max(PlayBar->value() - PlayLatency, 0);
    switch (RepeatState) {
    case 0:
        PointA = heard;
        RepeatState = 1;
        break;
    case 1:
        PointB = heard;
        if (PointB < PointA)
            std::swap(PointA, PointB);
        RepeatState = 2;
        break;
    default:
        PointA = PointB = 0;
        RepeatState = 0;
        break;
    }
    SetRepeatGlyph(RepeatState);
}

void TForm1::SetRepeatGlyph(int state)
{
    RepeatBtn->setIcon(ABImages[static_cast<size_t>(std::clamp(state, 0, 2))]);
}

void TForm1::VolumeBarChange()
{
    if (!PlayIn.IsOpen)
        return;
    Volume = VolumeFromSlider(VolumeBar->value());
    SoundThread->PostVolume(Volume);
}

void TForm1::Timer1Timer()
{
    if (!Playing)
        return;
    if (Dsound.ReadFault()) {
        // The file can no longer be read where it plays: stop there and say so.
        PlayButtonClick();
        ShowWarning(
            FileMessageText(InputFileName, QString::fromStdString(LangSet.ReadFaultText())));
        return;
    }
    LastTickTime = mClock.Milliseconds();
    const int position = static_cast<int>(PlayIn.TellFrame());
    LastTimerPos = position;
    PlayBar->setValue(position);

    if (VisualOn) {
        const bool overloaded = SoundThread->Overloaded();
        if (overloaded)
            ++OverloadTicks;
        if (!overloaded || OverloadTicks > 10) {
            ComposeScreens();
            OverloadTicks = 0;
        }
    }
    if (RepeatState == 2 && PlayBar->value() >= PointB)
        PlayBar->setValue(PointA);
    if (PlayBar->value() >= PlayBar->maximum()) {
        PlayButtonClick();
        RewButtonClick();
    }
}

} // namespace varnel
