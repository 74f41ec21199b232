// The user manual as the program finds it (<program folder>/../share/tovik/
// manual, laid out so in the build tree): every page reachable from the
// contents, every link and picture there; and a window that says where it
// looked when there is no manual.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBrowser>

#include "app/ui/HelpForm.h"
#include "app/ui/ProgramFiles.h"

namespace tovik {
namespace {

QString Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(Manual, EveryPageIsInTheContentsAndEveryLinkAndPictureResolves) {
    const QDir dir(ManualDir());
    const QStringList pages = dir.entryList({"*.html"}, QDir::Files);
    ASSERT_TRUE(pages.contains("index.html")) << dir.path().toStdString();
    ASSERT_GT(pages.size(), 10);
    const QString contents = Read(dir.filePath("index.html"));
    const QRegularExpression reference(R"re((href|src)="([^"]+)")re");
    for (const QString& page : pages) {
        if (page != "index.html") {
            EXPECT_TRUE(contents.contains("href=\"" + page + "\""))
                << page.toStdString() << " is not in the contents";
        }
        const QString text = Read(dir.filePath(page));
        EXPECT_TRUE(text.contains("<title>")) << page.toStdString();
        for (auto it = reference.globalMatch(text); it.hasNext();) {
            const QString target = it.next().captured(2);
            if (target.startsWith("http")) continue;
            const QString file = target.section('#', 0, 0).isEmpty() ? page : target.section('#', 0, 0);
            const std::string where = page.toStdString() + ": " + target.toStdString();
            ASSERT_TRUE(QFileInfo::exists(dir.filePath(file))) << where;
            if (target.contains('#')) {
                EXPECT_TRUE(Read(dir.filePath(file)).contains("id=\"" + target.section('#', 1) + "\""))
                    << where;
            }
        }
    }
}

TEST(Manual, WithoutTheManualTheWindowSaysWhereItLooked) {
    THelpForm form(QStringLiteral("/nonexistent/tovik-manual"));
    EXPECT_FALSE(form.ManualFound());
    form.ShowTopic(QStringLiteral("index.html"));
    const QString text = form.HelpBrowser->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Руководство не найдено"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("/nonexistent/tovik-manual"))) << text.toStdString();
}

}  // namespace
}  // namespace tovik
