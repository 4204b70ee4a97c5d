#include "gui/nntp/PostReplyUnit.h"

#include "gui/app/WindowPlacement.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/PostArticle.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "gui/app/WindowService.h"
#include "core/RegistryUnit.h"
#include "core/TBaseRegistryClassUnit.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"

#include <QShowEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

namespace {
const QString PlacementName = QStringLiteral("TPostReply");
} // namespace

TPostReply::TPostReply(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PostReply"));
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);

    auto* header = new QHBoxLayout();
    header->addWidget(new QLabel(QStringLiteral("To Newsgroup:"), this));
    lblNewsgroup = new QLabel(this);
    lblNewsgroup->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(lblNewsgroup, 1);
    layout->addLayout(header);

    auto* subject = new QHBoxLayout();
    auto* subjectLabel = new QLabel(QStringLiteral("Subject:"), this);
    edSubject = new QLineEdit(this);
    subjectLabel->setBuddy(edSubject);
    subject->addWidget(subjectLabel);
    subject->addWidget(edSubject, 1);
    layout->addLayout(subject);

    auto* bodyLabel = new QLabel(QStringLiteral("&Message:"), this);
    layout->addWidget(bodyLabel);
    memBody = new QPlainTextEdit(this);
    bodyLabel->setBuddy(memBody);
    memBody->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memBody->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    memBody->setTabChangesFocus(true);
    layout->addWidget(memBody, 1);

    // The stretch on both sides keeps "Send" centred under the body at every size.
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    btnSend = new QPushButton(QStringLiteral("Send"), this);
    btnSend->setAutoDefault(false);
    buttons->addWidget(btnSend);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setAutoDefault(false);
    buttons->addWidget(btnCancel);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(btnSend, &QPushButton::clicked, this, [this] { btnSendClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &TPostReply::reject);
    RestoreWindowPlacement(this, PlacementName);
    SetMode(false);
}

TPostReply::~TPostReply()
{
    ReleaseProcessor();
}

void TPostReply::SetMode(bool reply)
{
    ReplyFlag = reply;
    if (reply) {
        setWindowTitle(QStringLiteral("Reply to Message"));
        edSubject->setReadOnly(true);
    } else {
        setWindowTitle(QStringLiteral("Post New Message"));
        memBody->clear();
        edSubject->setReadOnly(false);
    }
}

void TPostReply::SetBody(const QStringList& lines)
{
    initialBody = lines.join(QLatin1Char('\n'));
    memBody->setPlainText(initialBody);
    QTextCursor c = memBody->textCursor();
    c.movePosition(QTextCursor::Start);
    memBody->setTextCursor(c);
}

QStringList TPostReply::BodyLines() const
{
    QStringList lines;
    const QTextDocument* doc = memBody->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() <= 1) {
            lines << text;
            continue;
        }
        // A wrapped paragraph is sent as the lines the box shows; the blank at each break
        // belongs to no line.
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            QString piece = text.mid(line.textStart(), line.textLength());
            if (i + 1 < layout->lineCount()) {
                while (piece.endsWith(QLatin1Char(' ')))
                    piece.chop(1);
            }
            lines << piece;
        }
    }
    return lines;
}

void TPostReply::FormShow()
{
    lblNewsgroup->setText(NewsGroup);
    if (ReplyFlag) {
        edSubject->setText(TPostArticle::ReplySubject(Subject));
        memBody->setFocus();
    } else {
        edSubject->setFocus();
    }
}

void TPostReply::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TPostReply::reject()
{
    // Escape, Cancel or closing the window: what the user wrote is not thrown away unasked.
    const QString body = memBody->toPlainText();
    const bool written = (!ReplyFlag && !edSubject->text().trimmed().isEmpty())
        || (body != initialBody && !body.trimmed().isEmpty());
    if (written && Dialogs().Ask(QStringLiteral("Discard the message you have written?"), TDialogButtons::YesNo)
                       != TDialogAnswer::Yes)
        return;
    QDialog::reject();
}

void TPostReply::done(int result)
{
    if (!FPlacementSaved) {
        SaveWindowPlacement(this, PlacementName);
        FPlacementSaved = true;
    }
    // A post still on its way is given up with the window: nothing more reaches it.
    if (FProcessor && !FProcessor->Idle()) {
        FProcessor->OnRequestDone = nullptr;
        FProcessor->Abort();
    }
    QDialog::done(result);
}

void TPostReply::ReleaseProcessor()
{
    if (!FProcessor)
        return;
    FProcessor->OnRequestDone = nullptr;
    // It may be the processor whose event is running right now: let it unwind first.
    FProcessor->deleteLater();
    FProcessor = nullptr;
}

void TPostReply::btnSendClick()
{
    TTrace t(QStringLiteral("btnSendClick"));
    // One post at a time: a second click while the first is on its way would post twice.
    if (FProcessor && !FProcessor->Idle())
        return;
    const QString refusal = TPostArticle::SendRefusal(EmailAddress, memBody->toPlainText());
    if (!refusal.isEmpty()) {
        Dialogs().ShowMessage(refusal);
        return;
    }

    ReleaseProcessor();
    FPlacementSaved = false;
    FProcessor = new TNntpProcessor(this);
    FProcessor->OnRequestDone = [this](QObject* s, int code, const QString& message) {
        PostDoneHandler(s, code, message);
    };
    FProcessor->Host = ServerHost;
    FProcessor->UserName = ServerUserName;
    FProcessor->Password = ServerPassword;

    btnSend->setEnabled(false);
    TPostArticle article;
    article.NewsGroup = NewsGroup;
    article.UserName = UserName;
    article.EmailAddress = EmailAddress;
    article.ReplyToAddress = ReplyToAddress;
    article.References = ReplyFlag ? References : QString();
    article.Subject = edSubject->text();
    article.Body = BodyLines();
    article.PostThrough(*FProcessor);
}

void TPostReply::PostDoneHandler(QObject* Sender, int Code, const QString& Message)
{
    btnSend->setEnabled(true);
    if (Code == 0) {
        accept();
        return;
    }
    UtilsClass::Log(QStringLiteral("TPostReply.PostDoneHandler: ") + Message);
    Dialogs().ShowError(Message);
}

TPostReply* TPostReply::Prepare(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry)
{
    const QString email = store ? store->GetValue(QStringLiteral("EmailAddress")).toString() : QString();
    if (email.trimmed().isEmpty()) {
        Dialogs().ShowMessage(TPostArticle::NoEmailText());
        return nullptr;
    }
    TConfigClass* entry = selectedEntry;
    if (!entry) {
        Dialogs().ShowMessage(QStringLiteral("Select a newsgroup"));
        return nullptr;
    }
    if (entry->Kind != ckNewsGroup) {
        Dialogs().ShowMessage(QStringLiteral("Select a newsgroup for server ") + entry->Caption());
        return nullptr;
    }
    TConfigClass* server = TNewsStore::ServerOf(entry);
    auto* window = new TPostReply(parent);
    if (server) {
        window->ServerHost = server->Name;
        window->ServerUserName = server->UserName;
        window->ServerPassword = server->Password;
    }
    window->UserName = store->GetValue(QStringLiteral("UserName")).toString();
    window->NewsGroup = entry->Name;
    window->EmailAddress = email;
    window->ReplyToAddress = store->GetValue(QStringLiteral("ReplyToAddress")).toString();
    return window;
}

void TPostReply::PostNewMessage(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry)
{
    TTrace t(QStringLiteral("PostNewMessage"));
    std::unique_ptr<TPostReply> window(Prepare(parent, store, selectedEntry));
    if (!window)
        return;
    window->SetMode(false);
    Windows().Exec(window.get());
}

void TPostReply::ReplyToMessage(QWidget* parent, TBaseRegistryClass* store, TConfigClass* selectedEntry,
                                const QList<TArticleClass*>& selectedArticles, const QStringList& viewerLines)
{
    TTrace t(QStringLiteral("ReplyToMessage"));
    const QString email = store ? store->GetValue(QStringLiteral("EmailAddress")).toString() : QString();
    // The newsgroup checks come first, with their own messages.
    if (!email.trimmed().isEmpty() && selectedEntry && selectedEntry->Kind == ckNewsGroup
        && (selectedArticles.size() != 1 || !selectedArticles.first())) {
        Dialogs().ShowMessage(QStringLiteral("Select 1 message to reply to"));
        return;
    }
    std::unique_ptr<TPostReply> window(Prepare(parent, store, selectedEntry));
    if (!window)
        return;
    const TArticleClass* article = selectedArticles.first();
    window->SetMode(true);
    window->Subject = article->Subject.trimmed();
    window->References = TPostArticle::ReplyReferences(*article);
    window->SetBody(TPostArticle::QuoteBody(viewerLines, article->From));
    Windows().Exec(window.get());
}
