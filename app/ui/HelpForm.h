#pragma once
// The user manual in a window of its own: the HTML pages of the manual's
// folder in Qt's text browser, with back, forward, contents and a search
// in the page. It needs no network and no other program.
#include <QString>
#include <QWidget>

class QAction;
class QLineEdit;
class QTextBrowser;

namespace tovik {

class THelpForm : public QWidget {
    Q_OBJECT
public:
    // `manualDir` holds index.html and the pages it links to.
    explicit THelpForm(const QString& manualDir, QWidget* parent = nullptr);

    // Shows a page of the manual, "index.html" or "panel-settings.html#compare".
    // Without the manual, the window says where it was looked for.
    void ShowTopic(const QString& topic);
    bool ManualFound() const;

    QTextBrowser* HelpBrowser = nullptr;
    QAction* BackAction = nullptr;
    QAction* ForwardAction = nullptr;
    QAction* ContentsAction = nullptr;
    QLineEdit* FindEdit = nullptr;

private:
    void FindNext();
    QString ManualDir;
};

// The page of the manual for what the main window shows: the current tab of
// an open device panel in `panelArea`, else the contents.
QString HelpTopicFor(const QWidget* panelArea);

// Opens the manual window of `owner` (one per owner, made on first use) at
// `topic` and brings it to the front.
THelpForm* OpenManual(QWidget* owner, const QString& topic);

}  // namespace tovik
