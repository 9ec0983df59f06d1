#include "app/InstallLayout.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(InstallLayout, HelpDocumentIsFoundBesideTheProgramOrUnderShare)
{
    struct Row
    {
        const char* name;
        bool besideProgram;   // PREFIX/bin/VarnelHelp.pdf exists
        bool underShare;      // PREFIX/share/varnel/VarnelHelp.pdf exists
        const char* expected; // folder relative to PREFIX
    };
    const Row rows[] = {
        {"build tree", true, false, "bin"},
        {"installed", false, true, "share/varnel"},
        {"both: the program's own copy wins", true, true, "bin"},
        {"missing: reported beside the program", false, false, "bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const QString prefix = QString::fromStdString(dir.Path());
        ASSERT_TRUE(QDir(prefix).mkpath(QStringLiteral("bin")));
        ASSERT_TRUE(QDir(prefix).mkpath(QStringLiteral("share/varnel")));
        const auto put = [&](const QString& folder) {
            QFile file(prefix + "/" + folder + "/VarnelHelp.pdf");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("%PDF-1.4\n");
        };
        if (row.besideProgram)
            put(QStringLiteral("bin"));
        if (row.underShare)
            put(QStringLiteral("share/varnel"));
        EXPECT_EQ(HelpDocumentFolder(prefix + "/bin"),
                  QDir::cleanPath(prefix + "/" + row.expected));
    }
}

} // namespace
} // namespace varnel
