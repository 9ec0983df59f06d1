// The save command of the main window.

#include "app/Mainform.h"

namespace varnel {

void TForm1::FileSaveBtnClick()
{
    if (!PlayIn.IsOpen)
        return;
    StopPlayback();
}

} // namespace varnel
