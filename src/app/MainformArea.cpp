// The extraction area's handlers of the main window.

#include "app/Mainform.h"

#include "app/MapScreen.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

namespace varnel {

void TForm1::Screen1MouseDown(int, int) {}
void TForm1::Screen1MouseMove(int, int) {}
void TForm1::Screen1MouseUp(int, int)
{
    Dragging = false;
}
void TForm1::Screen1DblClick() {}
void TForm1::Screen2MouseDown(int, int) {}
void TForm1::Screen2MouseMove(int, int) {}
void TForm1::Screen2MouseUp(int, int)
{
    Dragging = false;
}
void TForm1::Screen2DblClick() {}
void TForm1::PanMaxBtnClick() {}
void TForm1::FrqMaxBtnClick() {}
void TForm1::PhaseMaxBtnClick() {}
void TForm1::CenterBtnClick() {}

void TForm1::PanCheckClick()
{
    PanFixed = PanCheck->isChecked();
}

void TForm1::FreqCheckClick()
{
    FreqFixed = FreqCheck->isChecked();
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
    const AreaMapping mapping = MapArea(Edges(), geometry);
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
    SoundThread->PostPanRange(PanLow, PanHigh);
    SoundThread->PostFreqRange(FreqLowHz, FreqHighHz);
    SoundThread->PostDepthRange(DepthLow, DepthHigh);
}

void TForm1::RefreshMaps()
{
    ComposeScreens();
}

} // namespace varnel
