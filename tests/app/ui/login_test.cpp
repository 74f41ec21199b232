// The login dialog and the access level dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/UsersMod.h"
#include "app/ui/AcessSelectorUnit.h"
#include "app/ui/register.h"
#include "base/Clock.h"
#include "base/ui/Messages.h"

namespace tovik {
namespace {

// The login dialog's wait runs on the millisecond clock; the tests move it.
uint32_t g_now = 1000;
uint32_t TestClock() {
    return g_now;
}

struct LoginTest : ::testing::Test {
    TUsers users;
    TUser* current = nullptr;
    int setCalls = 0;
    int accountChanges = 0;  // told to the configuration
    TAcessSelectForm access;
    std::unique_ptr<TRegForm> form;
    std::vector<QString> messages;

    void SetUp() override {
        users.Add(std::make_unique<TUser>("default", 1, ""));
        users.Add(std::make_unique<TUser>("Ivanov", 2, "Secret"));
        users.Add(std::make_unique<TUser>("Petrov", 1, "pw"));
        form = std::make_unique<TRegForm>(users,
                                          TRegForm::TSession{[this] { return current; },
                                                             [this](TUser* u) {
                                                                 current = u;
                                                                 ++setCalls;
                                                             },
                                                             [this] { ++accountChanges; }},
                                          access);
        SetMessageHook([this](TMessageKind, const QString& t) { messages.push_back(t); });
        g_now = 1000;
        SetClockSource(TestClock);
    }
    void TearDown() override {
        SetMessageHook(nullptr);
        SetClockSource(nullptr);
    }

    void Open(TUser* as) {
        current = as;
        form->show();
    }
    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // Lets `ms` pass on the clock and Timer1 fire.
    void Elapse(uint32_t ms) {
        g_now += ms;
        if (form->Timer1->isActive()) form->Timer1Elapsed();
    }
};

TEST_F(LoginTest, FullRightsEnableEnterAtOnce) {
    Open(users.Get(0));
    EXPECT_EQ(form->LoginEdit->text(), "default");
    EXPECT_EQ(form->EnterBut->text(), "Выход");  // own name: logout
    Type(form->LoginEdit, "Petrov");
    Type(form->PasswEdit, "pw");
    EXPECT_TRUE(form->EnterBut->isEnabled());
    EXPECT_EQ(form->EnterBut->text(), "Вход");
    QTest::mouseClick(form->EnterBut, Qt::LeftButton);
    EXPECT_EQ(current, users.Get(2));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(LoginTest, WithoutFullRightsEnterWaitsForTheTimer) {
    Open(nullptr);
    Type(form->LoginEdit, "Ivanov");
    Type(form->PasswEdit, "Secre");
    EXPECT_FALSE(form->EnterBut->isEnabled());  // not yet
    EXPECT_TRUE(form->Timer1->isActive());
    Elapse(50);
    // Every key starts the wait again: the button comes no sooner than
    // 100 ms after the last one, even when the timer fires early.
    QTest::keyClicks(form->PasswEdit, "t");
    Elapse(99);
    EXPECT_FALSE(form->EnterBut->isEnabled());
    EXPECT_TRUE(form->Timer1->isActive());
    Elapse(1);
    EXPECT_TRUE(form->EnterBut->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    QTest::keyClick(form->PasswEdit, Qt::Key_Return);  // Enter presses "Вход"
    EXPECT_EQ(current, users.Get(1));
}

TEST_F(LoginTest, Timer1RunsTheWaitInTheEventLoop) {
    Open(nullptr);
    Type(form->LoginEdit, "Ivanov");
    Type(form->PasswEdit, "Secret");
    EXPECT_FALSE(form->EnterBut->isEnabled());
    g_now += TRegForm::kLoginWaitMs;
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EnterBut->isEnabled(); }, 60000));
}

TEST_F(LoginTest, PasswordsAreCaseSensitiveAndMayBeEmpty) {
    Open(users.Get(2));
    Type(form->LoginEdit, "Ivanov");
    Type(form->PasswEdit, "secret");
    EXPECT_FALSE(form->EnterBut->isEnabled());
    EXPECT_FALSE(form->CredentialsValid);
    Type(form->PasswEdit, "Secret");
    EXPECT_TRUE(form->EnterBut->isEnabled());
    Type(form->LoginEdit, "default");
    form->PasswEdit->clear();
    EXPECT_TRUE(form->CredentialsValid);
    EXPECT_TRUE(form->EnterBut->isEnabled());
    Type(form->PasswEdit, "x");
    EXPECT_FALSE(form->EnterBut->isEnabled());
}

TEST_F(LoginTest, LogoutClosesTheDialog) {
    Open(users.Get(1));  // read-only: the caption follows after the wait
    Elapse(100);
    EXPECT_TRUE(form->EnterBut->isEnabled());
    EXPECT_EQ(form->EnterBut->text(), "Выход");
    QTest::mouseClick(form->EnterBut, Qt::LeftButton);
    EXPECT_EQ(current, nullptr);
    EXPECT_EQ(setCalls, 1);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(LoginTest, AddThenDeleteANewAccount) {
    Open(users.Get(0));
    Type(form->LoginEdit, "Sidorov");
    Type(form->PasswEdit, "abc");
    EXPECT_TRUE(form->AddUserButton->isEnabled());
    EXPECT_EQ(form->AddUserButton->text(), "+");
    QTimer::singleShot(0, &access, [this] {
        EXPECT_FALSE(access.OkButton->isEnabled());
        access.AcessTypeComboBox->setCurrentIndex(1);  // "Только чтение"
        EXPECT_TRUE(access.OkButton->isEnabled());
        access.accept();
    });
    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    ASSERT_EQ(users.Count(), 4);
    EXPECT_EQ(users.Get(3)->Name, "Sidorov");
    EXPECT_EQ(users.Get(3)->Password, "abc");
    EXPECT_EQ(users.Get(3)->AccessLevel, 2);
    EXPECT_EQ(form->UsersLB->count(), 4);
    EXPECT_EQ(form->AddUserButton->text(), "-");
    EXPECT_EQ(accountChanges, 1);

    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    EXPECT_EQ(users.Count(), 3);
    EXPECT_EQ(accountChanges, 2);
    EXPECT_EQ(users.FindUser("Sidorov"), -1);
    EXPECT_EQ(form->AddUserButton->text(), "+");
}

TEST_F(LoginTest, CancelledAccessDialogAddsNothing) {
    Open(users.Get(0));
    Type(form->LoginEdit, "Nobody");
    QTimer::singleShot(0, &access, [this] { access.reject(); });
    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    EXPECT_EQ(users.Count(), 3);
}

TEST_F(LoginTest, ReadOnlyOperatorCannotManageAccounts) {
    Open(users.Get(1));
    Type(form->LoginEdit, "NewName");
    Elapse(100);
    EXPECT_FALSE(form->AddUserButton->isEnabled());
    Type(form->LoginEdit, "Petrov");
    Elapse(100);
    EXPECT_FALSE(form->AddUserButton->isEnabled());
    // Even a click that reached the handler changes nothing.
    form->AddUserButtonClick();
    EXPECT_EQ(users.Count(), 3);
}

// Logs in through the dialog as `name`, as an operator would.
void LogInThroughTheDialog(LoginTest& t, const QString& name, const QString& password) {
    t.form->show();
    t.Type(t.form->LoginEdit, name);
    t.Type(t.form->PasswEdit, password);
    t.Elapse(100);
    ASSERT_TRUE(t.form->EnterBut->isEnabled());
    QTest::mouseClick(t.form->EnterBut, Qt::LeftButton);
    ASSERT_FALSE(t.form->isVisible());
}

// Every check of the account button after an opening: whatever an earlier
// operator left, the one now logged in decides.
void ExpectNoAccountChanges(LoginTest& t, const QString& victim) {
    EXPECT_FALSE(t.form->AddUserButton->isEnabled());
    EXPECT_EQ(t.form->AccountButtonMode, TRegForm::TAccountButtonMode::Disabled);
    t.Type(t.form->LoginEdit, victim);
    t.Elapse(100);
    EXPECT_FALSE(t.form->AddUserButton->isEnabled());
    EXPECT_EQ(t.form->AccountButtonMode, TRegForm::TAccountButtonMode::Disabled);
    QTest::mouseClick(t.form->AddUserButton, Qt::LeftButton);
    t.form->AddUserButtonClick();
    EXPECT_GE(t.users.FindUser(victim.toStdString()), 0);
    EXPECT_EQ(t.users.Count(), 3);
}

TEST_F(LoginTest, ReadOnlyOperatorLoggedInByAFullOneCannotDeleteAccounts) {
    Open(users.Get(0));  // "default", full access
    LogInThroughTheDialog(*this, "Ivanov", "Secret");
    ASSERT_EQ(current, users.Get(1));  // read-only now
    form->show();
    EXPECT_EQ(form->LoginEdit->text(), "Ivanov");
    Elapse(100);
    ExpectNoAccountChanges(*this, "Petrov");
}

TEST_F(LoginTest, NobodyLoggedOutCanDeleteAccounts) {
    Open(users.Get(0));
    EXPECT_EQ(form->AccountButtonMode, TRegForm::TAccountButtonMode::Delete);  // own name, full rights
    QTest::mouseClick(form->EnterBut, Qt::LeftButton);                         // "Выход"
    ASSERT_EQ(current, nullptr);
    form->show();
    EXPECT_EQ(form->LoginEdit->text(), "default");  // the name typed last stays
    Elapse(100);
    ExpectNoAccountChanges(*this, "default");
}

TEST_F(LoginTest, AfterDeletingItselfAnOperatorDeletesNothingMore) {
    Open(users.Get(2));  // Petrov, full access
    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    ASSERT_EQ(current, nullptr);
    ASSERT_EQ(users.Count(), 2);
    // At once, before the wait of those without rights has passed.
    form->LoginEdit->setText("default");
    EXPECT_FALSE(form->AddUserButton->isEnabled());
    form->AddUserButtonClick();
    EXPECT_EQ(users.Count(), 2);
}

// Any level but 2 has full rights, a level above 2 read from a file too.
TEST_F(LoginTest, AnUnknownLevelHasFullRights) {
    users.Add(std::make_unique<TUser>("odd", 7, ""));
    Open(users.Get(3));
    Type(form->LoginEdit, "Ivanov");
    Type(form->PasswEdit, "Secret");
    EXPECT_TRUE(form->EnterBut->isEnabled());  // no wait
    EXPECT_EQ(form->AddUserButton->text(), "-");
    EXPECT_TRUE(form->AddUserButton->isEnabled());
}

TEST_F(LoginTest, DeletingTheLoggedInAccountLogsOutFirst) {
    Open(users.Get(2));  // Petrov, full access
    EXPECT_EQ(form->AddUserButton->text(), "-");
    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    EXPECT_EQ(current, nullptr);
    EXPECT_EQ(users.FindUser("Petrov"), -1);
    EXPECT_EQ(users.Count(), 2);
}

TEST_F(LoginTest, LastAccountCannotBeDeleted) {
    users.Delete(2);
    users.Delete(1);
    Open(users.Get(0));
    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Это последняя учётная запись и её удаление невозможно");
    EXPECT_EQ(users.Count(), 1);
    EXPECT_EQ(current, users.Get(0));
}

TEST_F(LoginTest, ListClickFillsTheNameAndFieldsRefuseWhatRecordsCannotHold) {
    Open(users.Get(0));
    form->UsersLB->setCurrentRow(1);
    form->UsersLBClick();
    EXPECT_EQ(form->LoginEdit->text(), "Ivanov");
    form->LoginEdit->clear();
    form->LoginEdit->insert("Оператор");
    form->LoginEdit->insert("中");  // not in Windows-1251: refused
    EXPECT_EQ(form->LoginEdit->text(), "Оператор");
    Type(form->LoginEdit, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(form->LoginEdit->text(), "ABCDEFGHIJKLMNO");  // 15 characters
    EXPECT_EQ(form->PasswEdit->echoMode(), QLineEdit::Password);
}

}  // namespace
}  // namespace tovik
