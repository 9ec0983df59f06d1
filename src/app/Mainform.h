#pragma once

#include "app/AreaEditor.h"
#include "audio/Tdsound.h"
#include "audio/Thsndplay.h"
#include "audio/Twave.h"
#include "dsp/AreaMapping.h"
#include "platform/Clock.h"
#include "platform/SoundRingDevice.h"
#include "settings/Langset.h"
#include "settings/Options.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace varnel {

class ElidedLabel;
class MapScreen;
class PaintBox;

// The main window: it owns the playback reader, the sound output, the playback thread, the
// visual map and the map screens, and every handler of the window. A save's files belong to
// the save (SaveFile) while it runs.
//
// GUI thread only.
//
// Every command that re-creates the stream, the reader or the visual ring, or that saves,
// first runs StopPlayback, so the playback thread is parked whenever they change.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    // GUI thread. arguments: the program's command-line arguments after its name (the first
    // one is loaded when the window is first shown). device: the sound device to play on;
    // null opens SDL's default output (the silent device where there is none). clock drives
    // the playback thread, the timer's tick time and the silent device.
    explicit TForm1(QStringList arguments = QStringList(),
                    std::unique_ptr<SoundRingDevice> device = nullptr, Clock& clock = SteadyClock(),
                    QWidget* parent = nullptr);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // ---- Loading (GUI thread) ----------------------------------------------------------------
    // Checks the file and, when it passes, makes it the loaded file. Stops playback first.
    void LoadWaveFile(const QString& path);
    // True when the file fails the check (after telling the user); false when it passes
    // (after writing the format into label).
    bool CheckWaveFile(const QString& path, QLabel* label);
    // A warning box with one OK button.
    void ShowWarning(const QString& text);
    // Sets FftSize and Overlap for a quality level and a sample rate.
    void ChooseFftParams(int quality, int sampleRate);
    // Makes OpenDialog1 and SaveDialog1 when they do not exist yet: on first use, or once the
    // window has first been painted.
    void CreateFileDialogs();
    // Pauses playback as the play button does, when it runs; otherwise does nothing.
    void StopPlayback();
    // Takes a buffer length and a quality level from the options. When they differ from the
    // values in effect and a file is loaded, reloads it so they take effect at once, keeping
    // the position and the A-B points; playback stays paused.
    void ApplyOptions(int bufferMs, int quality);
    // Takes the soft cut: kept for saves and posted to the playing filter, with no reload.
    void ApplySoftCut(const SoftCut& soft);

    // ---- Handlers of the window (GUI thread) -------------------------------------------------
    void FormShow();
    void FormClose();
    void FileOpenBtnClick();
    void FileSaveBtnClick();
    void HelpBtnClick();
    void SetBtnClick();
    void VisOffCheckClick();
    void ColorScaleBarChange();
    // The files dropped on the window, in the order the system gives them.
    void HandleDropFiles(const QStringList& paths);

    // ---- Extraction area (GUI thread) --------------------------------------------------------
    void Screen1MouseDown(int X, int Y);
    void Screen1MouseMove(int X, int Y);
    void Screen1MouseUp(int X, int Y);
    void Screen1DblClick();
    void Screen2MouseDown(int X, int Y);
    void Screen2MouseMove(int X, int Y);
    void Screen2MouseUp(int X, int Y);
    void Screen2DblClick();
    void PanMaxBtnClick();
    void FrqMaxBtnClick();
    void PhaseMaxBtnClick();
    void CenterBtnClick();
    void PanCheckClick();
    void FreqCheckClick();
    void InvCheckClick();
    void PanScaleBarChange();
    // Recomputes the filter parameters from the edges, shows the frequency range in FrqHiLbl
    // and FrqLwLbl and posts the three ranges to the playback thread.
    void UpdateFilterParams();
    // Composes the maps after a mouse edit; skipped while playing when the timer is late.
    void RefreshMaps();

    // ---- Transport (GUI thread) --------------------------------------------------------------
    void PlayButtonClick();
    void RewButtonClick();
    void RepeatBtnClick();
    void PlayBarChange();
    void VolumeBarChange();
    void Timer1Timer();
    // The repeat button's picture for a repeat state 0..2.
    void SetRepeatGlyph(int state);

    // ---- Drawing (GUI thread) ----------------------------------------------------------------
    // Composes both screens with the two rectangles and repaints them.
    void ComposeScreens();
    // Redraws the grids and both scales for HalfRate and PanScale and repaints the scales.
    // Call ComposeScreens after it.
    void RedrawBackground();
    // The eight edges as one value.
    AreaEdges Edges() const;
    // Sets the eight edges.
    void SetEdges(const AreaEdges& edges);

    // ---- Owned objects -----------------------------------------------------------------------
    TLangSet LangSet;
    std::unique_ptr<TScreenMap> ScreenMap;
    TWaveData PlayIn;
    TDsound Dsound;
    TVisualMap VisualMap;
    std::unique_ptr<ThSoundPlay> SoundThread;

    // ---- File and stream state ---------------------------------------------------------------
    QString InputFileName;
    QString OutputFileName;
    int HalfRate = 22050;
    int FftSize = 0;
    int Overlap = 0;
    int BufferMs = kDefaultBuffSize;
    int Quality = kDefaultQtyLevel;
    int PlayLatency = 0;
    bool VisualOn = true;

    // ---- Extraction area ---------------------------------------------------------------------
    // The eight edges, their saved copy, MaxMode, the grabs and cursors of both screens, the
    // drag and the fix flags: what the mouse and the area buttons edit.
    AreaEditor Area;
    bool Inverted = false;
    float PanScale = 50.0f;
    float FreqLowHz = 0.0f;
    float FreqHighHz = 0.0f;
    float PanLow = 0.0f;
    float PanHigh = 0.0f;
    float DepthLow = 0.0f;
    float DepthHigh = 0.0f;
    // How gently the area cuts, from the options; heard at once and used by saves.
    SoftCut Soft;

    // ---- Save ----------------------------------------------------------------------------------
    bool SaveAB = false;

    // ---- Transport -----------------------------------------------------------------------------
    bool Playing = false;
    bool Seeked = false;
    int RepeatState = 0;
    int PointA = 0;
    int PointB = 0;
    int LastTimerPos = 0;
    uint32_t LastTickTime = 0;
    int Volume = 0;
    int OverloadTicks = 0; // timer ticks that skipped redrawing while the thread fell behind

    // ---- Controls, under their object names ------------------------------------------------
    QLabel* Label3 = nullptr;
    QFrame* Panel2 = nullptr;
    ElidedLabel* InputFileNameLabel = nullptr;
    QPushButton* FileOpenBtn = nullptr;
    QPushButton* FileSaveBtn = nullptr;
    QPushButton* SetBtn = nullptr;
    QPushButton* HelpBtn = nullptr;
    QLabel* WformLbl = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* PgmNameLbl = nullptr;
    QLabel* RightsLbl = nullptr;
    QLabel* Label2 = nullptr;
    QFrame* Panel4 = nullptr;
    QLabel* FrqHiLbl = nullptr;
    QFrame* Panel1 = nullptr;
    MapScreen* Screen1 = nullptr;
    PaintBox* FrqNoImg = nullptr;
    QFrame* Panel3 = nullptr;
    MapScreen* Screen2 = nullptr;
    PaintBox* PanNoImg = nullptr;
    QFrame* Panel5 = nullptr;
    QLabel* FrqLwLbl = nullptr;
    QPushButton* PanMaxBtn = nullptr;
    QPushButton* CenterBtn = nullptr;
    QPushButton* FrqMaxBtn = nullptr;
    QPushButton* PhaseMaxBtn = nullptr;
    QFrame* Bevel3 = nullptr;
    QSlider* PlayBar = nullptr;
    QFrame* Panel6 = nullptr;
    QLabel* TstmpLbl = nullptr;
    QPushButton* RewButton = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* RepeatBtn = nullptr;
    QLabel* Label4 = nullptr;
    QSlider* VolumeBar = nullptr;
    QLabel* Label5 = nullptr;
    QSlider* PanScaleBar = nullptr;
    QLabel* Label6 = nullptr;
    QSlider* ColorScaleBar = nullptr;
    QCheckBox* PanCheck = nullptr;
    QCheckBox* FreqCheck = nullptr;
    QCheckBox* InvCheck = nullptr;
    QCheckBox* VisOffCheck = nullptr;
    // Made by CreateFileDialogs, after the first paint or on first use.
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QTimer* Timer1 = nullptr;
    std::array<QIcon, 3> ABImages;   // the repeat button's pictures for states 0, 1 and 2
    std::array<QIcon, 2> PlayImages; // the play button's pictures: play (stopped), pause

    // The folder where the help document is looked for: the program's own folder.
    QString HelpFolder;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Space plays or pauses and Home rewinds, when the focused control does not use the key.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void ConnectControls();
    void CreateShortcuts();
    // Fits the captions into their controls and sizes the labels whose size follows their
    // text (after the texts of the language are set).
    void FitCaptions();

    Clock& mClock;
    QStringList mArguments;
    bool mShown = false;
    bool mClosed = false;
    bool mDialogsQueued = false;
};

// The main window, created first at start-up; the worker threads reach it through here.
extern TForm1* Form1;

// Any thread; pure. The file name the save dialog suggests for a save of the input: the
// input's name with "-extract.wav" in place of its extension, or "-remove.wav" when the area
// is inverted.
QString SuggestedSaveName(const QString& inputPath, bool inverted);

} // namespace varnel
