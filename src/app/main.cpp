// varnel: the desktop program. Creates the forms in their order, each in its global, and runs
// the event loop until the main window closes.

#include "app/Abform.h"
#include "app/Application.h"
#include "app/Mainform.h"
#include "app/Saveform.h"
#include "app/StopSignalWatch.h"
#include "platform/StopSignals.h"
#include "settings/Setform.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    using namespace varnel;
    // Before any thread starts. A kill, a closed session or Ctrl-C then ends the program
    // through its event loop, so a save in progress leaves its files in order.
    InstallStopSignalHandlers();
    VarnelApplication app(argc, argv);
    StopSignalWatch stopWatch;
    // The dialogs belong to the main window, which alone has a task-bar button.
    Form1 = new TForm1(QApplication::arguments().mid(1));
    AbSaveForm = new TAbSaveForm(Form1);
    SaveFileForm = new TSaveFileForm(Form1);
    SetOptForm = new TSetOptForm(Form1);
    // The toolkit calls exit() when the display's connection breaks: a save in progress still
    // ends as an abort ends it.
    std::atexit([] {
        if (SaveFileForm)
            SaveFileForm->EndForExit();
    });
    Form1->show();
    const int result = app.exec();
    delete SetOptForm;
    SetOptForm = nullptr;
    delete SaveFileForm;
    SaveFileForm = nullptr;
    delete AbSaveForm;
    AbSaveForm = nullptr;
    delete Form1;
    Form1 = nullptr;
    return result;
}
