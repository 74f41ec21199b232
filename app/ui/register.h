#pragma once
// The login dialog: log in as an account or log out, and, with full rights,
// add and delete accounts.
#include <QDialog>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace tovik {

class TAcessSelectForm;
class TUser;
class TUsers;

class TRegForm : public QDialog {
    Q_OBJECT
public:
    enum class TLoginMode { Login, Logout };
    enum class TAccountButtonMode { Disabled, Add, Delete };

    // How the dialog reaches the main window's account state.
    struct TSession {
        std::function<TUser*()> CurrentUser;
        std::function<void(TUser*)> SetCurrentUser;
        // An account was added or deleted (the configuration keeps them).
        std::function<void()> AccountsChanged;
    };

    // Operators without full rights wait this long after each change.
    static constexpr uint32_t kLoginWaitMs = 100;

    TRegForm(TUsers& users, TSession session, TAcessSelectForm& accessForm, QWidget* parent = nullptr);

    void RefreshLoginState();
    void ReloadUserList();

    TLoginMode LoginMode = TLoginMode::Login;
    TAccountButtonMode AccountButtonMode = TAccountButtonMode::Disabled;
    bool CredentialsValid = false;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* LoginEdit = nullptr;
    QLineEdit* PasswEdit = nullptr;
    QPushButton* AddUserButton = nullptr;
    QListWidget* UsersLB = nullptr;
    QPushButton* EnterBut = nullptr;
    QPushButton* CancelBut = nullptr;
    QTimer* Timer1 = nullptr;

public slots:
    void EnterButClick();
    void UsersLBClick();
    void AddUserButtonClick();
    // Timer1 elapsed: runs the timer step once the wait has passed on the
    // millisecond clock (a timer may fire a little early).
    void Timer1Elapsed();
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool CurrentHasFullRights() const;

    TUsers& Users;
    TSession Session;
    TAcessSelectForm& AccessForm;
    uint32_t WaitStart = 0;
};

}  // namespace tovik
