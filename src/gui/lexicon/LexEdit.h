#pragma once
// "Pronunciation Editor": the user translations of the main preprocessor (a word and what to
// say instead, for every voice) on the basic page, and the user lexicon of the eSpeak NG layer
// (a word and its phoneme symbols) on the advanced page, which is there only when a voice of the
// "Sapi5" interface is. Both pages test through the editor's own speech manager, so testing
// never disturbs the main one.
#include "core/VorlixException.h"
#include "speech/PhonemeTable.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TBaseTTS;
class TLookupTable;

VORLIX_DECLARE_ERROR(EWordNotFound, EVorlixError)

class TLexEditForm : public QDialog {
    Q_OBJECT
public:
    explicit TLexEditForm(TBaseTTS* mainSpeech, QWidget* parent = nullptr);
    ~TLexEditForm() override;

    // Opens the editor from the menu, modally through the window service.
    static void Execute(TBaseTTS* mainSpeech, QWidget* parent);

    // --- the lexicon operations (language 1033) ---
    // The first pronunciation of the word in the user lexicon; empty when none (or on failure,
    // which is logged and shown).
    QString GetPronunciation(const QString& word);
    // Raises EWordNotFound when the word has no pronunciation; a failing lexicon call is
    // logged and shown.
    void RemovePronunciation(const QString& word);
    void AddPronunciation(const QString& word, const QString& pronunciation);
    void TestPronunciation(const QString& pronunciation);
    // Shows the warning image while the advanced pronunciation holds a token that is no symbol.
    void AutoTest();

    // --- basic page ---
    void btnNewClick();
    void btnApplyClick();
    void btnDeleteClick();
    void btnTestClick();
    void edWordExit();
    // --- advanced page ---
    void btnAdvNewClick();
    void btnAdvApplyClick();
    void btnAdvDeleteClick();
    void btnAdvTestClick();
    void edAdvWordExit();
    void lvPhonemesDblClick(QTreeWidgetItem* item);
    // The first activation's work: word list, phoneme table, voice boxes. Runs once.
    void FormActivate();

    bool Sapi5Mode() const { return sapi5Mode; }
    TBaseTTS* TestSpeech() const { return testSpeech.get(); }
    const TPhonemeTable& Phonemes() const { return phonemes; }

    QTabWidget* PageControl;
    QWidget* tsBasic;
    QWidget* tsAdvanced;
    // Basic page.
    QTreeWidget* lvBasic;
    QLineEdit* edWord;
    QLineEdit* edPronunciation;
    QCheckBox* chkCaseSensitive;
    QComboBox* cbBasicVoice;
    QPushButton* btnNew;
    QPushButton* btnApply;
    QPushButton* btnDelete;
    QPushButton* btnTest;
    QPushButton* btnDone;
    // Advanced page.
    QTreeWidget* lvWords;
    QLineEdit* edAdvWord;
    QLineEdit* edAdvPronunciation;
    QLabel* imgWarning;
    QTreeWidget* lvPhonemes;
    QComboBox* cbAdvVoice;
    QPushButton* btnAdvNew;
    QPushButton* btnAdvApply;
    QPushButton* btnAdvDelete;
    QPushButton* btnAdvTest;
    QPushButton* btnAdvDone;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showBasicPage();
    void showAdvancedPage();
    void fillBasicList();
    void fillWordList();
    void basicSelectionChanged();
    void advancedSelectionChanged();
    void updateButtons();
    bool validateBasic();
    bool validateAdvanced();
    void selectRow(QTreeWidget* list, const QString& word);
    static QTreeWidgetItem* findCaption(QTreeWidget* list, const QString& caption);
    static QList<QTreeWidgetItem*> selectedInOrder(QTreeWidget* list);
    TLookupTable* translations() const;

    TBaseTTS* mainSpeech;
    std::unique_ptr<TBaseTTS> testSpeech;
    TPhonemeTable phonemes;
    bool sapi5Mode = false;
    bool shownOnce = false;
    bool activated = false;
    bool basicRefreshing = false;
    bool advancedRefreshing = false;
    bool speechIdle = true;
};
