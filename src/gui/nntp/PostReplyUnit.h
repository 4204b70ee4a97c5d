#pragma once
// The post window: a new article to the selected newsgroup, or a reply to the one selected
// article. It checks the input and posts the article (TPostArticle) through a request
// processor of its own; it closes when the server has accepted the article and stays open
// with the server's answer otherwise, so the user can send again.
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TArticleClass;
class TBaseRegistryClass;
class TConfigClass;
class TNntpProcessor;

class TPostReply : public QDialog {
    Q_OBJECT
public:
    explicit TPostReply(QWidget* parent = nullptr);
    ~TPostReply() override;

    // Values the main window hands over before showing the window.
    bool ReplyFlag = false;
    QString ServerHost;
    QString ServerUserName;
    QString ServerPassword;
    QString UserName;        // the user's display name ("UserName" setting)
    QString NewsGroup;
    QString Subject;         // of the article replied to, trimmed
    QString References;      // References text of the reply
    QString EmailAddress;
    QString ReplyToAddress;

    // New-article or reply mode: caption, body and whether the subject can be edited.
    void SetMode(bool reply);
    // Replaces the body (the quoted text of a reply) and puts the caret at its start.
    void SetBody(const QStringList& lines);

    // The body as the editing box shows it: one entry per displayed line, long lines broken
    // where the box wraps them.
    QStringList BodyLines() const;

    // Window events and buttons.
    void FormShow();
    void btnSendClick();
    void PostDoneHandler(QObject* Sender, int Code, const QString& Message);

    // The window's processor while it exists (created on Send).
    TNntpProcessor* Processor() const { return FProcessor; }
    QLineEdit* SubjectEdit() const { return edSubject; }
    QPlainTextEdit* BodyEdit() const { return memBody; }
    QPushButton* SendButton() const { return btnSend; }
    QPushButton* CancelButton() const { return btnCancel; }
    // Escape, Cancel and closing ask before a written message is discarded.
    void reject() override;
    QLabel* NewsgroupLabel() const { return lblNewsgroup; }

    // The main window's commands. Each checks, in order, the "EmailAddress" setting, the
    // selected server-tree node and that it is a newsgroup (Reply: also exactly one selected
    // article), then shows the window modally and releases it when it closes.
    static void PostNewMessage(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry);
    static void ReplyToMessage(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry,
                               const QList<TArticleClass*>& selectedArticles, const QStringList& viewerLines);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    static TPostReply* Prepare(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry);
    void ReleaseProcessor();

    QLabel* lblNewsgroup = nullptr;
    QLineEdit* edSubject = nullptr;
    QPlainTextEdit* memBody = nullptr;
    QPushButton* btnSend = nullptr;
    QPushButton* btnCancel = nullptr;
    QString initialBody; // the body the window was given (a reply's quotation)
    TNntpProcessor* FProcessor = nullptr;
    bool FPlacementSaved = false;
};
