// The extraction area's handlers of the main window: the mouse on both screens, the maximise
// and centre buttons, the fix, invert and pan scale controls, and the mapping of the edges to
// the filter's parameters.

#include "app/Mainform.h"
#include "app/MapScreen.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

namespace varnel {

namespace {

// A pointer move on a screen: the hover test sets the screen's cursor; a drag step recomposes
// (throttled while playing) and posts the new area.
void MoveOn(TForm1& form, AreaScreen screen, MapScreen* widget, int x, int y)
{
    if (form.Area.MouseMove(screen, x, y)) {
        form.RefreshMaps();
        form.UpdateFilterParams();
    } else {
        widget->SetAreaCursor(form.Area.Cursor(screen));
    }
}

void DoubleClickOn(TForm1& form, AreaScreen screen)
{
    if (!form.Area.DoubleClick(screen))
        return;
    form.ComposeScreens();
    form.UpdateFilterParams();
}

void ToggleMaximise(TForm1& form, AreaMaxMode mode)
{
    form.Area.ToggleMaximise(mode);
    form.ComposeScreens();
    form.UpdateFilterParams();
}

} // namespace

void TForm1::Screen1MouseDown(int X, int Y)
{
    Area.MousePress(AreaScreen::Screen1, X, Y);
}

void TForm1::Screen1MouseMove(int X, int Y)
{
    MoveOn(*this, AreaScreen::Screen1, Screen1, X, Y);
}

void TForm1::Screen1MouseUp(int, int)
{
    Area.MouseRelease();
}

void TForm1::Screen1DblClick()
{
    DoubleClickOn(*this, AreaScreen::Screen1);
}

void TForm1::Screen2MouseDown(int X, int Y)
{
    Area.MousePress(AreaScreen::Screen2, X, Y);
}

void TForm1::Screen2MouseMove(int X, int Y)
{
    MoveOn(*this, AreaScreen::Screen2, Screen2, X, Y);
}

void TForm1::Screen2MouseUp(int, int)
{
    Area.MouseRelease();
}

void TForm1::Screen2DblClick()
{
    DoubleClickOn(*this, AreaScreen::Screen2);
}

void TForm1::PanMaxBtnClick()
{
    ToggleMaximise(*this, kMaxPan);
}

void TForm1::FrqMaxBtnClick()
{
    ToggleMaximise(*this, kMaxFreq);
}

void TForm1::PhaseMaxBtnClick()
{
    ToggleMaximise(*this, kMaxDepth);
}

void TForm1::CenterBtnClick()
{
    Area.CentrePan();
    ComposeScreens();
    UpdateFilterParams();
}

void TForm1::PanCheckClick()
{
    Area.SetPanFixed(PanCheck->isChecked());
}

void TForm1::FreqCheckClick()
{
    Area.SetFreqFixed(FreqCheck->isChecked());
}

void TForm1::InvCheckClick()
{
    Inverted = InvCheck->isChecked();
    if (SoundThread)
        SoundThread->PostInverted(Inverted);
    if (ScreenMap)
        ScreenMap->SetInvertArea(Inverted);
    ComposeScreens();
}

void TForm1::PanScaleBarChange()
{
    PanScale = PanScaleFromSlider(PanScaleBar->value());
    VisualMap.SetPanRange(PanScale);
    RedrawBackground();
    ComposeScreens();
    UpdateFilterParams();
}

void TForm1::UpdateFilterParams()
{
    AreaGeometry geometry;
    geometry.Screen1Width = Screen1->width();
    geometry.Screen1Height = Screen1->height();
    geometry.Screen2Width = Screen2->width();
    geometry.HalfRate = HalfRate;
    geometry.PanScale = PanScale;
    const AreaMapping mapping = MapArea(Area.Edges(), geometry);
    PanLow = mapping.Area.PanLow;
    PanHigh = mapping.Area.PanHigh;
    FreqLowHz = mapping.Area.FreqLowHz;
    FreqHighHz = mapping.Area.FreqHighHz;
    DepthLow = mapping.Area.DepthLow;
    DepthHigh = mapping.Area.DepthHigh;
    FrqHiLbl->setText(QString::fromStdString(mapping.FreqHighLabel));
    FrqLwLbl->setText(QString::fromStdString(mapping.FreqLowLabel));
    if (!SoundThread)
        return;
    // One mailbox per range, each waited for only to store: a cycle may take the new pan range
    // with the old frequency range, and the next cycle the rest. The invert flag goes along
    // unchanged.
    FilterArea area = mapping.Area;
    area.Inverted = Inverted;
    area.Soft = Soft;
    SoundThread->PostArea(area);
}

void TForm1::RefreshMaps()
{
    // While playing the timer composes every tick; when it has fallen half a buffer behind,
    // the drag leaves the composing to it so the GUI thread catches up.
    const uint32_t sinceTick = mClock.Milliseconds() - LastTickTime;
    if (Playing && sinceTick >= static_cast<uint32_t>(BufferMs / 2))
        return;
    ComposeScreens();
}

} // namespace varnel
