#pragma once

#include "dsp/FilterParams.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;
class QWidget;

namespace varnel {

// The options dialog: the sound buffer length (100..1000 ms), the quality level and the soft
// cut (on a page of its own), kept in the settings file between runs. Made once at start-up
// and only hidden between uses. It reads the settings file while it is made; the main window
// takes BuffSize, QtyLevel and the soft cut when it is first shown and after each exec().
// Asked to keep playing, the window leaves playback running while the dialog is open and
// hears the soft cut's changes through SoftCutEdited. GUI thread only, like every widget.
class TSetOptForm : public QDialog
{
    Q_OBJECT

public:
    // Reports a failed write of the settings file; the text names the file. The default shows
    // the program's error box (ShowMessageBox) over the dialog.
    using ErrorReporter = std::function<void(QWidget* parent, const QString& text)>;

    // GUI thread. Labels the controls for the user's language, then reads the settings file
    // from the settings folder (created here when missing). iniPath overrides the file's
    // path (tests); empty takes the program's own settings file.
    explicit TSetOptForm(QWidget* parent = nullptr, const QString& iniPath = QString());
    ~TSetOptForm() override;

    // GUI thread. The values in effect.
    int GetBuffSize() const { return BuffSize; }
    int GetQtyLevel() const { return QtyLevel; }
    const SoftCut& GetSoftCut() const { return Soft; }
    // GUI thread. Whether playback goes on while the dialog is open (off unless asked).
    bool GetKeepPlaying() const { return KeepPlaying; }
    // GUI thread. The settings file's full path, fixed at construction.
    const QString& GetIniFileName() const { return IniFileName; }

    // GUI thread. Replaces how a write failure is shown (the program's message box, or a
    // test's capture); an empty function restores the default box.
    void SetErrorReporter(ErrorReporter reporter);

    // GUI thread. The write failure's text in the user's language, naming the settings file's
    // full path.
    static QString WriteFailureText(const QString& iniPath);

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* BuffSizeBox = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QSlider* QtyPfmBar = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* ResetBtn = nullptr;
    // The soft cut's page.
    QWidget* TabSheet3 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QDoubleSpinBox* FeatherPanBox = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QDoubleSpinBox* FeatherDepthBox = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QDoubleSpinBox* FeatherFreqBox = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label15 = nullptr;
    QDoubleSpinBox* AttenuateBox = nullptr; // 0 shows "∞": what the area removes is cleared
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
    QDoubleSpinBox* SmoothBox = nullptr;
    QLabel* Label18 = nullptr;
    QCheckBox* KeepPlayingCheck = nullptr;
    QLabel* Label19 = nullptr;

signals:
    // GUI thread. The soft cut as the page shows it now, after every change of its controls
    // (typed, stepped or reset) while the dialog is open, so it can be heard before it is
    // confirmed. The values in effect change only with OK.
    void SoftCutEdited(const varnel::SoftCut& soft);

public slots:
    // Closing with Accepted takes the typed values and stores them; when they cannot be
    // stored the error is shown and the dialog stays open. Any other result changes nothing.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void BuildSoftCutPage();
    // The soft cut the page's controls show, and showing one there (without SoftCutEdited).
    SoftCut SoftCutFromPage() const;
    void ShowSoftCut(const SoftCut& soft);
    void SetDefaults();
    void MakeIniPath(const QString& iniPath);
    void LoadOptions();
    void ApplyLimits();
    bool SaveOptions();
    void FormShow();
    void ResetBtnClick();
    // False when the values could not be stored (the dialog then stays open).
    bool FormClose();

    int InBuffSize = 0;
    int InQtyLevel = 0;
    QString IniFileName;
    int BuffSize = 0;
    int QtyLevel = 0;
    SoftCut InSoft;
    SoftCut Soft;
    bool InKeepPlaying = false;
    bool KeepPlaying = false;
    ErrorReporter mReportError;
};

// The options dialog that start-up makes after the main window and the two save dialogs, and
// deletes after the event loop ends. GUI thread only.
extern TSetOptForm* SetOptForm;

} // namespace varnel
