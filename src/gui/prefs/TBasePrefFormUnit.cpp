#include "gui/prefs/TBasePrefFormUnit.h"

#include "gui/app/KeyboardAccess.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/RegistryEnhanced.h"
#include "core/TBaseRegistryClassUnit.h"
#include "core/VorlixException.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
int scaled(int v, const QWidget* w)
{
    const double dpi = w->screen() ? w->screen()->logicalDotsPerInch() : 96.0;
    return int(std::lround(v * dpi / 96.0));
}

int hintField(const QWidget* panel, int index)
{
    const QString hint = TBasePrefForm::Hint(panel);
    const QStringList parts = hint.split(QLatin1Char(','));
    const QString field = parts.value(index).trimmed();
    bool ok = false;
    const int v = field.toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(field));
    return v;
}

// Controls bound to a setting: the panel's direct children with a hint.
QList<QWidget*> boundControls(QWidget* panel)
{
    QList<QWidget*> out;
    for (QObject* o : panel->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !TBasePrefForm::Hint(w).isEmpty())
            out << w;
    }
    return out;
}
}

TBasePrefForm::TBasePrefForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Setting Preferences"));
    resize(scaled(450, this), scaled(410, this));

    auto* layout = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("PageControl"));
    tabs->setAccessibleName(QStringLiteral("Preference pages"));
    wizardPage = new QWidget(this);
    wizardPage->setObjectName(QStringLiteral("WizardPage"));
    new QVBoxLayout(wizardPage);
    layout->addWidget(tabs, 1);
    layout->addWidget(wizardPage, 1);

    auto* buttons = new QHBoxLayout;
    btnBack = new QPushButton(QStringLiteral("<< &Back"), this);
    btnNext = new QPushButton(QStringLiteral("&Next >>"), this);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnOk->setDefault(true);
    buttons->addStretch(1);
    for (QPushButton* b : {btnBack, btnNext, btnOk, btnCancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(btnBack, &QPushButton::clicked, this, &TBasePrefForm::PreviousStep);
    connect(btnNext, &QPushButton::clicked, this, &TBasePrefForm::NextStep);
    connect(btnOk, &QPushButton::clicked, this, &TBasePrefForm::OkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TBasePrefForm::CancelClick);
    connect(tabs, &QTabWidget::currentChanged, this, &TBasePrefForm::onTabChanged);
}

TBasePrefForm::~TBasePrefForm() = default;

void TBasePrefForm::SetHint(QWidget* widget, const QString& hint)
{
    widget->setProperty("hint", hint);
}

QString TBasePrefForm::Hint(const QWidget* widget)
{
    return widget->property("hint").toString();
}

int TBasePrefForm::PanelStep(const QWidget* panel)
{
    return hintField(panel, 0);
}

int TBasePrefForm::PanelTab(const QWidget* panel)
{
    return hintField(panel, 1);
}

QString TBasePrefForm::PanelCaption(const QWidget* panel)
{
    const QString hint = Hint(panel);
    const int first = hint.indexOf(QLatin1Char(','));
    const int second = first < 0 ? -1 : hint.indexOf(QLatin1Char(','), first + 1);
    return second < 0 ? QString() : hint.mid(second + 1).left(1000);
}

QWidget* TBasePrefForm::AddPanel(const QString& hint)
{
    auto* panel = new QWidget(this);
    SetHint(panel, hint);
    panel->hide();
    Panels << panel;
    return panel;
}

void TBasePrefForm::loadControl(QWidget* c)
{
    const QString key = Hint(c);
    if (auto* e = qobject_cast<QLineEdit*>(c)) {
        e->setText(SettingsStore->GetValue(key).toString());
    } else if (auto* cb = qobject_cast<QCheckBox*>(c)) {
        cb->setChecked(SettingsStore->GetValue(key).toBool());
    } else if (auto* s = qobject_cast<QSlider*>(c)) {
        s->setValue(SettingsStore->GetValue(key).toInt());
    } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
        const QString value = SettingsStore->GetValue(key).toString();
        int found = -1;
        for (int i = 0; i < combo->count(); ++i) {
            if (combo->itemText(i) == value)
                found = i; // the last equal item wins
        }
        combo->setCurrentIndex(found);
    } else if (auto* list = qobject_cast<QListWidget*>(c)) {
        list->clear();
        list->addItems(SettingsStore->GetList(key));
    } else if (auto* group = qobject_cast<QGroupBox*>(c)) {
        const QString value = SettingsStore->GetValue(key).toString();
        for (QObject* o : group->children()) {
            if (auto* r = qobject_cast<QRadioButton*>(o))
                r->setChecked(Hint(r) == value);
        }
    }
}

void TBasePrefForm::saveControl(QWidget* c)
{
    const QString key = Hint(c);
    if (auto* e = qobject_cast<QLineEdit*>(c)) {
        if (e->property(PositiveNumberProperty).toBool() && e->text().trimmed().toLongLong() <= 0) {
            e->setText(SettingsStore->GetValue(key).toString());
            return; // the value stored before stays
        }
        SettingsStore->SetValue(key, e->text());
    } else if (auto* cb = qobject_cast<QCheckBox*>(c)) {
        SettingsStore->SetValue(key, cb->isChecked());
    } else if (auto* s = qobject_cast<QSlider*>(c)) {
        SettingsStore->SetValue(key, s->value());
    } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
        SettingsStore->SetValue(key, combo->currentText());
    } else if (auto* list = qobject_cast<QListWidget*>(c)) {
        QStringList& stored = SettingsStore->GetList(key);
        stored.clear();
        for (int i = 0; i < list->count(); ++i)
            stored << list->item(i)->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(c)) {
        for (QObject* o : group->children()) {
            auto* r = qobject_cast<QRadioButton*>(o);
            if (r && r->isChecked())
                SettingsStore->SetValue(key, Hint(r));
        }
    }
    // Other kinds of control (a label with a hint) carry no value.
}

void TBasePrefForm::LoadValues()
{
    // The first-run wizard is given a fresh store; any other owner's store is live, with
    // changes of this session (panel sizes, columns) that the file does not have yet.
    if (WizardMode)
        SettingsStore->LoadAll();
    CustomLoadValues();
    for (QWidget* panel : Panels) {
        if (PanelStep(panel) == 0 && PanelTab(panel) == 0)
            continue;
        for (QWidget* c : boundControls(panel))
            loadControl(c);
    }
}

void TBasePrefForm::SaveValues()
{
    for (QWidget* panel : Panels) {
        const int n = WizardMode ? PanelStep(panel) : PanelTab(panel);
        if (n == 0)
            continue;
        for (QWidget* c : boundControls(panel))
            saveControl(c);
    }
    CustomSaveValues();
    SettingsStore->SaveAll();
    SettingsStore->SetStartupSaved();
    // The values hold for this session all the same; the user must know they are not on disk.
    if (!TRegistryEnhanced::LastSaveError().isEmpty())
        Dialogs().ShowError(TRegistryEnhanced::LastSaveError());
    SettingsStore->LoadAll();
}

bool TBasePrefForm::ValidatePanel(QWidget* panel)
{
    for (QObject* o : panel->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !ValidateControl(w->objectName()))
            return false;
    }
    return true;
}

bool TBasePrefForm::ValidateControl(const QString&)
{
    return true;
}

QWidget* TBasePrefForm::panelOfStep(int step) const
{
    for (QWidget* p : Panels) {
        if (PanelStep(p) == step)
            return p;
    }
    return nullptr;
}

QWidget* TBasePrefForm::CurrentPanel() const
{
    if (WizardMode)
        return CurrentStep > 0 ? panelOfStep(CurrentStep) : nullptr;
    QWidget* page = tabs->currentWidget();
    if (!page)
        return nullptr;
    for (QWidget* p : Panels) {
        if (p->parentWidget() == page)
            return p;
    }
    return nullptr;
}

void TBasePrefForm::focusFirstBound(QWidget* panel)
{
    QWidget* best = nullptr;
    for (QWidget* c : boundControls(panel)) {
        if (!best || c->y() < best->y() || (c->y() == best->y() && c->x() < best->x()))
            best = c;
    }
    if (best)
        best->setFocus();
}

void TBasePrefForm::updateButtons()
{
    bool earlier = false, later = false;
    for (QWidget* p : Panels) {
        const int s = PanelStep(p);
        if (s > 0 && s < CurrentStep)
            earlier = true;
        if (s > CurrentStep)
            later = true;
    }
    btnBack->setEnabled(earlier);
    btnNext->setText(later ? QStringLiteral("&Next >>") : QStringLiteral("&Finish"));
    AtLastStep = !later;
}

void TBasePrefForm::NextStep()
{
    if (AtLastStep) {
        QWidget* current = panelOfStep(CurrentStep);
        if (current && !ValidatePanel(current))
            return;
        SaveValues();
        accept();
        return;
    }
    if (CurrentStep != 0) {
        QWidget* current = panelOfStep(CurrentStep);
        if (current && !ValidatePanel(current))
            return;
    }
    for (QWidget* p : Panels)
        p->hide();
    QWidget* found = nullptr;
    while (!found) {
        ++CurrentStep;
        if (CurrentStep > 100) {
            Dialogs().ShowMessage(QStringLiteral("Problem with Preference Panel captions"));
            return;
        }
        found = panelOfStep(CurrentStep);
    }
    found->show();
    updateButtons();
    focusFirstBound(found);
}

void TBasePrefForm::PreviousStep()
{
    for (QWidget* p : Panels)
        p->hide();
    QWidget* found = nullptr;
    while (!found) {
        --CurrentStep;
        if (CurrentStep <= 0) {
            Dialogs().ShowMessage(QStringLiteral("problem with preference panel captions"));
            return;
        }
        found = panelOfStep(CurrentStep);
    }
    found->show();
    updateButtons();
}

void TBasePrefForm::OkClick()
{
    QWidget* panel = CurrentPanel();
    if (panel && !ValidatePanel(panel))
        return;
    SaveValues();
    accept();
}

void TBasePrefForm::CancelClick()
{
    if (!WizardMode) {
        QDialog::reject();
        return;
    }
    if (Dialogs().Ask(QStringLiteral("Are you sure you want to exit?"), TDialogButtons::YesNoDefaultNo) == TDialogAnswer::Yes)
        done(PrefAbandoned);
}

void TBasePrefForm::reject()
{
    CancelClick();
}

void TBasePrefForm::onTabChanged(int index)
{
    if (switchingBack || !prepared) {
        lastTab = index;
        return;
    }
    // Leaving a tab needs its panel to pass validation; otherwise the tab stays.
    if (lastTab >= 0 && lastTab != index) {
        QWidget* page = tabs->widget(lastTab);
        for (QWidget* p : Panels) {
            if (p->parentWidget() == page) {
                p->setFocus();
                if (!ValidatePanel(p)) {
                    switchingBack = true;
                    tabs->setCurrentIndex(lastTab);
                    switchingBack = false;
                    return;
                }
            }
        }
    }
    lastTab = index;
    if (QWidget* p = CurrentPanel())
        p->setFocus();
}

void TBasePrefForm::prepare()
{
    if (prepared)
        return;
    LoadValues();
    const QSize panelSize(scaled(420, this), scaled(310, this));
    for (QWidget* p : Panels) {
        p->hide();
        p->move(10, 10);
        p->resize(panelSize);
        p->setMinimumSize(panelSize);
    }
    CurrentStep = 0;
    if (WizardMode) {
        tabs->hide();
        wizardPage->show();
        for (QWidget* p : Panels) {
            if (PanelStep(p) > 0)
                wizardPage->layout()->addWidget(p);
        }
        btnOk->hide();
        btnBack->show();
        btnNext->show();
        // Enter goes on to the next step, and finishes at the last.
        btnOk->setDefault(false);
        btnNext->setDefault(true);
        prepared = true;
        NextStep();
    } else {
        wizardPage->hide();
        tabs->show();
        btnOk->show();
        btnBack->hide();
        btnNext->hide();
        int maxTab = 0;
        for (QWidget* p : Panels)
            maxTab = std::max(maxTab, PanelTab(p));
        QWidget* last = nullptr;
        for (int t = 1; t <= maxTab; ++t) {
            for (QWidget* p : Panels) {
                if (PanelTab(p) != t)
                    continue;
                auto* page = new QWidget;
                auto* l = new QVBoxLayout(page);
                l->setContentsMargins(0, 0, 0, 0);
                l->addWidget(p);
                p->show();
                tabs->addTab(page, PanelCaption(p));
                last = p;
            }
        }
        if (tabs->count() >= 2)
            tabs->setCurrentIndex(0);
        // The pages came after the buttons: Tab goes to the tabs, the page and then OK, Cancel.
        KeyboardAccess::OrderTabbedPart(tabs, {btnOk, btnCancel});
        lastTab = tabs->currentIndex();
        int extra = 10;
        if (last && last->height() < panelSize.height())
            extra += panelSize.height() - last->height();
        resize(width(), height() + extra);
        prepared = true;
    }
}

int TBasePrefForm::exec()
{
    prepare();
    return QDialog::exec();
}

void TBasePrefForm::showEvent(QShowEvent* event)
{
    prepare();
    QDialog::showEvent(event);
    if (!WizardMode) {
        if (QWidget* p = CurrentPanel())
            p->setFocus();
    }
}
