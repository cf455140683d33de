#include "login/frmlogin.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "db/cmysql.h"
#include "db/inhouse.h"
#include "login/admission.h"
#include "platform/msgbox.h"
#include "platform/sendkeys.h"
#include "platform/settingsstore.h"

namespace {
// Layout values are given in twips; 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}
const QString kIsSave = QStringLiteral("issave_passwd");
const QString kPasswd = QStringLiteral("passwd");
}  // namespace

frmLogin::frmLogin(QWidget* parent, modOrvelDBConsts::Endpoints endpoints)
    : QDialog(parent), m_endpoints(std::move(endpoints)) {
    setWindowTitle(QStringLiteral("로그인"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(4425 / 15, 1605 / 15);
    setModal(true);

    txtUserName = new QLineEdit(this);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtUserName->setGeometry(twips(1125, 135, 2325, 345));

    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setGeometry(twips(1125, 525, 2325, 345));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                     Qt::ImhNoPredictiveText | Qt::ImhLatinOnly);

    cmdOK = new QPushButton(QStringLiteral("확인"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips(1125, 975, 1140, 390));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);

    chkpwdSave = new QCheckBox(QStringLiteral("저장"), this);
    chkpwdSave->setObjectName(QStringLiteral("chkpwdSave"));
    chkpwdSave->setGeometry(twips(3555, 585, 690, 240));

    lblLabels[0] = new QLabel(QStringLiteral("아이디(&U):"), this);
    lblLabels[0]->setObjectName(QStringLiteral("lblLabels0"));
    lblLabels[0]->setGeometry(twips(150, 210, 915, 240));
    lblLabels[0]->setBuddy(txtUserName);

    lblLabels[1] = new QLabel(QStringLiteral("암호(&P):"), this);
    lblLabels[1]->setObjectName(QStringLiteral("lblLabels1"));
    lblLabels[1]->setGeometry(twips(315, 615, 720, 225));
    lblLabels[1]->setBuddy(txtPassword);

    cmdCancel = new QPushButton(QStringLiteral("취소"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(twips(2340, 975, 1140, 390));
    cmdCancel->setAutoDefault(false);

    // Tab order: user id, password, OK, save switch, (labels), cancel.
    setTabOrder(txtUserName, txtPassword);
    setTabOrder(txtPassword, cmdOK);
    setTabOrder(cmdOK, chkpwdSave);
    setTabOrder(chkpwdSave, cmdCancel);

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(chkpwdSave, &QCheckBox::stateChanged, this, [this] { chkpwdSave_Click(); });
    connect(txtPassword, &QLineEdit::textChanged, this, [this] { txtPassword_Change(); });
    txtPassword->installEventFilter(this);

    Form_Load();
}

frmLogin::~frmLogin() { Form_Unload(); }

void frmLogin::Form_Load() {
    LoginSucceeded = false;
    const QString app = SettingsApp(), sec = SettingsSection();
    if (platform::HasSetting(app, sec, kPasswd))
        txtPassword->setText(platform::GetSetting(app, sec, kPasswd));
    // Anything but an integer falls back to unticked.
    bool ok = false;
    const int state = platform::GetSetting(app, sec, kIsSave, QStringLiteral("0")).trimmed().toInt(&ok);
    chkpwdSave->setChecked(ok && state == 1);
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
    txtUserName->setText(uid);
    txtUserName->setEnabled(false);

    m_db = std::make_unique<cMySQL>();
    if (!modMain::ConnectInhouse(*m_db, m_endpoints.db)) {
        hide();
        done(QDialog::Rejected);
        return;
    }
    if (!txtUserName->text().isEmpty() && !txtPassword->text().isEmpty()) cmdOK_Click();
}

QString frmLogin::SafeSQL(const QString& text) {
    QString s = text;
    const qsizetype nul = s.indexOf(QChar(u'\0'));
    if (nul >= 0) s.truncate(nul);
    s.replace(QStringLiteral("'"), QStringLiteral("''"));
    s.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return s;
}

int frmLogin::RunQuery(RecordsetPtr& rs, const QString& sql) {
    rs = m_db->query(sql, false);
    return m_db->affected_rows();
}

void frmLogin::cmdOK_Click() {
    if (!m_db) return;  // not activated yet: nothing to check against
    const QString sql = QStringLiteral("SELECT *, now() as svrtime FROM user") +
                        QStringLiteral(" where id='") + SafeSQL(txtUserName->text()) +
                        QStringLiteral("' AND password2 = SHA1('") + SafeSQL(txtPassword->text()) +
                        QStringLiteral("')") + QStringLiteral(" and hidden=0");
    RecordsetPtr rs;
    const int n = RunQuery(rs, sql);
    if (n <= 0 || !rs) {
        platform::MsgBox(QStringLiteral("암호가 잘못되었습니다."), platform::MsgButtons::Ok,
                         platform::MsgIcon::None, QStringLiteral("로그인"));
        txtPassword->setFocus(Qt::OtherFocusReason);
        platform::SendKeys(txtPassword, {QKeyCombination(Qt::Key_Home),
                                         QKeyCombination(Qt::ShiftModifier, Qt::Key_End)});
    } else {
        LoginSucceeded = modMain::CheckLogin(rs);
        hide();
        done(LoginSucceeded ? QDialog::Accepted : QDialog::Rejected);
    }
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
    const bool ticked = chkpwdSave->isChecked();
    platform::SaveSetting(app, sec, kIsSave, ticked ? QStringLiteral("1") : QStringLiteral("0"));
    platform::SaveSetting(app, sec, kPasswd, ticked ? txtPassword->text() : QString());
}

void frmLogin::txtPassword_Change() { m_bPwdChanged = true; }
void frmLogin::txtPassword_GotFocus() { m_bPwdChanged = false; }

void frmLogin::txtPassword_LostFocus() {
    if (chkpwdSave->isChecked() && m_bPwdChanged)
        platform::SaveSetting(SettingsApp(), SettingsSection(), kPasswd, txtPassword->text());
}

bool frmLogin::eventFilter(QObject* watched, QEvent* e) {
    if (watched == txtPassword) {
        if (e->type() == QEvent::FocusIn) txtPassword_GotFocus();
        else if (e->type() == QEvent::FocusOut) txtPassword_LostFocus();
    }
    return QDialog::eventFilter(watched, e);
}
