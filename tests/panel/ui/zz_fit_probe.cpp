// probe (not committed)
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <cstdio>

#include "support/PanelApp.h"

namespace tovik {
namespace {

class FitProbe : public ::testing::Test, protected test::TPanelApp {};

void Print(TTTovikFrame* f, const char* what) {
    QTableWidget* g = f->TovikUstStringGrid;
    QHeaderView* h = g->horizontalHeader();
    std::string ws;
    for (int v = 0; v < h->count(); ++v) ws += std::to_string(h->sectionSize(h->logicalIndex(v))) + " ";
    fprintf(stderr, "%s: grid %d viewport %d len %d hbar %d vbar %d min %d widths %s\n", what, g->width(),
            g->viewport()->width(), h->length(), g->horizontalScrollBar()->isVisible(),
            g->verticalScrollBar()->isVisible(), h->minimumSectionSize(), ws.c_str());
}

TEST_F(FitProbe, Widths) {
    for (int kind : {0, 3}) {
        Start(static_cast<uint8_t>(kind), 1);
        Form->resize(990, 700);
        ASSERT_TRUE(SetpointsRead());
        TTTovikFrame* f = Frame();
        f->TovikControl->setCurrentIndex(1);
        QTest::qWait(500);
        Print(f, kind == 0 ? "tovik plain" : "tovikm plain");
        const std::string file = Dir->Path + "/x.ust";
        ASSERT_TRUE(f->SaveSetpointsTo(QString::fromStdString(file)));
        ASSERT_TRUE(f->CompareWithFileAt(QString::fromStdString(file)));
        QTest::qWait(500);
        Print(f, "compare");
        Form->resize(990, 900);
        QTest::qWait(500);
        Print(f, "compare tall");
        Stop();
    }
}

}  // namespace
}  // namespace tovik
