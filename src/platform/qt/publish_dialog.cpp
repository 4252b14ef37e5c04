#include "platform/qt/publish_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "common/messages.h"
#include "platform/qstring_utf8.h"

namespace keldrin {

namespace {

QLineEdit* field(QWidget* parent, const char* name, const std::string& text) {
    auto* e = new QLineEdit(q(text), parent);
    e->setObjectName(QString::fromUtf8(name));
    e->setAccessibleName(QString::fromUtf8(name));
    return e;
}

}  // namespace

PublishDialog::PublishDialog(const publish::Settings& now, QWidget* parent) : QDialog(parent), now_(now) {
    setObjectName(QStringLiteral("发布设置"));
    setWindowTitle(q(msg::kPublishTitle));
    setModal(true);
    auto* form = new QFormLayout;
    enabled_ = new QCheckBox(QStringLiteral("发布到 MQTT 服务器"), this);
    enabled_->setObjectName(QStringLiteral("启用发布"));
    enabled_->setChecked(now.enabled);
    host_ = field(this, "服务器", now.host);
    port_ = field(this, "端口", std::to_string(now.port));
    port_->setValidator(new QIntValidator(1, 65535, port_));
    tls_ = new QCheckBox(QStringLiteral("加密连接（TLS）"), this);
    tls_->setObjectName(QStringLiteral("TLS"));
    tls_->setChecked(now.tls);
    ca_ = field(this, "CA证书", now.ca);
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    browse->setObjectName(QStringLiteral("浏览"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QStringLiteral("CA证书"), ca_->text());
        if (!f.isEmpty()) ca_->setText(f);
    });
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(ca_, 1);
    caRow->addWidget(browse);
    user_ = field(this, "用户名", now.user);
    password_ = field(this, "密码", "");
    password_->setEchoMode(QLineEdit::Password);
    if (!now.password.empty()) password_->setPlaceholderText(QStringLiteral("已保存，不显示；留空则不变"));
    rig_ = field(this, "试验台", now.rig);
    form->addRow(enabled_);
    form->addRow(QStringLiteral("服务器："), host_);
    form->addRow(QStringLiteral("端口："), port_);
    form->addRow(tls_);
    form->addRow(QStringLiteral("CA证书："), caRow);
    form->addRow(QStringLiteral("用户名："), user_);
    form->addRow(QStringLiteral("密码："), password_);
    form->addRow(QStringLiteral("试验台名称："), rig_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("保存"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void PublishDialog::accept() {
    publish::Settings s = now_;
    s.enabled = enabled_->isChecked();
    s.host = host_->text().trimmed().toStdString();
    s.port = port_->text().toInt();
    s.tls = tls_->isChecked();
    s.ca = ca_->text().toStdString();
    s.user = user_->text().toStdString();
    if (!password_->text().isEmpty()) s.password = password_->text().toStdString();
    s.rig = rig_->text().trimmed().toStdString();
    if (const std::optional<std::string> problem = publish::problemWith(s)) {
        QMessageBox::warning(this, q(msg::kPublishTitle), q(*problem));
        return;
    }
    chosen_ = s;
    QDialog::accept();
}

}  // namespace keldrin
