#pragma once
// "Vorlix Options": the poster's identity and the download and clean-up limits.
#include "gui/prefs/TBasePrefFormUnit.h"

class QCheckBox;
class QLineEdit;

class TNewsgroupPreferences : public TBasePrefForm {
    Q_OBJECT
public:
    explicit TNewsgroupPreferences(QWidget* parent = nullptr);

    QLineEdit* edName;
    QLineEdit* edEmail;
    QLineEdit* edReplyTo;
    QLineEdit* edMsgsToRetrieve;
    QLineEdit* edMsgDeleteDays;
    QCheckBox* chkFixedFont;
};
