#include "app/Abform.h"
#include "app/Application.h"
#include "app/Saveform.h"
#include "platform/Locale.h"
#include "settings/FormLabels.h"
#include "settings/Langset.h"
#include "settings/Setform.h"

#include "gui/WindowFixture.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace varnel {
namespace {

// What a person sees for a row of a form's label table on the real form: the title bar, a
// tool tip, a tab's text, or a label's or button's text.
QString VisibleText(QWidget& form, const ControlLabel& row)
{
    QWidget* w = *row.Control ? form.findChild<QWidget*>(QString::fromUtf8(row.Control)) : &form;
    if (!w)
        return QStringLiteral("(no control)");
    if (std::string(row.Property) == "hint")
        return w->toolTip();
    if (w == &form)
        return form.windowTitle();
    for (QWidget* up = w->parentWidget(); up; up = up->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(up); tabs && tabs->indexOf(w) >= 0)
            return tabs->tabText(tabs->indexOf(w));
    }
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return QStringLiteral("(no text)");
}

QString StandardCancelText()
{
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    return box.button(QDialogButtonBox::Cancel)->text();
}

// Each of the four forms as start-up makes it, with its label table.
struct FormCase
{
    const char* Name;
    const std::vector<ControlLabel>& (*Labels)();
};

const FormCase kForms[] = {
    {"TForm1", &TLangSet::Form1Labels},
    {"TAbSaveForm", &TLangSet::AbSaveFormLabels},
    {"TSaveFileForm", &TLangSet::SaveFileFormLabels},
    {"TSetOptForm", &TLangSet::SetOptFormLabels},
};

// Makes the form under the locale in effect and runs check on it.
void WithForm(const std::string& name, const std::function<void(QWidget&)>& check)
{
    if (name == "TForm1") {
        test::WindowFixture window;
        check(*window.Form);
    } else if (name == "TAbSaveForm") {
        TAbSaveForm form;
        check(form);
    } else if (name == "TSaveFileForm") {
        TSaveFileForm form;
        check(form);
    } else {
        test::TempDir dir;
        TSetOptForm form(nullptr, QString::fromStdString(dir.File("varnel.ini")));
        check(form);
    }
}

TEST(FormTexts, EveryFormShowsItsTableForTheLocaleLanguage)
{
    test::WidgetApp();
    const QString cancel = StandardCancelText();
    for (const char* locale : {"ja_JP.UTF-8", "en_US.UTF-8", "zh_CN.UTF-8"}) {
        const bool japanese = std::string(locale).rfind("ja", 0) == 0;
        for (const FormCase& f : kForms) {
            SCOPED_TRACE(std::string(locale) + " " + f.Name);
            test::ScopedLocale scoped(locale);
            WithForm(f.Name, [&](QWidget& form) {
                for (const ControlLabel& row : f.Labels()) {
                    SCOPED_TRACE(*row.Control ? row.Control : "(form)");
                    // An empty design-time text is the toolkit's standard Cancel text.
                    const QString designTime =
                        *row.Japanese ? QString::fromUtf8(row.Japanese) : cancel;
                    EXPECT_EQ(VisibleText(form, row),
                              japanese ? designTime : QString::fromUtf8(row.Alternate));
                }
                // Every row names a control of the form that shows such a text.
                EXPECT_TRUE(ApplyFormLabels(form, f.Labels(), TLangSet(kLangEnglish)).empty());
            });
        }
    }
}

// Typed apart from the tables: the trailing and leading spaces reach the screen.
TEST(FormTexts, SpacesOfTheAlternateCaptionsAreKept)
{
    for (const char* locale : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(locale);
        test::ScopedLocale scoped(locale);
        test::WindowFixture window;
        EXPECT_EQ(window.Form->FileOpenBtn->text(), QString("载入文件 "));
        EXPECT_EQ(window.Form->FileSaveBtn->text(), QString("  输出文件     "));
        EXPECT_EQ(window.Form->Label3->text(), QString("WAV音频文件     "));
    }
}

// Qt's own texts (file dialogs, standard buttons) follow the locale where Qt's translations are
// installed, and stay English where there are none.
TEST(QtTexts, FollowTheLocaleWhereTranslationsAreInstalled)
{
    test::WidgetApp();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/qtbase_ja.qm")))
        GTEST_SKIP() << "Qt's translations are not installed (scripts/setup installs them)";
    const QString english = StandardCancelText();
    {
        QTranslator translator;
        ASSERT_TRUE(InstallQtTranslations(translator, QLocale(QStringLiteral("ja_JP"))));
        EXPECT_EQ(StandardCancelText(), QStringLiteral("キャンセル"));
    }
    // The translator goes with its owner: later texts are Qt's own again.
    EXPECT_EQ(StandardCancelText(), english);
    QTranslator none;
    EXPECT_FALSE(InstallQtTranslations(none, QLocale(QStringLiteral("en_US"))));
    EXPECT_EQ(StandardCancelText(), english);
}

} // namespace
} // namespace varnel
