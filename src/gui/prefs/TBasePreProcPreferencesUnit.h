#pragma once
// "Setting Text Pre-Processor Preferences": the lines the preprocessor keeps from being spoken
// (beginning with, or containing, given strings) and its symbol filter. The window edits the
// main speech manager's preprocessor and changes it only on "OK" - except "Delete" in the
// containing list, which takes the string out of the live list at once.
#include "gui/prefs/TBasePrefFormUnit.h"

#include <QStringList>

class QCheckBox;
class QLineEdit;
class QListWidget;
class TBaseTTS;
class TPreProcessor;

class TBasePreProcPreferences : public TBasePrefForm {
    Q_OBJECT
public:
    // The speech manager's preprocessor is edited and its settings section is the store.
    explicit TBasePreProcPreferences(TBaseTTS* speech, QWidget* parent = nullptr);

    // Opens the window from the menu (tab mode), modally through the window service.
    static void Execute(TBaseTTS* speech, QWidget* parent);

    void btnAddClick();
    void btnDeleteClick();

    QCheckBox* chkStartOfLine;
    QLineEdit* edtStartOfLine;
    QCheckBox* chkContaining;
    QListWidget* lstContaining;
    QPushButton* btnAdd;
    QPushButton* btnDelete;
    QCheckBox* chkFilterSymbols;

protected:
    void CustomLoadValues() override;
    void CustomSaveValues() override;

private:
    void fillList();

    TPreProcessor* Preprocessor;
    // The strings of the containing list while the window is open.
    QStringList Containing;
};
