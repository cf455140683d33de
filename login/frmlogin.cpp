#include "login/frmlogin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "db/cmysql.h"
#include "db/inhouse.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "formats/safesql.h"
#include "gui/sendkeys.h"
#include "platform/settingsstore.h"
#include "ui_frmlogin.h"

namespace {
const QString kIsSave = QStringLiteral("issave_passwd");
const QString kPasswd = QStringLiteral("passwd");
const QString kModule = QStringLiteral("frmLogin");
constexpr auto kForm = core::ModuleKind::Form;
}  // namespace

frmLogin::frmLogin(QWidget* parent, modOrvelDBConsts::Endpoints endpoints)
    : QDialog(parent), ui(std::make_unique<Ui::frmLogin>()), m_endpoints(std::move(endpoints)) {
    ui->setupUi(this);
    setWindowIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    // No input-method editor for the password.
    ui->txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);

    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(ui->cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(ui->chkpwdSave, &QCheckBox::stateChanged, this, [this] { chkpwdSave_Click(); });
    connect(ui->txtPassword, &QLineEdit::textChanged, this, [this] { txtPassword_Change(); });
    m_focusWatch =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });

    Form_Load();
}

frmLogin::~frmLogin() {
    // The controls' destruction moves the focus; by then this is no form.
    disconnect(m_focusWatch);
    Form_Unload();
}

void frmLogin::Form_Load() {
    LoginSucceeded = false;
    const QString app = SettingsApp(), sec = SettingsSection();
    // Anything but an integer falls back to unticked.
    bool ok = false;
    const int state = platform::GetSetting(app, sec, kIsSave, QStringLiteral("0")).trimmed().toInt(&ok);
    const bool remembered = ok && state == 1;
    if (remembered) {
        if (platform::HasSecretSetting(app, sec, kPasswd))
            ui->txtPassword->setText(platform::GetSecretSetting(app, sec, kPasswd));
    } else if (!platform::GetSecretSetting(app, sec, kPasswd).isEmpty()) {
        // Unticked means forgotten. A build that knows only the plain value
        // (it shares these settings) blanks that one and leaves our
        // protected copy, which must not sign the user in.
        platform::SaveSecretSetting(app, sec, kPasswd, QString());
    }
    ui->chkpwdSave->setChecked(remembered);
    m_bFirstActivate = true;
}

bool frmLogin::event(QEvent* e) {
    const bool r = QDialog::event(e);
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return r;
}

void frmLogin::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    // Some platforms never activate a window nobody looks at; the first
    // showing counts as the first activation there.
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) Form_Activate();
    });
}

void frmLogin::Form_Activate() {
    if (!m_bFirstActivate) return;
    m_bFirstActivate = false;

    const QString uid = modOrvelDBConsts::AdmitWorkstation(m_endpoints);  // ends the program when refused
    ui->txtUserName->setText(uid);
    ui->txtUserName->setEnabled(false);

    // A connection object that cannot even be created counts as a failed
    // connection, after its error has been reported.
    bool connected = false;
    core::TrapErrors(QStringLiteral("Form_Activate"), kModule, kForm, [&] {
        m_db = std::make_unique<cMySQL>();
        connected = modMain::ConnectInhouse(*m_db, m_endpoints.db);
    });
    if (!connected) {
        hide();
        done(QDialog::Rejected);
        return;
    }
    if (!ui->txtUserName->text().isEmpty() && !ui->txtPassword->text().isEmpty()) cmdOK_Click();
}

QString frmLogin::SafeSQL(const QString& text) const {
    // The connection's own escaping follows the character set the server
    // left the connection in; the fixed doubling of quotes and backslashes
    // stands in only where there is no connection.
    if (!m_db) return formats::QuoteSqlText(text);
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return m_db->real_escape_string(nul >= 0 ? text.left(nul) : text);
}

int frmLogin::RunQuery(RecordsetPtr& rs, const QString& sql) {
    rs = m_db->query(sql, false);
    return m_db->affected_rows();
}

void frmLogin::cmdOK_Click() {
    if (!m_db) return;  // not activated yet: nothing to check against
    RecordsetPtr rs;
    core::TrapErrors(QStringLiteral("cmdOK_Click"), kModule, kForm, [&] {
        const QString sql = QStringLiteral("SELECT *, now() as svrtime FROM user") +
                            QStringLiteral(" where id='") + SafeSQL(ui->txtUserName->text()) +
                            QStringLiteral("' AND password2 = SHA1('") + SafeSQL(ui->txtPassword->text()) +
                            QStringLiteral("')") + QStringLiteral(" and hidden=0");
        const int n = RunQuery(rs, sql);
        if (n <= 0 || !rs) {
            qCWarning(core::lcLogin, "sign-in of user %s refused: %s", qUtf8Printable(ui->txtUserName->text()),
                      n < 0 ? "the statement failed (its error is logged above)"
                            : "wrong password, or no such user that may sign in");
            core::MsgBox(QStringLiteral("암호가 잘못되었습니다."), core::MsgButtons::Ok,
                             core::MsgIcon::None, QStringLiteral("로그인"));
            ui->txtPassword->setFocus(Qt::OtherFocusReason);
            gui::SendKeys(ui->txtPassword, {QKeyCombination(Qt::Key_Home),
                                                 QKeyCombination(Qt::ShiftModifier, Qt::Key_End)});
        } else {
            LoginSucceeded = modMain::CheckLogin(rs);
            hide();
            done(LoginSucceeded ? QDialog::Accepted : QDialog::Rejected);
        }
    });
    CloseRecordset(rs);
}

void frmLogin::cmdCancel_Click() {
    hide();
    done(QDialog::Rejected);
}

void frmLogin::reject() { cmdCancel_Click(); }

void frmLogin::closeEvent(QCloseEvent* e) {
    Form_Unload();
    QDialog::closeEvent(e);
}

void frmLogin::Form_Unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    if (m_db) {
        m_db->free_result();
        m_db.reset();
    }
}

void frmLogin::chkpwdSave_Click() {
    if (!isVisible()) return;
    const QString app = SettingsApp(), sec = SettingsSection();
    const bool ticked = ui->chkpwdSave->isChecked();
    platform::SaveSetting(app, sec, kIsSave, ticked ? QStringLiteral("1") : QStringLiteral("0"));
    platform::SaveSecretSetting(app, sec, kPasswd, ticked ? ui->txtPassword->text() : QString());
}

void frmLogin::txtPassword_Change() { m_bPwdChanged = true; }
void frmLogin::txtPassword_GotFocus() { m_bPwdChanged = false; }

void frmLogin::txtPassword_LostFocus() {
    if (ui->chkpwdSave->isChecked() && m_bPwdChanged)
        platform::SaveSecretSetting(SettingsApp(), SettingsSection(), kPasswd, ui->txtPassword->text());
}

void frmLogin::focusMoved(QWidget* now) {
    // Only a move between the form's own controls counts: a message box or
    // another application taking the focus stores nothing, and the focus
    // coming back to the same control is no new arrival.
    if (!now || now == m_focus || !isAncestorOf(now)) return;
    const QWidget* was = m_focus;
    m_focus = now;
    if (was == ui->txtPassword) txtPassword_LostFocus();
    if (now == ui->txtPassword) txtPassword_GotFocus();
}
