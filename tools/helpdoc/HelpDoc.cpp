// varnel-helpdoc OUT.pdf
//
// Writes the help document that the program's help button opens: how to open a file, read
// the maps, draw the extraction area, listen and loop an A-B stretch, save, and set the
// options. The text is ours and is kept here, beside the tool that typesets it.

#include "platform/Terminal.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kHelpHtml = R"(
<h1>Varnel</h1>
<p>Varnel pulls one sound out of a finished stereo recording, or removes it, by where that
sound sits in the stereo image: its position between the speakers (pan), its depth (how far
the left and right channels differ in phase) and its frequency band. You mark an area on two
maps while the file plays, hear the result at once, and save it as a new WAV file.</p>

<h2>Opening a file</h2>
<p>Varnel reads 16-bit stereo PCM WAV files at any sample rate. Open one with
<b>Open file</b> (ファイルを開く / 载入文件, Ctrl+O), by dropping it on the window, or by naming it on the command line:
<code>varnel song.wav</code>. A file in another format is refused with a message that names
it, and the file opened before stays open. The format of the open file (rate, bits,
channels) is shown under the file name.</p>

<h2>Reading the maps</h2>
<p>The large map on the left shows pan across and frequency upwards: the left speaker at the
left edge, the centre in the middle, the right speaker at the right edge, low notes at the
bottom. The scale under it is logarithmic in the ratio of right to left level. The narrow
map on the right shows depth across, from no phase difference at its left edge to opposite
phase at its right edge, with the same frequency scale. While the file plays, the brighter a
point, the more sound there is at that place. <b>Pan scale</b> (定位スケール / 相位范围) widens or narrows the pan map
around the centre; <b>Colour scale</b> (カラースケール / 颜色深度) sets how bright the maps are. <b>Visual off</b> (ビジュアルなし / 频谱开关) stops
drawing the maps, which saves processor time on a slow computer.</p>

<h2>Drawing the extraction area</h2>
<p>The rectangle on each map is the extraction area: the sound inside both rectangles is
kept, everything else is removed. Drag an edge or a corner to move it, or drag inside the
rectangle to move the whole area. The frequency band is shared: changing it on one map
changes it on the other. The frequency labels beside the maps show the band in hertz.</p>
<ul>
<li><b>Pan fix</b> (定位固定 / 相位锁定) and <b>Frequency fix</b> (周波数固定 / 频率锁定) lock the pan range or the frequency band so a
drag cannot change it by accident.</li>
<li><b>Pan max</b> (定位最大化 / 最宽), <b>Frequency max</b> (周波数最大化 / 全频) and
<b>Depth max</b> (奥行最大化 / 极限深度) open the area to the whole
range; pressing the button again brings back the area you had.</li>
<li><b>Centre</b> (定位中央 / 相位中置) moves the pan range to the middle of the map,
keeping its width.</li>
<li><b>Invert area</b> (抽出エリア反転 / 区域切换) turns the choice round: the sound inside the area is removed and
everything else is kept. Use it to take a voice out of a song.</li>
</ul>
<p>A sound that sits in one speaker only has no meaningful phase difference; to keep such a
sound, open the depth range fully.</p>

<h2>Listening and A-B repeat</h2>
<p><b>Play</b> (Space) starts and pauses; <b>Rewind</b> (Home) goes back to the start. The
slider under the maps shows and sets the position, with the time beside it. Every change of
the area is heard about one sound buffer later. The <b>A-B</b> button loops a stretch: press
it once to mark A, again to mark B and loop between them, and a third time to stop looping.
If B comes before A the two are swapped. <b>Volume</b> (再生音量 / 音量) sets the playback level.</p>

<h2>Saving</h2>
<p><b>Save</b> (ファイルに保存... / 输出文件, Ctrl+S) filters the file with the area as it is now and writes a new WAV file
of the same format. With A-B points marked you may save only that stretch or the whole file.
The saved file is aligned with the original: it has the same length, and every sample sits
where it sat before. Varnel never writes over the file it is playing, and asks before it
replaces another file. A progress window shows how far the saving has come and can stop
it.</p>

<h2>Options</h2>
<p>The gear button stops playback (unless asked not to, below) and opens the options. They
take effect when you press <b>OK</b>; the position and the A-B points are kept, and play
goes on from where it stopped.</p>
<ul>
<li><b>Sound buffer</b>, 100 to 1000 milliseconds (200 at first). Make it larger if the
sound breaks up; the larger it is, the later a change of the area is heard. Choose a value
from the list or type one; values outside the range are brought to the nearest end.</li>
<li><b>Quality</b>, five steps from lighter load to better sound (the middle one at first).
A higher step overlaps more analysis frames, which sounds smoother and costs more processor
time.</li>
<li><b>Soft cut</b> (ソフトカット / 柔和切除) makes the cut gentler. At first every part of
the sound is kept or removed outright, which can leave a faint warbling where sound crosses
an edge of the area. Each width spreads an edge over a smooth transition:
<b>pan edge width</b> (定位の境界幅 / 相位边缘宽度) in decibels of the right-to-left ratio,
<b>depth edge width</b> (奥行きの境界幅 / 深度边缘宽度) in radians and
<b>frequency edge width</b> (周波数の境界幅 / 频率边缘宽度) in octaves.
<b>Attenuation of the removed sound</b> (取り除く音の減衰 / 去除部分的衰减) keeps what the
area removes that many decibels quieter instead of clearing it (∞ clears it): with the area
inverted, 15 dB turns a voice down rather than out. <b>Gain smoothing</b>
(ゲインの平滑化 / 增益平滑) lets each frequency follow its changes over that many
milliseconds. With all widths 0, the attenuation ∞ and no smoothing, the cut is the hard cut
of the start. A save uses these values too, so you save what you hear.</li>
<li><b>Keep playing while these options are open</b>
(この画面を開いている間も再生を続ける / 打开此窗口时继续播放), on the soft cut page, off at
first: from the next time you open the options, playback goes on while they are open and
every change on the soft cut page is heard at once; <b>Cancel</b> brings back the values
you had.</li>
</ul>
<p><b>Reset</b> (リセット / 重置) puts the defaults into the dialog; <b>Cancel</b> leaves everything as it
was. The options are kept in <code>varnel.ini</code> in the folder <code>Varnel</code> of
your settings folder (<code>~/.config/Varnel</code> on Linux, or
<code>$XDG_CONFIG_HOME/Varnel</code> when that is set; <code>%LOCALAPPDATA%\Varnel</code> on
Windows). Other lines you put into that file are kept.</p>

<h2>Keys</h2>
<table cellspacing="0" cellpadding="3">
<tr><td><b>Space</b></td><td>play or pause</td></tr>
<tr><td><b>Home</b></td><td>rewind</td></tr>
<tr><td><b>Ctrl+O</b></td><td>open a file</td></tr>
<tr><td><b>Ctrl+S</b></td><td>save</td></tr>
<tr><td><b>F1</b></td><td>this help</td></tr>
<tr><td><b>Ctrl+Q</b></td><td>quit</td></tr>
</table>

<h2>Languages</h2>
<p>With a Japanese locale the window shows Japanese texts; with any other locale it shows
the alternate set of texts, and messages are in English.</p>

<h2>Without a window</h2>
<p><code>varnel-cli</code> does the same work from the command line: file information,
export of one or many files with a given area, map pictures and playback. Run
<code>varnel-cli --help</code> to see how.</p>
)";

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnel-helpdoc OUT.pdf\n");
        return 2;
    }
    // Typesetting needs fonts but no display.
    varnel::SetEnvironmentDefault("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QString out = QString::fromLocal8Bit(argv[1]);
    // A file left from an earlier run must not pass for this run's result.
    QFile::remove(out);
    {
        QPdfWriter writer(out);
        writer.setTitle(QStringLiteral("Varnel Help"));
        writer.setCreator(QStringLiteral("Varnel"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        writer.setResolution(300);

        QTextDocument document;
        QFont font(QStringLiteral("Sans Serif"));
        font.setPointSizeF(10.5);
        document.setDefaultFont(font);
        document.setHtml(QString::fromUtf8(kHelpHtml));
        document.print(&writer);
    }
    // The writer reports a file it could not open only as a warning; look at what is there.
    if (QFileInfo(out).size() == 0) {
        std::fprintf(stderr, "varnel-helpdoc: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
