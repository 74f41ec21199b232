// The login dialog and the access level dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/UsersMod.h"
#include "app/ui/AcessSelectorUnit.h"
#include "base/ui/Messages.h"
#include "app/ui/register.h"

namespace tovik {
namespace {

struct LoginTest : ::testing::Test {
    TUsers users;
    TUser* current = nullptr;
    int setCalls = 0;
    TAcessSelectForm access;
    std::unique_ptr<TRegForm> form;
    std::vector<QString> messages;

    void SetUp() override {
        users.Add(std::make_unique<TUser>("default", 1, ""));
        users.Add(std::make_unique<TUser>("Ivanov", 2, "Secret"));
        users.Add(std::make_unique<TUser>("Petrov", 1, "pw"));
        form = std::make_unique<TRegForm>(
            users, TRegForm::TSession{[this] { return current; }, [this](TUser* u) {
                                          current = u;
                                          ++setCalls;
                                      }},
            access);
        SetMessageHook([this](TMessageKind, const QString& t) { messages.push_back(t); });
    }
    void TearDown() override { SetMessageHook(nullptr); }

    void Open(TUser* as) {
        current = as;
        form->show();
    }
    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
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
    // Every key starts the wait again: the button comes no sooner than
    // 100 ms after the last one.
    QElapsedTimer sinceLastKey;
    QTest::keyClicks(form->PasswEdit, "t");
    sinceLastKey.start();
    EXPECT_FALSE(form->EnterBut->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EnterBut->isEnabled(); }, 3000));
    EXPECT_GE(sinceLastKey.elapsed(), 95);
    QTest::keyClick(form->PasswEdit, Qt::Key_Return);  // Enter presses "Вход"
    EXPECT_EQ(current, users.Get(1));
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->EnterBut->isEnabled(); }, 500));
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

    QTest::mouseClick(form->AddUserButton, Qt::LeftButton);
    EXPECT_EQ(users.Count(), 3);
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
    QTest::qWait(150);
    EXPECT_FALSE(form->AddUserButton->isEnabled());
    Type(form->LoginEdit, "Petrov");
    QTest::qWait(150);
    EXPECT_FALSE(form->AddUserButton->isEnabled());
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
