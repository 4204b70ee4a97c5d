#include "gui/lexicon/LexEdit.h"

#include "gui/app/KeyboardAccess.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "gui/app/WindowPlacement.h"
#include "gui/app/WindowService.h"
#include "preprocess/TLookUpTableUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/PrivateSpeechManager.h"
#include "speech/Sapi5Wrapper.h"
#include "speech/TBaseTTSUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString PlacementName = QStringLiteral("TLexEditForm");
constexpr int UsEnglish = 1033;

QPushButton* button(QWidget* parent, const QString& name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QLineEdit* edit(QWidget* parent, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

QTreeWidget* list(QWidget* parent, const QString& name, const QStringList& columns)
{
    auto* l = new QTreeWidget(parent);
    l->setObjectName(name);
    l->setHeaderLabels(columns);
    l->setRootIsDecorated(false);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    l->setSortingEnabled(true);
    l->sortByColumn(0, Qt::AscendingOrder);
    return l;
}

void makeDefault(QPushButton* b)
{
    for (QPushButton* other : b->window()->findChildren<QPushButton*>())
        other->setDefault(false);
    b->setDefault(true);
}

const QString EnterWordFirst = QStringLiteral("Enter a word first, then how you would like the word pronounced");
}

TLexEditForm::TLexEditForm(TBaseTTS* main, QWidget* parent)
    : QDialog(parent)
    , mainSpeech(main)
{
    setObjectName(PlacementName);
    setWindowTitle(QStringLiteral("Pronunciation Editor"));

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setAccessibleName(QStringLiteral("Editor pages"));

    // Basic page: the user translations.
    tsBasic = new QWidget;
    tsBasic->setObjectName(QStringLiteral("tsBasic"));
    {
        auto* v = new QVBoxLayout(tsBasic);
        auto* text = new QLabel(QStringLiteral("Words typed here are replaced before any voice speaks them, so they "
                                               "apply to every voice: write how the word should sound."),
                                tsBasic);
        text->setWordWrap(true);
        v->addWidget(text);
        lvBasic = list(tsBasic, QStringLiteral("lvBasic"),
                       {QStringLiteral("Word"), QStringLiteral("Pronounce As"), QStringLiteral("Case Sensitive")});
        v->addWidget(lvBasic, 1);
        auto* form = new QFormLayout;
        edWord = edit(tsBasic, QStringLiteral("edWord"));
        lvBasic->setAccessibleName(QStringLiteral("Defined words"));
        edPronunciation = edit(tsBasic, QStringLiteral("edPronunciation"));
        chkCaseSensitive = new QCheckBox(QStringLiteral("Case Sensitive"), tsBasic);
        chkCaseSensitive->setObjectName(QStringLiteral("chkCaseSensitive"));
        cbBasicVoice = new QComboBox(tsBasic);
        cbBasicVoice->setObjectName(QStringLiteral("cbBasicVoice"));
        form->addRow(QStringLiteral("Word:"), edWord);
        form->addRow(QStringLiteral("Pronunciation:"), edPronunciation);
        form->addRow(QString(), chkCaseSensitive);
        form->addRow(QStringLiteral("Voice:"), cbBasicVoice);
        v->addLayout(form);
        auto* buttons = new QHBoxLayout;
        btnNew = button(tsBasic, QStringLiteral("btnNew"), QStringLiteral("New"));
        btnApply = button(tsBasic, QStringLiteral("btnApply"), QStringLiteral("Apply"));
        btnDelete = button(tsBasic, QStringLiteral("btnDelete"), QStringLiteral("Delete"));
        btnTest = button(tsBasic, QStringLiteral("btnTest"), QStringLiteral("Test"));
        btnDone = button(tsBasic, QStringLiteral("btnDone"), QStringLiteral("Done"));
        for (QPushButton* b : {btnNew, btnApply, btnDelete, btnTest, btnDone})
            buttons->addWidget(b);
        v->addLayout(buttons);
    }

    // Advanced page: the user lexicon in phoneme symbols.
    tsAdvanced = new QWidget;
    tsAdvanced->setObjectName(QStringLiteral("tsAdvanced"));
    {
        auto* v = new QVBoxLayout(tsAdvanced);
        auto* text = new QLabel(QStringLiteral("Words defined here are spoken by the eSpeak NG voices exactly as "
                                               "the phoneme symbols say. Double-click a symbol to insert it at the "
                                               "cursor; a 1 after a vowel stresses it."),
                                tsAdvanced);
        text->setWordWrap(true);
        v->addWidget(text);
        auto* lists = new QHBoxLayout;
        lvWords = list(tsAdvanced, QStringLiteral("lvWords"), {QStringLiteral("Word")});
        lvPhonemes = new QTreeWidget(tsAdvanced);
        lvPhonemes->setObjectName(QStringLiteral("lvPhonemes"));
        lvPhonemes->setAccessibleName(QStringLiteral("Phonemes"));
        lvWords->setAccessibleName(QStringLiteral("Defined words"));
        lvPhonemes->setHeaderLabels({QStringLiteral("Phoneme"), QStringLiteral("Sounds Like ....")});
        lvPhonemes->setRootIsDecorated(false);
        lists->addWidget(lvWords, 1);
        lists->addWidget(lvPhonemes, 2);
        v->addLayout(lists, 1);
        auto* form = new QFormLayout;
        edAdvWord = edit(tsAdvanced, QStringLiteral("edAdvWord"));
        edAdvPronunciation = edit(tsAdvanced, QStringLiteral("edAdvPronunciation"));
        imgWarning = new QLabel(tsAdvanced);
        imgWarning->setObjectName(QStringLiteral("imgWarning"));
        imgWarning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(20, 20));
        imgWarning->setToolTip(QStringLiteral("The pronunciation holds a symbol that is not in the phoneme list"));
        imgWarning->hide();
        auto* pron = new QHBoxLayout;
        pron->addWidget(edAdvPronunciation, 1);
        pron->addWidget(imgWarning);
        cbAdvVoice = new QComboBox(tsAdvanced);
        cbAdvVoice->setObjectName(QStringLiteral("cbAdvVoice"));
        form->addRow(QStringLiteral("Word:"), edAdvWord);
        form->addRow(QStringLiteral("Pronunciation:"), pron);
        form->addRow(QStringLiteral("Voice:"), cbAdvVoice);
        v->addLayout(form);
        auto* buttons = new QHBoxLayout;
        btnAdvNew = button(tsAdvanced, QStringLiteral("btnAdvNew"), QStringLiteral("New"));
        btnAdvApply = button(tsAdvanced, QStringLiteral("btnAdvApply"), QStringLiteral("Apply"));
        btnAdvDelete = button(tsAdvanced, QStringLiteral("btnAdvDelete"), QStringLiteral("Delete"));
        btnAdvTest = button(tsAdvanced, QStringLiteral("btnAdvTest"), QStringLiteral("Test"));
        btnAdvDone = button(tsAdvanced, QStringLiteral("btnAdvDone"), QStringLiteral("Done"));
        for (QPushButton* b : {btnAdvNew, btnAdvApply, btnAdvDelete, btnAdvTest, btnAdvDone})
            buttons->addWidget(b);
        v->addLayout(buttons);
    }

    PageControl->addTab(tsBasic, QStringLiteral("Basic Editting"));
    PageControl->addTab(tsAdvanced, QStringLiteral("Advanced Editting"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    resize(560, 460);
    // Tab goes to the tabs first, then through the page down to its Done button.
    KeyboardAccess::OrderTabbedPart(PageControl);

    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);

    connect(btnNew, &QPushButton::clicked, this, &TLexEditForm::btnNewClick);
    connect(btnApply, &QPushButton::clicked, this, &TLexEditForm::btnApplyClick);
    connect(btnDelete, &QPushButton::clicked, this, &TLexEditForm::btnDeleteClick);
    connect(btnTest, &QPushButton::clicked, this, &TLexEditForm::btnTestClick);
    connect(btnDone, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAdvNew, &QPushButton::clicked, this, &TLexEditForm::btnAdvNewClick);
    connect(btnAdvApply, &QPushButton::clicked, this, &TLexEditForm::btnAdvApplyClick);
    connect(btnAdvDelete, &QPushButton::clicked, this, &TLexEditForm::btnAdvDeleteClick);
    connect(btnAdvTest, &QPushButton::clicked, this, &TLexEditForm::btnAdvTestClick);
    connect(btnAdvDone, &QPushButton::clicked, this, &QDialog::accept);
    connect(edWord, &QLineEdit::editingFinished, this, &TLexEditForm::edWordExit);
    connect(edAdvWord, &QLineEdit::editingFinished, this, &TLexEditForm::edAdvWordExit);
    connect(lvBasic, &QTreeWidget::itemSelectionChanged, this, &TLexEditForm::basicSelectionChanged);
    connect(lvWords, &QTreeWidget::itemSelectionChanged, this, &TLexEditForm::advancedSelectionChanged);
    connect(lvWords, &QTreeWidget::itemClicked, this, [this] { advancedSelectionChanged(); });
    connect(lvPhonemes, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { lvPhonemesDblClick(item); });
    connect(PageControl, &QTabWidget::currentChanged, this, [this](int index) {
        if (PageControl->widget(index) == tsBasic)
            showBasicPage();
        else if (PageControl->widget(index) == tsAdvanced)
            showAdvancedPage();
    });
    edPronunciation->installEventFilter(this);
    edAdvPronunciation->installEventFilter(this);
}

TLexEditForm::~TLexEditForm()
{
    // The editor's manager goes before the buttons it enables.
    testSpeech.reset();
}

void TLexEditForm::Execute(TBaseTTS* main, QWidget* parent)
{
    TLexEditForm window(main, parent);
    Windows().Exec(&window);
}

TLookupTable* TLexEditForm::translations() const
{
    return mainSpeech && mainSpeech->Preprocessor ? &mainSpeech->Preprocessor->Translations : nullptr;
}

// ---------------------------------------------------------------- opening and closing

void TLexEditForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (shownOnce)
        return;
    shownOnce = true;
    if (mainSpeech) {
        try {
            testSpeech = CreatePrivateSpeechManager(*mainSpeech);
            // Test, New, Apply, Delete and Done of both pages work only while it is idle.
            testSpeech->RegisterControl(ckSpeak, [this](bool enabled) {
                speechIdle = enabled;
                updateButtons();
            });
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("TLexEditForm FormShow Exception: ") + e.message());
            Dialogs().ShowError(e.message());
        }
    }
    RestoreWindowPosition(this, PlacementName);
    sapi5Mode = mainSpeech && mainSpeech->HasEngineApi(QStringLiteral("Sapi5"));
    if (!sapi5Mode) {
        PageControl->removeTab(PageControl->indexOf(tsAdvanced));
        tsAdvanced->hide();
        PageControl->tabBar()->hide();
    }
    PageControl->setCurrentWidget(tsBasic);
    showBasicPage();
    // The offscreen and some window systems never activate a window: the first activation's
    // work is queued as well, and runs once whichever comes first.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

bool TLexEditForm::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && shownOnce)
        FormActivate();
    return QDialog::event(e);
}

void TLexEditForm::FormActivate()
{
    if (activated)
        return;
    activated = true;
    try {
        if (sapi5Mode) {
            fillWordList();
            phonemes.LoadFromFile(TPhonemeTable::DefaultFileName());
            lvPhonemes->clear();
            for (const TPhonemeRow& row : phonemes.Rows)
                new QTreeWidgetItem(lvPhonemes, {row.Symbol, row.Example});
            lvPhonemes->resizeColumnToContents(0);
            QStringList names;
            int selected = 0;
            mainSpeech->FillVoiceList(names, selected, UsEnglish, QStringLiteral("Sapi5"));
            cbAdvVoice->clear();
            cbAdvVoice->addItems(names);
            cbAdvVoice->setCurrentIndex(names.isEmpty() ? -1 : selected);
        }
        if (mainSpeech) {
            QStringList names;
            int selected = 0;
            mainSpeech->FillVoiceList(names, selected);
            cbBasicVoice->clear();
            cbBasicVoice->addItems(names);
            cbBasicVoice->setCurrentIndex(names.isEmpty() ? -1 : selected);
        }
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("TLexEditForm FormActivate Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
}

void TLexEditForm::done(int result)
{
    SaveWindowPosition(this, PlacementName);
    if (testSpeech) {
        if (testSpeech->IsBusy())
            testSpeech->Stop();
        testSpeech.reset();
    }
    QDialog::done(result);
}

bool TLexEditForm::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyRelease && (watched == edPronunciation || watched == edAdvPronunciation))
        AutoTest();
    return QDialog::eventFilter(watched, e);
}

void TLexEditForm::updateButtons()
{
    const bool basicSingle = lvBasic->selectedItems().size() <= 1;
    const bool advSingle = lvWords->selectedItems().size() <= 1;
    for (QPushButton* b : {btnNew, btnApply, btnTest})
        b->setEnabled(speechIdle && basicSingle);
    for (QPushButton* b : {btnAdvNew, btnAdvApply, btnAdvTest})
        b->setEnabled(speechIdle && advSingle);
    for (QPushButton* b : {btnDelete, btnDone, btnAdvDelete, btnAdvDone})
        b->setEnabled(speechIdle);
}

// ---------------------------------------------------------------- lists

QTreeWidgetItem* TLexEditForm::findCaption(QTreeWidget* l, const QString& caption)
{
    for (int i = 0; i < l->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = l->topLevelItem(i);
        if (item->text(0).compare(caption, Qt::CaseInsensitive) == 0)
            return item;
    }
    return nullptr;
}

QList<QTreeWidgetItem*> TLexEditForm::selectedInOrder(QTreeWidget* l)
{
    QList<QTreeWidgetItem*> out;
    for (int i = 0; i < l->topLevelItemCount(); ++i)
        if (l->topLevelItem(i)->isSelected())
            out << l->topLevelItem(i);
    return out;
}

void TLexEditForm::selectRow(QTreeWidget* l, const QString& word)
{
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < l->topLevelItemCount() && !item; ++i)
        if (l->topLevelItem(i)->text(0) == word)
            item = l->topLevelItem(i);
    if (!item)
        item = findCaption(l, word);
    if (!item)
        return;
    l->clearSelection();
    l->setCurrentItem(item);
    item->setSelected(true);
    l->scrollToItem(item);
}

void TLexEditForm::fillBasicList()
{
    basicRefreshing = true;
    lvBasic->clear();
    if (TLookupTable* table = translations()) {
        for (const TLookupRecord& r : table->Records)
            new QTreeWidgetItem(lvBasic, {r.Key, r.Pronunciation, r.CaseSensitive ? QStringLiteral("Yes")
                                                                                  : QStringLiteral(" ")});
    }
    lvBasic->sortByColumn(0, Qt::AscendingOrder);
    basicRefreshing = false;
    updateButtons();
}

void TLexEditForm::fillWordList()
{
    advancedRefreshing = true;
    lvWords->clear();
    try {
        TSpLexicon lexicon;
        QStringList seen;
        for (const TSpLexiconEntry& e : lexicon.GetWords()) {
            if (e.LangId != UsEnglish || seen.contains(e.Word, Qt::CaseInsensitive))
                continue;
            seen << e.Word;
            new QTreeWidgetItem(lvWords, {e.Word});
        }
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Lexicon word list: ") + e.message());
        Dialogs().ShowError(e.message());
    }
    lvWords->sortByColumn(0, Qt::AscendingOrder);
    advancedRefreshing = false;
    updateButtons();
}

// ---------------------------------------------------------------- basic page

void TLexEditForm::showBasicPage()
{
    fillBasicList();
    edWord->clear();
    edPronunciation->clear();
    chkCaseSensitive->setChecked(false);
    edWord->setFocus();
    makeDefault(btnNew);
}

void TLexEditForm::basicSelectionChanged()
{
    if (basicRefreshing)
        return;
    const QList<QTreeWidgetItem*> selected = lvBasic->selectedItems();
    if (selected.size() == 1) {
        QTreeWidgetItem* item = selected.first();
        edWord->setText(item->text(0));
        edPronunciation->setText(item->text(1));
        chkCaseSensitive->setChecked(item->text(2) == QLatin1String("Yes"));
        makeDefault(btnNew);
    }
    updateButtons();
}

void TLexEditForm::edWordExit()
{
    const QString word = edWord->text().trimmed();
    if (word.isEmpty())
        return;
    if (QTreeWidgetItem* item = findCaption(lvBasic, word)) {
        lvBasic->clearSelection();
        lvBasic->setCurrentItem(item);
        item->setSelected(true);
        edPronunciation->setText(item->text(1));
        chkCaseSensitive->setChecked(item->text(2) == QLatin1String("Yes"));
    } else {
        lvBasic->clearSelection();
        edPronunciation->clear();
        chkCaseSensitive->setChecked(false);
    }
    makeDefault(btnApply);
}

bool TLexEditForm::validateBasic()
{
    const QString word = edWord->text();
    const QString pronunciation = edPronunciation->text();
    if (word.trimmed().isEmpty()) {
        Dialogs().ShowMessage(EnterWordFirst);
        edWord->setFocus();
        return false;
    }
    if (!IsValidTranslationText(pronunciation)) {
        Dialogs().ShowMessage(QStringLiteral("The Pronunciation string '") + pronunciation
                              + QStringLiteral("' contains invalid characters.\n\r")
                              + QStringLiteral("Only alpha numeric characters and spaces are allowed"));
        edWord->setFocus();
        return false;
    }
    if (pronunciation.trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Enter a pronunciation for the word '") + word + QStringLiteral("'"));
        edPronunciation->setFocus();
        return false;
    }
    return true;
}

void TLexEditForm::btnNewClick()
{
    lvBasic->clearSelection();
    edWord->clear();
    edPronunciation->clear();
    chkCaseSensitive->setChecked(false);
    edWord->setFocus();
}

void TLexEditForm::btnApplyClick()
{
    if (!validateBasic())
        return;
    TLookupTable* table = translations();
    if (!table)
        return;
    const QString word = edWord->text().trimmed();
    try {
        try {
            table->Delete(word);
        } catch (const ELookupTblException&) {
            // A new word: nothing to replace.
        }
        table->Add(word, edPronunciation->text().trimmed(), 0, chkCaseSensitive->isChecked());
        table->SaveToFile();
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Apply Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
    fillBasicList();
    selectRow(lvBasic, word);
    makeDefault(btnNew);
}

void TLexEditForm::btnDeleteClick()
{
    const QString word = edWord->text();
    if (word.trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Enter the word you want deleted from your custom pronunciation list"));
        edWord->setFocus();
        return;
    }
    const QList<QTreeWidgetItem*> selected = selectedInOrder(lvBasic);
    const QString target = selected.size() == 1 ? QStringLiteral("word '") + word + QStringLiteral("'")
                                                : QStringLiteral("selected words");
    if (Dialogs().Ask(QStringLiteral("Delete the ") + target + QStringLiteral(" from your custom pronunciations ?"),
                      TDialogButtons::OkCancel)
        != TDialogAnswer::Ok)
        return;
    TLookupTable* table = translations();
    QTreeWidgetItem* row = findCaption(lvBasic, word.trimmed());
    if (!row) {
        Dialogs().ShowMessage(word + QStringLiteral(" is not defined in your custom pronunciation list"));
    } else if (table) {
        try {
            if (selected.size() > 1) {
                for (QTreeWidgetItem* item : selected)
                    table->Delete(item->text(0));
                table->SaveToFile();
                fillBasicList();
            } else {
                table->Delete(word);
                table->SaveToFile();
                basicRefreshing = true;
                delete row;
                basicRefreshing = false;
            }
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Delete Exception: ") + e.message());
            Dialogs().ShowError(e.message());
            if (selected.size() > 1)
                fillBasicList();
        }
    }
    edWord->clear();
    edPronunciation->clear();
    edWord->setFocus();
    makeDefault(btnNew);
    updateButtons();
}

void TLexEditForm::btnTestClick()
{
    if (!validateBasic() || !testSpeech)
        return;
    try {
        testSpeech->Speak(cbBasicVoice->currentText(), edPronunciation->text());
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
}

// ---------------------------------------------------------------- advanced page

QString TLexEditForm::GetPronunciation(const QString& word)
{
    try {
        const QStringList found = TSpLexicon().GetPronunciations(word, UsEnglish);
        return found.isEmpty() ? QString() : found.first();
    } catch (const EVorlixError& e) {
        const QString text = QStringLiteral("GetPronunciation Failed: ") + e.message();
        UtilsClass::Log(text);
        Dialogs().ShowError(text);
        return {};
    }
}

void TLexEditForm::RemovePronunciation(const QString& word)
{
    const QString current = GetPronunciation(word);
    if (current.isEmpty())
        throw EWordNotFound(QStringLiteral("Word is not defined in user defined pronunciations"));
    try {
        TSpLexicon().RemovePronunciation(word, UsEnglish, 0, current);
    } catch (const EVorlixError& e) {
        const QString text = QStringLiteral("RemovePronunciation Failed: ") + e.message();
        UtilsClass::Log(text);
        Dialogs().ShowError(text);
    }
}

void TLexEditForm::AddPronunciation(const QString& word, const QString& pronunciation)
{
    try {
        TSpLexicon().AddPronunciation(word, UsEnglish, 0, pronunciation);
    } catch (const EVorlixError& e) {
        const QString text = QStringLiteral("AddPronunciation Failed: ") + e.message();
        UtilsClass::Log(text);
        Dialogs().ShowError(text);
    }
}

void TLexEditForm::TestPronunciation(const QString& pronunciation)
{
    if (!testSpeech)
        return;
    try {
        testSpeech->Speak(cbAdvVoice->currentText(),
                          QStringLiteral("<PRON SYM = \"") + pronunciation + QStringLiteral("\"/>"));
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
}

void TLexEditForm::AutoTest()
{
    const QString text = edAdvPronunciation->text();
    if (text.trimmed().isEmpty()) {
        imgWarning->hide();
        return;
    }
    imgWarning->setVisible(!phonemes.AllValid(text));
}

void TLexEditForm::showAdvancedPage()
{
    fillWordList();
    edAdvWord->clear();
    edAdvPronunciation->clear();
    edAdvWord->setFocus();
    makeDefault(btnAdvNew);
}

void TLexEditForm::advancedSelectionChanged()
{
    if (advancedRefreshing)
        return;
    const QList<QTreeWidgetItem*> selected = lvWords->selectedItems();
    if (selected.size() == 1) {
        const QString word = selected.first()->text(0);
        edAdvWord->setText(word);
        edAdvPronunciation->setText(GetPronunciation(word));
        makeDefault(btnAdvNew);
    }
    updateButtons();
}

void TLexEditForm::edAdvWordExit()
{
    const QString word = edAdvWord->text().trimmed();
    if (word.isEmpty())
        return;
    if (QTreeWidgetItem* item = findCaption(lvWords, word)) {
        advancedRefreshing = true;
        lvWords->clearSelection();
        lvWords->setCurrentItem(item);
        item->setSelected(true);
        advancedRefreshing = false;
        edAdvPronunciation->setText(GetPronunciation(item->text(0)));
    } else {
        lvWords->clearSelection();
        edAdvPronunciation->clear();
    }
    AutoTest();
    makeDefault(btnAdvApply);
}

bool TLexEditForm::validateAdvanced()
{
    const QString word = edAdvWord->text().trimmed();
    const QString pronunciation = edAdvPronunciation->text();
    if (word.isEmpty()) {
        Dialogs().ShowMessage(EnterWordFirst);
        edAdvWord->setFocus();
        return false;
    }
    if (!IsValidLexiconWord(word)) {
        Dialogs().ShowMessage(QStringLiteral("The word '") + word + QStringLiteral("' contains invalid characters.\n\r")
                              + QStringLiteral("Spaces and non-alphanumeric characters are not allowed"));
        edAdvWord->setFocus();
        return false;
    }
    if (pronunciation.trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Enter a pronunciation for the word '") + word + QStringLiteral("'"));
        edAdvPronunciation->setFocus();
        return false;
    }
    const QString bad = phonemes.FirstInvalidToken(pronunciation);
    if (!bad.isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Invalid phoneme - ") + bad);
        edAdvPronunciation->setFocus();
        edAdvPronunciation->setSelection(int(pronunciation.indexOf(bad)), int(bad.size()));
        return false;
    }
    return true;
}

void TLexEditForm::btnAdvNewClick()
{
    imgWarning->hide();
    lvWords->clearSelection();
    edAdvWord->clear();
    edAdvPronunciation->clear();
    edAdvWord->setFocus();
}

void TLexEditForm::btnAdvApplyClick()
{
    if (!validateAdvanced())
        return;
    const QString word = edAdvWord->text().trimmed();
    const QString pronunciation = NormalisePronunciation(edAdvPronunciation->text());
    edAdvPronunciation->setText(pronunciation);
    try {
        RemovePronunciation(word);
    } catch (const EWordNotFound&) {
        // A new word is simply added.
    }
    AddPronunciation(word, pronunciation);
    TBusyGuard::ProcessEvents();
    fillWordList();
    selectRow(lvWords, word);
    makeDefault(btnAdvNew);
}

void TLexEditForm::btnAdvDeleteClick()
{
    const QString word = edAdvWord->text().trimmed();
    if (word.isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Enter the word you want deleted from your custom pronunciation list"));
        edAdvWord->setFocus();
        return;
    }
    QStringList targets;
    for (QTreeWidgetItem* item : selectedInOrder(lvWords))
        targets << item->text(0);
    const QString target = targets.size() == 1 ? QStringLiteral("word '") + word + QStringLiteral("'")
                                               : QStringLiteral("selected words");
    if (Dialogs().Ask(QStringLiteral("Delete the ") + target + QStringLiteral(" from your custom pronunciations ?"),
                      TDialogButtons::OkCancel)
        != TDialogAnswer::Ok)
        return;
    // Nothing selected: the word typed is the one meant.
    if (targets.isEmpty())
        targets << word;
    for (const QString& w : targets) {
        try {
            RemovePronunciation(w);
        } catch (const EWordNotFound&) {
            Dialogs().ShowMessage(w + QStringLiteral(" is not defined in your custom pronunciation list"));
            break;
        }
    }
    imgWarning->hide();
    edAdvWord->clear();
    edAdvPronunciation->clear();
    edAdvWord->setFocus();
    fillWordList();
    makeDefault(btnAdvNew);
}

void TLexEditForm::btnAdvTestClick()
{
    if (!validateAdvanced())
        return;
    const QString pronunciation = NormalisePronunciation(edAdvPronunciation->text());
    edAdvPronunciation->setText(pronunciation);
    TestPronunciation(pronunciation);
}

void TLexEditForm::lvPhonemesDblClick(QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (edAdvWord->text().trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("First enter a new word, or select a word you have already defined"));
        return;
    }
    const QString text = edAdvPronunciation->text();
    // The selection collapses to the caret.
    const int caret = edAdvPronunciation->cursorPosition();
    edAdvPronunciation->deselect();
    const TSymbolInsertion r = InsertPhonemeSymbol(text, caret, item->text(0));
    if (!r.Inserted) {
        Dialogs().ShowMessage(
            QStringLiteral("Invalid phoneme symbol insertion.  Position cursor between phoneme strings"));
        return;
    }
    edAdvPronunciation->setText(r.Text);
    edAdvPronunciation->setCursorPosition(r.Caret);
    edAdvPronunciation->setFocus();
    AutoTest();
}
