#pragma once
// The common base of the preference windows. A subclass contributes panels; the base arranges
// them as tabs (opened from a menu) or as the pages of a wizard (first run), loads the controls
// from a settings section and writes them back, using each control's hint as the setting's name.
#include <QDialog>
#include <QList>
#include <QString>

class QPushButton;
class QTabWidget;
class QWidget;
class TBaseRegistryClass;

// The result of a wizard the user abandoned with "Cancel" and "Yes".
constexpr int PrefAbandoned = 3;

class TBasePrefForm : public QDialog {
    Q_OBJECT
public:
    // A text field holding a number that must be greater than 0: empty or 0 keeps the old value.
    static constexpr const char* PositiveNumberProperty = "vorlixPositiveNumber";
    explicit TBasePrefForm(QWidget* parent = nullptr);
    ~TBasePrefForm() override;

    // A panel's hint is "step,tab,caption"; a bound control's hint names its setting.
    static void SetHint(QWidget* widget, const QString& hint);
    static QString Hint(const QWidget* widget);

    TBaseRegistryClass* SettingsStore = nullptr;
    QList<QWidget*> Panels;
    int CurrentStep = 0;
    bool AtLastStep = false;
    bool WizardMode = true;

    // Creates a panel with the given hint, owned by the window, and appends it to Panels.
    QWidget* AddPanel(const QString& hint);

    void LoadValues();
    void SaveValues();
    // Loads the values and arranges the panels; exec() and showing do it once by themselves.
    void PrepareShow() { prepare(); }

    // Wizard navigation and buttons, public so tests and keyboard users reach the same paths.
    void NextStep();     // "Next >>" / "Finish"
    void PreviousStep(); // "<< Back"
    void OkClick();
    void CancelClick();

    QPushButton* BackButton() const { return btnBack; }
    QPushButton* NextButton() const { return btnNext; }
    QPushButton* OkButton() const { return btnOk; }
    QPushButton* CancelButton() const { return btnCancel; }
    QTabWidget* Tabs() const { return tabs; }
    // The panel shown in wizard mode or on the active tab.
    QWidget* CurrentPanel() const;

    static int PanelStep(const QWidget* panel);
    static int PanelTab(const QWidget* panel);
    static QString PanelCaption(const QWidget* panel);

    int exec() override;
    void reject() override; // Escape and the close box act as "Cancel"

protected:
    virtual bool ValidatePanel(QWidget* panel);
    virtual bool ValidateControl(const QString& controlName);
    virtual void CustomSaveValues() {}
    virtual void CustomLoadValues() {}

    void showEvent(QShowEvent* event) override;

private:
    void prepare();
    void updateButtons();
    QWidget* panelOfStep(int step) const;
    void focusFirstBound(QWidget* panel);
    void loadControl(QWidget* control);
    void saveControl(QWidget* control);
    void onTabChanged(int index);

    QPushButton* btnBack;
    QPushButton* btnNext;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QTabWidget* tabs;
    QWidget* wizardPage;
    bool prepared = false;
    int lastTab = -1;
    bool switchingBack = false;
};
