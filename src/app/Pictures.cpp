#include "app/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <cmath>

namespace varnel {

namespace {

// Colours chosen to read on light and dark button faces alike: mid-tone fills with a darker
// outline of the same hue.
const QColor kFolderBack(0xd9, 0x9f, 0x34);
const QColor kFolderFront(0xf4, 0xc9, 0x5f);
const QColor kFolderLine(0x8a, 0x5a, 0x10);
const QColor kDiskBody(0x3d, 0x6f, 0xb6);
const QColor kDiskLine(0x1f, 0x3f, 0x70);
const QColor kDiskShutter(0xd5, 0xdb, 0xe3);
const QColor kDiskLabel(0xf4, 0xf6, 0xf8);
const QColor kGearFill(0x6b, 0x75, 0x82);
const QColor kGearLine(0x3b, 0x43, 0x4e);
const QColor kHelpFill(0x2f, 0x6f, 0xcf);
const QColor kHelpLine(0x1d, 0x4e, 0x9a);
const QColor kRewind(0x2f, 0x6f, 0xb0);
const QColor kPlay(0x2c, 0x9a, 0x48);
const QColor kPause(0xd0, 0x86, 0x1e);
const QColor kRepeatOff(0x8c, 0x93, 0x9d);
const QColor kRepeatLit(0xe0, 0x56, 0x1f);

QImage NewCanvas(QSize logical, qreal scale)
{
    QImage image(static_cast<int>(std::lround(logical.width() * scale)),
                 static_cast<int>(std::lround(logical.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // A painter on an image with a device pixel ratio draws in logical coordinates, so every
    // picture below is written once, on its logical grid, and rendered at full resolution.
    image.setDevicePixelRatio(scale);
    return image;
}

QPen Outline(const QColor& colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

void DrawFolder(QPainter& p)
{
    p.setPen(Outline(kFolderLine, 1.0));
    QPainterPath back;
    back.moveTo(1.5, 2.5);
    back.lineTo(6.0, 2.5);
    back.lineTo(7.5, 4.5);
    back.lineTo(14.5, 4.5);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setBrush(kFolderBack);
    p.drawPath(back);
    const QPolygonF front({{1.5, 13.5}, {3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}});
    p.setBrush(kFolderFront);
    p.drawPolygon(front);
}

void DrawDisk(QPainter& p)
{
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.setPen(Outline(kDiskLine, 1.0));
    p.setBrush(kDiskBody);
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(kDiskShutter);
    p.drawRect(QRectF(4, 2, 7, 4));
    p.setBrush(kDiskBody);
    p.drawRect(QRectF(8, 2.5, 1.5, 3));
    p.setBrush(kDiskLabel);
    p.drawRect(QRectF(3, 8, 10, 6));
}

void DrawGear(QPainter& p, QSize size)
{
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    const double tip = 7.5;
    const double root = 5.6;
    const int teeth = 8;
    const double degree = M_PI / 180.0;
    QPolygonF outline;
    for (int i = 0; i < teeth; ++i) {
        const double c = i * 360.0 / teeth;
        // Flanks lean inwards: the tooth is narrower at its tip than at its root.
        const double angles[] = {c - 14, c - 8, c + 8, c + 14};
        const double radii[] = {root, tip, tip, root};
        for (int k = 0; k < 4; ++k) {
            outline << centre + QPointF(radii[k] * std::cos(angles[k] * degree),
                                        radii[k] * std::sin(angles[k] * degree));
        }
    }
    QPainterPath gear;
    gear.addPolygon(outline);
    gear.closeSubpath();
    gear.addEllipse(centre, 2.3, 2.3);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(kGearLine, 0.8, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(kGearFill);
    p.drawPath(gear);
}

void DrawHelp(QPainter& p, QSize size)
{
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    p.setPen(Outline(kHelpLine, 1.0));
    p.setBrush(kHelpFill);
    p.drawEllipse(centre, 7.5, 7.5);
    // The question mark as strokes, so it needs no font: a hook over the top, a short stem and
    // a dot.
    QPainterPath hook;
    const QRectF bowl(centre.x() - 2.5, centre.y() - 5.0, 5.0, 5.0);
    hook.arcMoveTo(bowl, 160);
    hook.arcTo(bowl, 160, -230);
    hook.lineTo(centre.x(), centre.y() + 1.6);
    p.setPen(QPen(Qt::white, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(centre.x(), centre.y() + 4.3), 1.2, 1.2);
}

void FillShape(QPainter& p, const QColor& colour, const QPolygonF& shape)
{
    // A thin outline in the fill colour rounds the corners a little, so small triangles do
    // not end in needle points.
    p.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    p.drawPolygon(shape);
}

void DrawRewind(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kRewind);
    p.drawRect(QRectF(4, 6, 2.5, 12));
    FillShape(p, kRewind, QPolygonF({{13, 6.5}, {13, 17.5}, {7.5, 12}}));
    FillShape(p, kRewind, QPolygonF({{20, 6.5}, {20, 17.5}, {14.5, 12}}));
}

void DrawPlay(QPainter& p)
{
    FillShape(p, kPlay, QPolygonF({{7.5, 5.5}, {7.5, 18.5}, {19, 12}}));
}

void DrawPause(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kPause);
    p.drawRect(QRectF(6, 5, 4, 14));
    p.drawRect(QRectF(14, 5, 4, 14));
}

// The letters of the repeat pictures as strokes of width 2 between y = 3 and 15, so they look
// the same whatever fonts the machine has.
QPainterPath LetterA()
{
    QPainterPath a;
    a.moveTo(6, 15);
    a.lineTo(10.5, 4);
    a.lineTo(15, 15);
    a.moveTo(7.6, 11);
    a.lineTo(13.4, 11);
    return a;
}

QPainterPath LetterB()
{
    QPainterPath b;
    b.moveTo(33, 4);
    b.lineTo(33, 14);
    b.lineTo(38.5, 14);
    b.arcTo(QRectF(36, 9, 5, 5), 270, 180);
    b.lineTo(33, 9);
    b.moveTo(33, 4);
    b.lineTo(38, 4);
    b.arcTo(QRectF(35.75, 4, 4.5, 5), 90, -180);
    b.lineTo(33, 9);
    return b;
}

void DrawRepeat(QPainter& p, int state)
{
    const QColor aColour = state >= 1 ? kRepeatLit : kRepeatOff;
    const QColor bColour = state >= 2 ? kRepeatLit : kRepeatOff;
    // The drawing below spans x = 5..42; a whole-pixel shift centres it and keeps the strokes
    // on the pixel grid.
    p.translate(4, 0);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(aColour, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(LetterA());
    p.setPen(QPen(bColour, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawLine(QPointF(20, 9), QPointF(28, 9));
    p.drawPath(LetterB());
    if (state == 1) {
        // A marker under A: the loop's start is set.
        p.setPen(Qt::NoPen);
        p.setBrush(kRepeatLit);
        p.drawPolygon(QPolygonF({{10.5, 17}, {7, 22}, {14, 22}}));
    } else if (state == 2) {
        // The way back from B to A: the stretch loops.
        p.setPen(QPen(kRepeatLit, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        QPainterPath back;
        back.moveTo(37.5, 17);
        back.lineTo(37.5, 21);
        back.lineTo(10.5, 21);
        back.lineTo(10.5, 19.5);
        p.drawPath(back);
        p.setPen(Qt::NoPen);
        p.setBrush(kRepeatLit);
        p.drawPolygon(QPolygonF({{10.5, 16.3}, {7, 20.5}, {14, 20.5}}));
    }
}

} // namespace

QSize PictureSize(Picture picture)
{
    switch (picture) {
    case Picture::OpenFile:
    case Picture::SaveFile: return {16, 16};
    case Picture::Settings:
    case Picture::Help: return {17, 17};
    case Picture::Rewind:
    case Picture::Play:
    case Picture::Pause: return {24, 24};
    case Picture::RepeatOff:
    case Picture::RepeatA:
    case Picture::RepeatLoop: return {56, 24};
    }
    return {16, 16};
}

Picture RepeatPicture(int repeatState)
{
    switch (repeatState) {
    case 1: return Picture::RepeatA;
    case 2: return Picture::RepeatLoop;
    default: return Picture::RepeatOff;
    }
}

QImage DrawPicture(Picture picture, qreal scale)
{
    const QSize size = PictureSize(picture);
    QImage image = NewCanvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
    case Picture::OpenFile: DrawFolder(p); break;
    case Picture::SaveFile: DrawDisk(p); break;
    case Picture::Settings: DrawGear(p, size); break;
    case Picture::Help: DrawHelp(p, size); break;
    case Picture::Rewind: DrawRewind(p); break;
    case Picture::Play: DrawPlay(p); break;
    case Picture::Pause: DrawPause(p); break;
    case Picture::RepeatOff: DrawRepeat(p, 0); break;
    case Picture::RepeatA: DrawRepeat(p, 1); break;
    case Picture::RepeatLoop: DrawRepeat(p, 2); break;
    }
    return image;
}

QIcon PictureIcon(Picture picture)
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(DrawPicture(picture, 1.0)));
    icon.addPixmap(QPixmap::fromImage(DrawPicture(picture, 2.0)));
    return icon;
}

QImage DrawAppIcon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 512.0, pixels / 512.0);

    // A dark tile: the map screen.
    QLinearGradient tile(0, 32, 0, 480);
    tile.setColorAt(0, QColor(0x2b, 0x3a, 0x55));
    tile.setColorAt(1, QColor(0x12, 0x1a, 0x2b));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(32, 32, 448, 448), 96, 96);

    // Sounds spread over pan (across) and frequency (up), dim outside the band and bright in
    // it. Every sound crosses the band, so its bright part is a plain rectangle.
    const QLineF sounds[] = {
        {112, 140, 356, 140},
        {160, 220, 420, 220},
        {92, 300, 368, 300},
        {150, 380, 410, 380},
    };
    const double soundWidth = 44;
    const QRectF band(192, 92, 128, 336);
    p.setPen(QPen(QColor(0x4f, 0x93, 0xb3), soundWidth, Qt::SolidLine, Qt::RoundCap));
    for (const QLineF& s : sounds)
        p.drawLine(s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd3, 0x4d));
    for (const QLineF& s : sounds)
        p.drawRect(QRectF(band.left(), s.y1() - soundWidth / 2, band.width(), soundWidth));

    // The selected band's frame, red as on the screens.
    p.setPen(QPen(QColor(0xff, 0x4a, 0x4a), 24, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int pixels : {16, 24, 32, 48, 64, 128, 256, 512})
        icon.addPixmap(QPixmap::fromImage(DrawAppIcon(pixels)));
    return icon;
}

} // namespace varnel
