#pragma once
// The modal sign-in window. The admission fixes the user id; the database
// server checks the password; a remembered password signs in at once. Its
// look (geometry, texts, tab order) is frmlogin.ui; this class holds the
// behaviour.
#include <QDialog>
#include <QPointer>
#include <memory>

#include "db/recordset.h"
#include "login/admission.h"

class cMySQL;
namespace Ui {
class frmLogin;
}

class frmLogin : public QDialog {
    Q_OBJECT
public:
    // `endpoints`: where the admission and the sign-in connect (the
    // program's own by default).
    explicit frmLogin(QWidget* parent = nullptr, modOrvelDBConsts::Endpoints endpoints = {});
    ~frmLogin() override;

    bool LoginSucceeded = false;

    // Releases the form's connection; runs once, when the form closes or is
    // destroyed, whichever comes first.
    void Form_Unload();

    // Where the remembered password lives (kept protected: the secret
    // settings of platform/settingsstore.h).
    static QString SettingsApp() { return QStringLiteral("Orvel 업무관리"); }
    static QString SettingsSection() { return QStringLiteral("Config"); }

    // The form's own connection (null before the first activation and after
    // the unload).
    cMySQL* connection() const { return m_db.get(); }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void reject() override;  // Esc

private:
    void Form_Load();
    void Form_Activate();
    void cmdOK_Click();
    void cmdCancel_Click();
    void chkpwdSave_Click();
    void txtPassword_Change();
    void txtPassword_GotFocus();
    void txtPassword_LostFocus();
    void focusMoved(QWidget* now);
    int RunQuery(RecordsetPtr& rs, const QString& sql);
    // Typed text made safe for use between single quotes in a statement on
    // the form's connection: up to its first NUL, escaped by the connection
    // itself for its character set.
    QString SafeSQL(const QString& text) const;

    std::unique_ptr<Ui::frmLogin> ui;
    modOrvelDBConsts::Endpoints m_endpoints;
    std::unique_ptr<cMySQL> m_db;
    QPointer<QWidget> m_focus;  // the control of this form that has, or last had, the focus
    QMetaObject::Connection m_focusWatch;
    bool m_bPwdChanged = false;
    bool m_bFirstActivate = false;
    bool m_unloaded = false;
};
