#include "app/ui/HelpForm.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "app/ui/ProgramFiles.h"

namespace tovik {

namespace {

const QString kContents = QStringLiteral("index.html");

// The device panel's pages (by their object names) and their sections.
const std::pair<const char*, const char*> kPanelTopics[] = {
    {"TovikMainTS", "panel-data.html"},         {"TovikUstavkiTS", "panel-settings.html"},
    {"TovikTimeWorksTS", "panel-tasks.html"},   {"TovikAvariesTS", "panel-alarms.html"},
    {"TovikCalibTS", "panel-calibration.html"},
};

}  // namespace

THelpForm::THelpForm(const QString& manualDir, QWidget* parent)
    : QWidget(parent, Qt::Window), ManualDir(manualDir) {
    setObjectName("HelpForm");
    setWindowTitle(QStringLiteral("Руководство пользователя — Товик/ТовикМ"));
    resize(1040, 760);

    HelpBrowser = new QTextBrowser(this);
    HelpBrowser->setObjectName("HelpBrowser");
    HelpBrowser->setOpenExternalLinks(true);
    HelpBrowser->setSearchPaths({ManualDir});
    // The pages link their style sheet for web browsers; the text browser
    // takes it as the document's default.
    if (QFile css(QDir(ManualDir).filePath(QStringLiteral("manual.css"))); css.open(QIODevice::ReadOnly))
        HelpBrowser->document()->setDefaultStyleSheet(QString::fromUtf8(css.readAll()));

    auto* bar = new QToolBar(this);
    bar->setObjectName("HelpToolBar");
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    BackAction = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Назад"));
    BackAction->setObjectName("BackAction");
    BackAction->setShortcut(QKeySequence::Back);
    BackAction->setEnabled(false);
    ForwardAction = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Вперёд"));
    ForwardAction->setObjectName("ForwardAction");
    ForwardAction->setShortcut(QKeySequence::Forward);
    ForwardAction->setEnabled(false);
    ContentsAction =
        bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Содержание"));
    ContentsAction->setObjectName("ContentsAction");
    bar->addSeparator();
    bar->addWidget(new QLabel(QStringLiteral(" Найти: "), bar));
    FindEdit = new QLineEdit(bar);
    FindEdit->setObjectName("FindEdit");
    FindEdit->setClearButtonEnabled(true);
    FindEdit->setMaximumWidth(260);
    FindEdit->setToolTip(QStringLiteral("Слово на этой странице; Enter — следующее место"));
    bar->addWidget(FindEdit);

    connect(BackAction, &QAction::triggered, HelpBrowser, &QTextBrowser::backward);
    connect(ForwardAction, &QAction::triggered, HelpBrowser, &QTextBrowser::forward);
    connect(ContentsAction, &QAction::triggered, this, [this] { ShowTopic(kContents); });
    connect(HelpBrowser, &QTextBrowser::backwardAvailable, BackAction, &QAction::setEnabled);
    connect(HelpBrowser, &QTextBrowser::forwardAvailable, ForwardAction, &QAction::setEnabled);
    connect(FindEdit, &QLineEdit::returnPressed, this, &THelpForm::FindNext);
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    addAction(find);
    connect(find, &QAction::triggered, this, [this] {
        FindEdit->setFocus();
        FindEdit->selectAll();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(HelpBrowser, 1);
}

bool THelpForm::ManualFound() const {
    return QFileInfo::exists(QDir(ManualDir).filePath(kContents));
}

void THelpForm::ShowTopic(const QString& topic) {
    if (!ManualFound()) {
        HelpBrowser->setHtml(
            QStringLiteral("<h2>Руководство не найдено</h2><p>Страницы руководства ищутся в "
                           "папке <code>%1</code>, но там их нет. Установите программу заново "
                           "(пакет <code>tovik</code>) или соберите её целиком.</p>")
                .arg(QDir::toNativeSeparators(ManualDir).toHtmlEscaped()));
        return;
    }
    QUrl url = QUrl::fromLocalFile(QDir(ManualDir).filePath(topic.section('#', 0, 0)));
    if (topic.contains('#')) url.setFragment(topic.section('#', 1));
    HelpBrowser->setSource(url);
}

void THelpForm::FindNext() {
    const QString text = FindEdit->text();
    if (text.isEmpty()) return;
    if (HelpBrowser->find(text)) return;
    // From the top again.
    HelpBrowser->moveCursor(QTextCursor::Start);
    HelpBrowser->find(text);
}

QString HelpTopicFor(const QWidget* panelArea) {
    const auto* pages = panelArea ? panelArea->findChild<const QTabWidget*>("TovikControl") : nullptr;
    if (!pages || !pages->currentWidget()) return kContents;
    const QString page = pages->currentWidget()->objectName();
    for (const auto& [name, topic] : kPanelTopics)
        if (page == QLatin1String(name)) return QString::fromLatin1(topic);
    return kContents;
}

THelpForm* OpenManual(QWidget* owner, const QString& topic) {
    auto* form = owner->findChild<THelpForm*>("HelpForm", Qt::FindDirectChildrenOnly);
    if (!form) form = new THelpForm(ManualDir(), owner);
    form->ShowTopic(topic);
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}

}  // namespace tovik
