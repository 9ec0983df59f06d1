#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;
class QWidget;

namespace varnel {

// The options dialog: the sound buffer length (100..1000 ms) and the quality level, kept in
// the settings file between runs. Made once at start-up and only hidden between uses. It
// reads the settings file while it is made; the main window takes BuffSize and QtyLevel when
// it is first shown and after each exec(). GUI thread only, like every widget.
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

public slots:
    // Closing with Accepted takes the typed values and stores them; when they cannot be
    // stored the error is shown and the dialog stays open. Any other result changes nothing.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
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
    ErrorReporter mReportError;
};

// The options dialog that start-up makes after the main window and the two save dialogs, and
// deletes after the event loop ends. GUI thread only.
extern TSetOptForm* SetOptForm;

} // namespace varnel
