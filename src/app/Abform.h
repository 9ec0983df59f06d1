#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace varnel {

// The question the save command asks when A and B are set: save the A-B stretch (result 1),
// the whole file (8), or nothing (2, also when the dialog is closed by its close button or
// Escape).
class TAbSaveForm : public QDialog
{
    Q_OBJECT

public:
    // The dialog's results.
    static constexpr int kSaveAB = 1;
    static constexpr int kSaveAll = 8;
    static constexpr int kCancel = 2;

    // GUI thread. Builds the dialog with its controls and texts.
    explicit TAbSaveForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;

    // GUI thread. Closing without a button is Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
};

// Created at start-up; the save command shows it.
extern TAbSaveForm* AbSaveForm;

} // namespace varnel
