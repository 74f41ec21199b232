#include "app/ui/register.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "app/UsersMod.h"
#include "app/ui/AcessSelectorUnit.h"
#include "base/Clock.h"
#include "base/ui/Messages.h"

namespace tovik {

TRegForm::TRegForm(TUsers& users, TSession session, TAcessSelectForm& accessForm, QWidget* parent)
    : QDialog(parent), Users(users), Session(std::move(session)), AccessForm(accessForm) {
    setObjectName("RegForm");
    setWindowTitle(QStringLiteral("Регистрация пользователя"));

    Label1 = new QLabel(QStringLiteral("Регистрация"), this);
    Label1->setObjectName("Label1");
    Label2 = new QLabel(QStringLiteral("Пользователь"), this);
    Label2->setObjectName("Label2");
    Label3 = new QLabel(QStringLiteral("Пароль"), this);
    Label3->setObjectName("Label3");

    LoginEdit = new QLineEdit(this);
    LoginEdit->setObjectName("LoginEdit");
    LoginEdit->setMaxLength(static_cast<int>(kMaxAccountTextLength));
    LoginEdit->setValidator(new TRecordTextValidator(static_cast<int>(kMaxAccountTextLength), LoginEdit));
    PasswEdit = new QLineEdit(this);
    PasswEdit->setObjectName("PasswEdit");
    PasswEdit->setMaxLength(static_cast<int>(kMaxAccountTextLength));
    PasswEdit->setValidator(new TRecordTextValidator(static_cast<int>(kMaxAccountTextLength), PasswEdit));
    PasswEdit->setEchoMode(QLineEdit::Password);
    PasswEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 183;"));  // "·"

    AddUserButton = new QPushButton(QStringLiteral("+"), this);
    AddUserButton->setObjectName("AddUserButton");
    AddUserButton->setToolTip(QStringLiteral("Добавить нового пользователя"));
    AddUserButton->setEnabled(false);
    AddUserButton->setFixedWidth(28);

    UsersLB = new QListWidget(this);
    UsersLB->setObjectName("UsersLB");

    EnterBut = new QPushButton(QStringLiteral("Вход"), this);
    EnterBut->setObjectName("EnterBut");
    EnterBut->setDefault(true);
    EnterBut->setAutoDefault(true);
    CancelBut = new QPushButton(QStringLiteral("Отмена"), this);
    CancelBut->setObjectName("CancelBut");
    CancelBut->setAutoDefault(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(static_cast<int>(kLoginWaitMs));
    Timer1->setSingleShot(true);

    auto* grid = new QGridLayout;
    grid->addWidget(Label2, 0, 0, 1, 2);
    grid->addWidget(LoginEdit, 1, 0);
    grid->addWidget(AddUserButton, 1, 1);
    grid->addWidget(Label3, 2, 0, 1, 2);
    grid->addWidget(PasswEdit, 3, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(EnterBut);
    buttons->addWidget(CancelBut);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(grid);
    layout->addWidget(UsersLB);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(LoginEdit, &QLineEdit::textChanged, this, &TRegForm::RefreshLoginState);
    connect(PasswEdit, &QLineEdit::textChanged, this, &TRegForm::RefreshLoginState);
    connect(Timer1, &QTimer::timeout, this, &TRegForm::Timer1Elapsed);
    connect(EnterBut, &QPushButton::clicked, this, &TRegForm::EnterButClick);
    connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);
    connect(UsersLB, &QListWidget::itemClicked, this, &TRegForm::UsersLBClick);
    connect(AddUserButton, &QPushButton::clicked, this, &TRegForm::AddUserButtonClick);
}

bool TRegForm::CurrentHasFullRights() const {
    const TUser* u = Session.CurrentUser();
    return u && u->HasFullRights();
}

void TRegForm::showEvent(QShowEvent* event) {
    ReloadUserList();
    // Nothing of an earlier opening (by an operator with other rights) stays.
    LoginMode = TLoginMode::Login;
    AccountButtonMode = TAccountButtonMode::Disabled;
    AddUserButton->setEnabled(CurrentHasFullRights());
    {
        const QSignalBlocker b1(LoginEdit), b2(PasswEdit);
        if (const TUser* u = Session.CurrentUser()) LoginEdit->setText(QString::fromStdString(u->Name));
        PasswEdit->clear();
    }
    RefreshLoginState();
    QDialog::showEvent(event);
    LoginEdit->setFocus();
}

void TRegForm::ReloadUserList() {
    UsersLB->clear();
    for (int i = 0; i < Users.Count(); ++i) UsersLB->addItem(QString::fromStdString(Users.Get(i)->Name));
}

void TRegForm::RefreshLoginState() {
    EnterBut->setEnabled(false);
    Timer1->stop();
    CredentialsValid = false;
    const int index = Users.FindUser(LoginEdit->text().toStdString());
    if (index >= 0 && Users.UserPassword(index) == PasswEdit->text().toStdString()) CredentialsValid = true;
    // Operators without full rights wait a moment after each key: guessing
    // passwords by watching the button is slowed down. They never manage
    // accounts, not even while the wait runs.
    if (CurrentHasFullRights()) {
        Timer1Timer();
        return;
    }
    AccountButtonMode = TAccountButtonMode::Disabled;
    AddUserButton->setEnabled(false);
    WaitStart = timeGetTime();
    Timer1->start(static_cast<int>(kLoginWaitMs));
}

void TRegForm::Timer1Elapsed() {
    const uint32_t waited = ElapsedMs(WaitStart, timeGetTime());
    if (waited < kLoginWaitMs) {
        Timer1->start(static_cast<int>(kLoginWaitMs - waited));
        return;
    }
    Timer1Timer();
}

void TRegForm::Timer1Timer() {
    Timer1->stop();
    EnterBut->setEnabled(CredentialsValid);
    const TUser* current = Session.CurrentUser();
    const std::string typed = LoginEdit->text().toStdString();
    if (current && current->Name == typed) {
        LoginMode = TLoginMode::Logout;
        EnterBut->setText(QStringLiteral("Выход"));
        EnterBut->setEnabled(true);
    } else {
        LoginMode = TLoginMode::Login;
        EnterBut->setText(QStringLiteral("Вход"));
    }
    const bool full = CurrentHasFullRights();
    if (!full)
        AccountButtonMode = TAccountButtonMode::Disabled;
    else if (Users.FindUser(typed) < 0)
        AccountButtonMode = typed.empty() ? TAccountButtonMode::Disabled : TAccountButtonMode::Add;
    else
        AccountButtonMode = TAccountButtonMode::Delete;
    switch (AccountButtonMode) {
        case TAccountButtonMode::Add:
            AddUserButton->setEnabled(true);
            AddUserButton->setText(QStringLiteral("+"));
            break;
        case TAccountButtonMode::Delete:
            AddUserButton->setEnabled(true);
            AddUserButton->setText(QStringLiteral("-"));
            break;
        case TAccountButtonMode::Disabled:
            AddUserButton->setEnabled(false);
            break;
    }
}

void TRegForm::EnterButClick() {
    if (!EnterBut->isEnabled()) return;
    if (LoginMode == TLoginMode::Logout) {
        Session.SetCurrentUser(nullptr);
    } else {
        const int index = Users.FindUser(LoginEdit->text().toStdString());
        Session.SetCurrentUser(index >= 0 ? Users.Get(index) : nullptr);
    }
    accept();
}

void TRegForm::UsersLBClick() {
    if (auto* item = UsersLB->currentItem()) LoginEdit->setText(item->text());
}

void TRegForm::AddUserButtonClick() {
    // Whatever the button shows, only an operator with full rights manages
    // accounts.
    if (!CurrentHasFullRights()) {
        AccountButtonMode = TAccountButtonMode::Disabled;
        AddUserButton->setEnabled(false);
        return;
    }
    if (AccountButtonMode == TAccountButtonMode::Add) {
        if (AccessForm.exec() == QDialog::Accepted) {
            Users.Add(std::make_unique<TUser>(LoginEdit->text().toStdString(), AccessForm.SelectedAccess,
                                              PasswEdit->text().toStdString()));
            ReloadUserList();
            if (Session.AccountsChanged) Session.AccountsChanged();
        }
        RefreshLoginState();
    } else if (AccountButtonMode == TAccountButtonMode::Delete) {
        if (Users.Count() == 1) {
            ShowMessage(this, QStringLiteral("Это последняя учётная запись и её удаление невозможно"),
                        TMessageKind::Question);
            return;
        }
        const std::string typed = LoginEdit->text().toStdString();
        const TUser* current = Session.CurrentUser();
        if (current && current->Name == typed) Session.SetCurrentUser(nullptr);
        const int index = Users.FindUser(typed);
        if (index >= 0) Users.Delete(index);
        ReloadUserList();
        if (index >= 0 && Session.AccountsChanged) Session.AccountsChanged();
        RefreshLoginState();
    }
}

}  // namespace tovik
