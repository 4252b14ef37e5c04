#pragma once
// 发布设置: edits 发布.ini (publishing to an MQTT broker) as the operator sees it, in
// Chinese like the rest. The password is never shown: left empty, the saved one stays.
#include <QDialog>

#include "publish/settings.h"

class QCheckBox;
class QLineEdit;

namespace keldrin {

class PublishDialog : public QDialog {
public:
    PublishDialog(const publish::Settings& now, QWidget* parent);
    // What the operator chose, once accepted.
    publish::Settings chosen() const { return chosen_; }

private:
    void accept() override;

    publish::Settings now_, chosen_;
    QCheckBox* enabled_;
    QLineEdit* host_;
    QLineEdit* port_;
    QCheckBox* tls_;
    QLineEdit* ca_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* rig_;
};

}  // namespace keldrin
