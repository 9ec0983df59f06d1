// varnel: the desktop program. Creates the forms in their order, each in its global, and runs
// the event loop until the main window closes.

#include "app/Application.h"
#include "app/Mainform.h"

int main(int argc, char** argv)
{
    varnel::VarnelApplication app(argc, argv);
    varnel::Form1 = new varnel::TForm1(QApplication::arguments().mid(1));
    varnel::Form1->show();
    const int result = app.exec();
    delete varnel::Form1;
    return result;
}
