// Saving from the window against varnel-cli export of the same 3-minute file, and how long
// an abort takes from the press to the dialog gone. A timing program: prints its figures.
//
//     build/bench/bench_gui_save [RUNS]        (VARNEL_CLI names another varnel-cli)

#include "app/Mainform.h"
#include "app/Saveform.h"
#include "audio/Twave.h"
#include "settings/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr int kSeconds = 180;

void WriteMix(const std::string& path)
{
    varnel::TWaveData out;
    out.Format = varnel::WaveFormat::PcmStereo16(kRate);
    if (out.OpenWrite(path) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::vector<int16_t> block(2 * kRate);
    uint32_t noise = 12345;
    for (int s = 0; s < kSeconds; ++s) {
        for (int i = 0; i < kRate; ++i) {
            const double t = s + static_cast<double>(i) / kRate;
            const double centre = 6000 * std::sin(2 * M_PI * 220 * t);
            const double left = 4000 * std::sin(2 * M_PI * 1234.5 * t);
            const double right = 3000 * std::sin(2 * M_PI * 3100 * t + 0.3);
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 16) - 32768.0) * 0.03;
            block[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + left + hiss);
            block[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(centre + right - hiss);
        }
        out.Write(block.data(), static_cast<int>(block.size() * 2));
    }
    out.Close();
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Answers the save dialog with path as soon as it shows; notes when it was accepted.
class FileAnswer
{
public:
    explicit FileAnswer(const QString& path)
    {
        mTimer.setInterval(1);
        QObject::connect(&mTimer, &QTimer::timeout, [this, path] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!files)
                return;
            const QFileInfo info(path);
            files->setDirectory(info.absolutePath());
            if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(info.fileName());
            if (files->selectedFiles() == QStringList{info.absoluteFilePath()}) {
                Accepted = Clock::now();
                mTimer.stop();
                QMetaObject::invokeMethod(files, "accept");
            }
        });
        mTimer.start();
    }
    Clock::time_point Accepted;

private:
    QTimer mTimer;
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("VARNEL_AUDIO", "null", 0);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QApplication app(argc, argv);
    const QString cli = qEnvironmentVariableIsSet("VARNEL_CLI")
                            ? qEnvironmentVariable("VARNEL_CLI")
                            : QCoreApplication::applicationDirPath() + "/../src/cli/varnel-cli";
    QTemporaryDir dir;
    const std::string input = (dir.path() + "/mix3min.wav").toStdString();
    WriteMix(input);
    varnel::SetMessageBoxHandler([](varnel::MessageKind, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return true;
    });

    auto* form = new varnel::TForm1();
    form->LoadWaveFile(QString::fromStdString(input));
    if (!form->PlayIn.IsOpen)
        return 1;
    varnel::EnsureSaveForms();

    std::printf("3-minute 44.1 kHz file, %d runs each, wall clock (s)\n", runs);
    std::vector<double> cliTimes;
    std::vector<double> windowTimes;
    for (int r = 0; r < runs; ++r) {
        const std::string cliOut = (dir.path() + "/cli.wav").toStdString();
        const std::string command =
            "'" + cli.toStdString() + "' export '" + input + "' '" + cliOut + "' --force --quiet";
        const auto c0 = Clock::now();
        if (std::system(command.c_str()) != 0)
            return 1;
        cliTimes.push_back(Seconds(Clock::now() - c0));

        const QString out = dir.path() + "/window.wav";
        QFile::remove(out);
        FileAnswer answer(out);
        form->FileSaveBtnClick();
        windowTimes.push_back(Seconds(Clock::now() - answer.Accepted));
        if (!varnel::SaveFileForm->LastComplete())
            return 1;
        std::printf("run %d: varnel-cli export %.3f  window save %.3f\n", r + 1, cliTimes.back(),
                    windowTimes.back());
    }
    // The dialog stays 0.100 s after the bar is full (so the full bar is seen); the export
    // itself is compared without that pause.
    const double pause = 0.100;
    std::printf("median: varnel-cli export %.3f  window save %.3f  (window / cli %.3f; without "
                "the dialog's %.3f s pause after the bar is full %.3f)\n",
                Median(cliTimes), Median(windowTimes), Median(windowTimes) / Median(cliTimes),
                pause, (Median(windowTimes) - pause) / Median(cliTimes));

    std::vector<double> aborts;
    for (int r = 0; r < runs; ++r) {
        const QString out = dir.path() + "/aborted.wav";
        QFile::remove(out);
        FileAnswer answer(out);
        QTimer press;
        press.setInterval(1);
        QObject::connect(&press, &QTimer::timeout, [&] {
            auto* dialog = varnel::SaveFileForm;
            // Pressed once the bar has moved: the whole save takes about a third of a second
            // here, so a fixed wait could come after its end.
            if (!dialog->isVisible() || !dialog->FileNameLbl->text().endsWith(".wav") ||
                dialog->ProgressBar1->value() <= dialog->ProgressBar1->minimum())
                return;
            press.stop();
            const auto p0 = Clock::now();
            dialog->AbortBtn->click();
            aborts.push_back(Seconds(Clock::now() - p0));
        });
        press.start();
        form->FileSaveBtnClick();
        if (!varnel::SaveFileForm->LastAborted()) {
            std::fprintf(stderr, "the save ended before the abort was pressed\n");
            return 1;
        }
    }
    std::printf("abort, press to dialog closed (s):");
    for (double a : aborts)
        std::printf(" %.3f", a);
    std::printf("  (each includes the 0.100 s pause)\n");
    delete form;
    return 0;
}
