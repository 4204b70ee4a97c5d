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

    // Where the options window (not the first-run wizard) keeps its size and position.
    static constexpr const char* PlacementName = "TNewsgroupPreferences";

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool placed = false;
};
